#include "platform/score_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/score_text.h"
#include "platform/store.h"

bool say(Reason reason, const char* format, ...)
{
    if (reason.text == nullptr || reason.size == 0) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(reason.text, reason.size, format, args);
    va_end(args);
    return false;
}

const char* place_separator(const Place& place)
{
    return strcmp(place.dir, "/") == 0 ? "" : "/";
}

// "<step> <dir>/<name>: <error text>"; false.
static bool fail(Reason reason, const char* step, const Place& place, const char* name, int error)
{
    return say(reason, "%s %s%s%s: %s", step, place.dir, place_separator(place), name, strerror(error));
}

bool split_path(const char* path, Place& place, Reason reason)
{
    const char* slash = strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    size_t dir_length = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
    const size_t base_length = strlen(base);
    // Room for the longest name made from it: "<base>.damaged-YYYYMMDD-HHMMSS-NN".
    if (base_length == 0 || base_length + 27 > NAME_MAX || dir_length + 1 >= sizeof place.dir) {
        return say(reason, "no usable file name in the path of the high-score table: %s", path);
    }
    if (slash == nullptr) {
        strcpy(place.dir, ".");
    } else {
        if (dir_length == 0) dir_length = 1;  // "/scores": the root
        memcpy(place.dir, path, dir_length);
        place.dir[dir_length] = '\0';
    }
    memcpy(place.base, base, base_length + 1);
    snprintf(place.lock, sizeof place.lock, "%s.lock", base);
    snprintf(place.temp, sizeof place.temp, "%s.tmp", base);
    return true;
}

