// Where the high-score table's folder is kept, which differs by platform: on a
// desktop it is on disk (platform/desktop/store.cpp); in a browser tab it is in
// the tab's own memory, kept in the browser's IndexedDB (platform/web/store.cpp,
// with the three store_ hooks in web/library_storage.js).
#pragma once

#include <cstddef>

// Each gives 0, or -1 with the reason. In a browser, flock and fsync do
// nothing: the folder is brought in before it is read and, under the lock,
// which every tab of the site respects, read again and stored back before the
// lock is let go (when `keep` is 1). C names: the browser's code calls them.
extern "C" int store_refresh(const char* dir, char* reason, size_t size);
extern "C" int store_lock(const char* dir, int wait_ms, char* reason, size_t size);
extern "C" int store_unlock(const char* dir, int keep, char* reason, size_t size);

// rename within the folder, failing with EEXIST rather than replace a file of
// that name.
int move_unless_taken(int dir_fd, const char* from, const char* to);
