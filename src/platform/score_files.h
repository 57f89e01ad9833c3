// The steps of the high-score store on disk, for platform/scores.cpp: the
// folder and the names beside the table, the lock, reading the file, and
// replacing it atomically with a damaged one kept aside.
#pragma once

#include <climits>
#include <cstddef>

#include "game.h"
#include "platform/scores.h"

// Where a failed step says why: the caller's buffer, or nowhere ({}).
struct Reason {
    char* text;
    size_t size;
};

// Writes the reason (when there is room for one); false, for returning.
__attribute__((format(printf, 2, 3))) bool say(Reason reason, const char* format, ...);

// The folder of the table and the names of the files beside it.
struct Place {
    char dir[score_path_max];
    char base[NAME_MAX + 1];
    char lock[NAME_MAX + 1];
    char temp[NAME_MAX + 1];
};

// What goes between the folder and a name in a message: "/", or nothing at the root.
const char* place_separator(const Place& place);

// The folder and the names beside the table for its path; false when its file
// name is empty or too long to make the names from.
bool split_path(const char* path, Place& place, Reason reason);

// Makes the folder and any missing parents, each 0700.
bool make_dirs(const char* dir, Reason reason);

// Takes the lock beside the table, waiting a bounded time for another copy of
// the game to finish; its descriptor (closing it unlocks), or -1.
int take_lock(int dir_fd, const Place& place, Reason reason);

// Lets go of take_lock's lock; what was written under it is stored first.
// False, with the reason, when it could not be: the write did not last.
bool release_lock(int fd, const Place& place, Reason reason);

enum ReadResult { read_missing, read_done, read_failed };

// Reads and parses the table file: at most score_file_max + 1 bytes, so that a
// longer file is seen to be one without costing more.
ReadResult read_table(int dir_fd, const Place& place, ScoreTable& table, int& problems, Reason reason);

// Writes `table` in place of the file atomically, a damaged file first kept
// aside under a name that says so (in `aside`). When the new table does not
// get in place, the damaged file is still where it was.
bool replace_table(int dir_fd, const Place& place, const ScoreTable& table, bool damaged, char* aside,
                   size_t aside_size, Reason reason);