// Syncs the folder holding the first `length` bytes of `path`, so that a new
// entry in it survives a crash. Best effort: the entry is there either way.
static void sync_parent(const char* path, size_t length)
{
    char parent[score_path_max];
    size_t cut = length;
    while (cut > 0 && path[cut - 1] != '/') --cut;
    if (cut == 0) {
        strcpy(parent, ".");
    } else {
        if (cut > 1) --cut;  // drop the slash, but keep the root's
        memcpy(parent, path, cut);
        parent[cut] = '\0';
    }
    const int fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool make_dirs(const char* dir, Reason reason)
{
    char partial[score_path_max];
    const size_t length = strlen(dir);
    memcpy(partial, dir, length + 1);
    for (size_t i = 1; i <= length; ++i) {
        if (i < length && partial[i] != '/') continue;
        const char kept = partial[i];
        partial[i] = '\0';
        if (mkdir(partial, 0700) == 0) {
            sync_parent(partial, i);
        } else if (errno != EEXIST) {
            return say(reason, "creating the directory %s: %s", partial, strerror(errno));
        }
        partial[i] = kept;
    }
    return true;
}

int take_lock(int dir_fd, const Place& place, Reason reason)
{
    if (store_lock(place.dir, score_lock_wait_ms, reason.text, reason.size) != 0) return -1;
    const int fd = openat(dir_fd, place.lock, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fail(reason, "creating the lock file", place, place.lock, errno);
        store_unlock(place.dir, 0, nullptr, 0);
        return -1;
    }
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            close(fd);
            store_unlock(place.dir, 0, nullptr, 0);
            fail(reason, "locking", place, place.lock, error);
            return -1;
        }
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t waited_ms = static_cast<int64_t>(now.tv_sec - start.tv_sec) * 1000 +
                                  (now.tv_nsec - start.tv_nsec) / 1000000;
        if (waited_ms >= score_lock_wait_ms) {
            close(fd);
            store_unlock(place.dir, 0, nullptr, 0);
            say(reason, "locking %s%s%s: another copy of the game held it for %d ms", place.dir,
                place_separator(place), place.lock, score_lock_wait_ms);
            return -1;
        }
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

bool release_lock(int fd, const Place& place, Reason reason)
{
    close(fd);
    return store_unlock(place.dir, 1, reason.text, reason.size) == 0;
}

ReadResult read_table(int dir_fd, const Place& place, ScoreTable& table, int& problems, Reason reason)
{
    table = ScoreTable{};
    problems = 0;
    // Not blocking: a FIFO in its place must not hang the game.
    const int fd = openat(dir_fd, place.base, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return read_missing;
        fail(reason, "opening", place, place.base, errno);
        return read_failed;
    }
    struct stat status;
    int error = 0;
    if (fstat(fd, &status) != 0) {
        error = errno;
    } else if (S_ISDIR(status.st_mode)) {
        error = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
        error = EINVAL;  // a device or a FIFO
    }
    char text[score_file_max + 1];
    size_t used = 0;
    while (error == 0 && used < sizeof text) {
        const ssize_t got = read(fd, text + used, sizeof text - used);
        if (got > 0) {
            used += static_cast<size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    close(fd);
    if (error != 0) {
        fail(reason, "reading", place, place.base, error);
        return read_failed;
    }
    problems = parse_scores(text, used, table);
    return read_done;
}

// What keep_aside did, so that it can be undone when the repair fails.
enum AsideResult { aside_failed, aside_linked, aside_moved };

// Keeps the damaged file whole under a new name that says so, never over an
// earlier one: a second link to it or, where links cannot be made, the file
// itself moved.
static AsideResult keep_aside(int dir_fd, const Place& place, char* aside, size_t aside_size, Reason reason)
{
    const time_t now = time(nullptr);
    tm utc;
    gmtime_r(&now, &utc);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    int error = EEXIST;
    for (int n = 1; n < 100 && error == EEXIST; ++n) {
        const int length = n == 1 ? snprintf(aside, aside_size, "%s.damaged-%s", place.base, stamp)
                                  : snprintf(aside, aside_size, "%s.damaged-%s-%d", place.base, stamp, n);
        if (length < 0 || static_cast<size_t>(length) >= aside_size) {
            error = ENAMETOOLONG;
            break;
        }
        if (linkat(dir_fd, place.base, dir_fd, aside, 0) == 0) return aside_linked;
        error = errno;
        if (error == EPERM || error == EOPNOTSUPP || error == EMLINK) {
            if (move_unless_taken(dir_fd, place.base, aside) == 0) return aside_moved;
            error = errno;
        }
    }
    fail(reason, "keeping aside the damaged", place, place.base, error);
    return aside_failed;
}

static bool write_all(int fd, const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t done = write(fd, text, length);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = EIO;
            return false;
        }
        text += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

enum WriteResult { write_failed, write_unsynced, write_done };

// Writes the table to a temporary file beside it, syncs it, renames it over the
// table and syncs the folder: a crash at any point leaves the old table or the
// new one, whole. No temporary file is left on failure. write_unsynced: the new
// table is in place, but the folder could not be synced.
static WriteResult write_table(int dir_fd, const Place& place, const ScoreTable& table, Reason reason)
{
    char text[score_text_max];
    const size_t length = format_scores(table, text, sizeof text);
    // The lock is held: a temporary file here was left by a copy that was killed.
    unlinkat(dir_fd, place.temp, 0);
    const int fd = openat(dir_fd, place.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fail(reason, "creating", place, place.temp, errno);
        return write_failed;
    }
    const char* step = nullptr;
    int error = 0;
    if (!write_all(fd, text, length)) {
        step = "writing";
        error = errno;
    } else if (fsync(fd) != 0) {
        step = "syncing";
        error = errno;
    }
    if (close(fd) != 0 && step == nullptr) {
        step = "closing";
        error = errno;
    }
    if (step == nullptr && renameat(dir_fd, place.temp, dir_fd, place.base) != 0) {
        step = "renaming into place";
        error = errno;
    }
    if (step != nullptr) {
        unlinkat(dir_fd, place.temp, 0);
        fail(reason, step, place, place.temp, error);
        return write_failed;
    }
    if (fsync(dir_fd) != 0) {
        fail(reason, "syncing the directory after writing", place, place.base, errno);
        return write_unsynced;
    }
    return write_done;
}

// The copy kept aside is dropped again when the new table does not get in place.
bool replace_table(int dir_fd, const Place& place, const ScoreTable& table, bool damaged, char* aside,
                   size_t aside_size, Reason reason)
{
    AsideResult kept = aside_failed;
    if (damaged) {
        kept = keep_aside(dir_fd, place, aside, aside_size, reason);
        if (kept == aside_failed) return false;
    }
    const WriteResult written = write_table(dir_fd, place, table, reason);
    if (written == write_failed) {
        if (kept == aside_linked) unlinkat(dir_fd, aside, 0);
        if (kept == aside_moved) renameat(dir_fd, aside, dir_fd, place.base);
    }
    return written == write_done;
}
