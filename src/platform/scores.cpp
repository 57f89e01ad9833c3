#include "platform/scores.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/names.h"
#include "platform/score_files.h"
#include "platform/score_text.h"
#include "platform/store.h"
#include "ranking.h"

// Joins base (without its trailing slashes) and tail; false when it does not fit.
static bool join_path(char* path, size_t size, const char* base, const char* tail)
{
    size_t length = strlen(base);
    while (length > 1 && base[length - 1] == '/') --length;
    if (length == 1 && base[0] == '/') length = 0;  // the root: tail brings its own slash
    const size_t tail_length = strlen(tail);
    if (length + tail_length + 1 > size) return false;
    memcpy(path, base, length);
    memcpy(path + length, tail, tail_length + 1);
    return true;
}

bool scores_path(char* path, size_t size)
{
    if (size == 0) return false;
    path[0] = '\0';
    const char* data = getenv("XDG_DATA_HOME");
    bool done = false;
    if (data != nullptr && data[0] == '/') {
        done = join_path(path, size, data, "/quorvane/scores");
    } else {
        // A relative HOME would put the table wherever the game was started.
        const char* home = getenv("HOME");
        if (home != nullptr && home[0] == '/')
            done = join_path(path, size, home, "/.local/share/quorvane/scores");
    }
    if (!done) path[0] = '\0';
    return done;
}

// Loading, once the folder is open.
static bool load_in(int dir_fd, const Place& place, ScoreTable& table, Reason reason)
{
    int problems = 0;
    const ReadResult result = read_table(dir_fd, place, table, problems, reason);
    if (result != read_done || problems == 0) return result != read_failed;
    // Repaired under the lock: another copy may be writing it, or have repaired it.
    const int lock_fd = take_lock(dir_fd, place, reason);
    if (lock_fd < 0) return false;
    ScoreTable fresh;
    bool ok = read_table(dir_fd, place, fresh, problems, reason) != read_failed;
    if (ok) {
        table = fresh;
        if (problems > 0) {
            char aside[NAME_MAX + 1];
            ok = replace_table(dir_fd, place, fresh, true, aside, sizeof aside, reason);
            if (ok) {
                say(reason, "%d problem%s in %s%s%s: kept it aside as %s, wrote the %d entr%s it held",
                    problems, problems == 1 ? "" : "s", place.dir, place_separator(place), place.base, aside,
                    fresh.count, fresh.count == 1 ? "y" : "ies");
            }
        }
    }
    if (ok) {
        ok = release_lock(lock_fd, place, reason);
    } else {
        release_lock(lock_fd, place, Reason{});
    }
    return ok;
}

// Starts a load or a save: the reason emptied, and false with one when there is no path.
static bool begin(const char* path, Reason reason)
{
    if (reason.text != nullptr && reason.size > 0) reason.text[0] = '\0';
    if (path != nullptr && path[0] != '\0') return true;
    return say(
        reason,
        "no place for the high-score table: neither XDG_DATA_HOME nor HOME names an absolute directory");
}

bool load_scores(const char* path, ScoreTable& table, char* reason_text, size_t reason_size)
{
    const Reason reason{reason_text, reason_size};
    table = ScoreTable{};
    if (!begin(path, reason)) return false;
    Place place;
    if (!split_path(path, place, reason)) return false;
    if (store_refresh(place.dir, reason.text, reason.size) != 0) return false;
    const int dir_fd = open(place.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        if (errno == ENOENT) return true;  // nothing saved yet
        return say(reason, "opening the directory %s: %s", place.dir, strerror(errno));
    }
    const bool ok = load_in(dir_fd, place, table, reason);
    close(dir_fd);
    return ok;
}

// Saving, once the folder is open and locked: the file as it is now (other
// copies of the game may have written to it), the caller's table (entries a
// failed save could not write) and the new entry.
static bool save_locked(int dir_fd, const Place& place, const ScoreEntry& entry, ScoreTable& table,
                        int& index, Reason reason)
{
    ScoreTable on_disk;
    int problems = 0;
    if (read_table(dir_fd, place, on_disk, problems, reason) == read_failed) return false;
    ScoreTable merged = on_disk;
    ScoreTable valid{};
    for (int i = 0; i < table_count(table); ++i) {
        if (valid_entry(table.entries[i])) insert_score(valid, table.entries[i]);
    }
    merge_scores(merged, valid);
    if (valid_entry(entry)) {
        ScoreTable added{};
        added.entries[0] = entry;
        added.count = 1;
        merge_scores(merged, added);
    }
    if (problems > 0 || !same_table(merged, on_disk)) {
        char aside[NAME_MAX + 1];
        if (!replace_table(dir_fd, place, merged, problems > 0, aside, sizeof aside, reason)) return false;
    }
    index = valid_entry(entry) ? find_entry(merged, entry) : -1;
    table = merged;
    return true;
}

bool save_score(const char* path, const ScoreEntry& entry, ScoreTable& table, int& index, char* reason_text,
                size_t reason_size)
{
    const Reason reason{reason_text, reason_size};
    index = -1;
    if (!begin(path, reason)) return false;
    Place place;
    if (!split_path(path, place, reason)) return false;
    // The entry as the file can hold it: a clean name, a time in range.
    ScoreEntry clean = entry;
    clean_span(entry.name.data(), name_length(entry), clean.name.data(), clean.name.size());
    clean.time = std::clamp<int64_t>(entry.time, 0, score_time_max);
    if (!make_dirs(place.dir, reason)) return false;
    const int dir_fd = open(place.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return say(reason, "opening the directory %s: %s", place.dir, strerror(errno));
    bool ok = false;
    const int lock_fd = take_lock(dir_fd, place, reason);
    if (lock_fd >= 0) {
        int new_index = -1;
        ScoreTable saved = table;
        ok = save_locked(dir_fd, place, clean, saved, new_index, reason);
        if (ok) {
            ok = release_lock(lock_fd, place, reason);
        } else {
            release_lock(lock_fd, place, Reason{});
        }
        if (ok) {
            table = saved;
            index = new_index;
        }
    }
    close(dir_fd);
    return ok;
}
