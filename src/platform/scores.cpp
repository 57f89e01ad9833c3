#include "platform/scores.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "game.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

// ---- The browser's storage ---------------------------------------------

#ifdef __EMSCRIPTEN__
// A browser tab keeps its files in its own memory, and flock and fsync do
// nothing there. The table's folder is kept in the browser's IndexedDB: it is
// brought in before it is read, and under the lock, which every tab of the
// site respects, read again and stored back before the lock is let go. Each
// gives 0, or -1 with the reason (the browser's code, in web/).
extern "C" int store_refresh(const char* dir, char* reason, size_t size);
extern "C" int store_lock(const char* dir, int wait_ms, char* reason, size_t size);
extern "C" int store_unlock(const char* dir, int keep, char* reason, size_t size);
extern "C" void page_player_name(char* name, size_t size);
#else
// On a disk the folder is the store, and flock and fsync do the rest.
static int store_refresh(const char*, char*, size_t)
{
    return 0;
}
static int store_lock(const char*, int, char*, size_t)
{
    return 0;
}
static int store_unlock(const char*, int, char*, size_t)
{
    return 0;
}
#endif

// ---- Names -------------------------------------------------------------

constexpr uint32_t bad_code = 0xFFFFFFFF;

// Decodes one UTF-8 character of at most `n` bytes; its length (at least 1).
// Overlong forms, surrogates, values past U+10FFFF and cut sequences give
// bad_code for the first byte alone, so decoding resumes at the next one.
static size_t decode_utf8(const unsigned char* s, size_t n, uint32_t& code)
{
    const unsigned char b = s[0];
    code = bad_code;
    if (b < 0x80) {
        code = b;
        return 1;
    }
    size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 1;
    }
    if (n < len || s[1] < low || s[1] > high) return 1;
    uint32_t value = b & (0x7F >> len);
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 1;
        value = (value << 6) | (s[i] & 0x3F);
    }
    code = value;
    return len;
}

// Control characters, line and paragraph separators, the invisible marks that
// reorder text or hide in it, and noncharacters are not printable.
static bool printable(uint32_t c)
{
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return false;
    if (c == 0x2028 || c == 0x2029 || c == 0xFEFF) return false;
    if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return false;
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) return false;
    return c <= 0x10FFFF;
}

static bool space(uint32_t c)
{
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// clean_name over `length` bytes, which need not be zero-terminated.
static void clean_span(const char* raw, size_t length, char* name, size_t size)
{
    if (size == 0) return;
    const auto* s = reinterpret_cast<const unsigned char*>(raw);
    size_t used = 0, kept = 0;  // bytes written, bytes up to the last non-space
    int characters = 0;
    size_t at = 0;
    while (at < length && characters < score_name_max) {
        uint32_t code;
        const size_t len = decode_utf8(s + at, length - at, code);
        if (code != bad_code && printable(code) && !(characters == 0 && space(code))) {
            if (used + len >= size) break;  // no room for it and the terminator
            memcpy(name + used, s + at, len);
            used += len;
            ++characters;
            if (!space(code)) kept = used;
        }
        at += len;
    }
    if (kept == 0) {
        constexpr char fallback[] = "player";
        kept = std::min(sizeof fallback - 1, size - 1);
        memcpy(name, fallback, kept);
    }
    name[kept] = '\0';
}

void clean_name(const char* raw, char* name, size_t size)
{
    clean_span(raw != nullptr ? raw : "", raw != nullptr ? strlen(raw) : 0, name, size);
}

#ifdef __EMSCRIPTEN__
// In a browser the login name is a stand-in ("web_user"): the player's own is
// the one in the page's name box.
void player_name(char* name, size_t size)
{
    char typed[score_name_max * 16];
    page_player_name(typed, sizeof typed);
    clean_name(typed, name, size);
}

// For the page, to show the name box's text as the table will hold it.
extern "C" EMSCRIPTEN_KEEPALIVE void clean_player_name(const char* raw, char* name, size_t size)
{
    clean_name(raw, name, size);
}
#else
void player_name(char* name, size_t size)
{
    const char* raw = nullptr;
    char buffer[16384];
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        raw = found->pw_name;
    } else {
        raw = getenv("USER");
    }
    clean_name(raw != nullptr && raw[0] != '\0' ? raw : "player", name, size);
}
#endif

// A name as clean_name would leave it: what the file may hold.
static bool clean_span_is(const char* field, size_t length)
{
    if (length == 0 || length > score_name_max * 4) return false;
    if (memchr(field, '\0', length) != nullptr) return false;
    char cleaned[score_name_max * 4 + 1];
    clean_span(field, length, cleaned, sizeof cleaned);
    return strlen(cleaned) == length && memcmp(cleaned, field, length) == 0;
}

static size_t name_length(const ScoreEntry& entry)
{
    return strnlen(entry.name.data(), entry.name.size());
}

// ---- The path ----------------------------------------------------------

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

// ---- Ranking -----------------------------------------------------------

static int table_count(const ScoreTable& table)
{
    return std::clamp(table.count, 0, score_table_size);
}

static bool same_entry(const ScoreEntry& a, const ScoreEntry& b)
{
    const size_t length = name_length(a);
    return a.score == b.score && a.time == b.time && length == name_length(b) &&
           memcmp(a.name.data(), b.name.data(), length) == 0;
}

static bool same_table(const ScoreTable& a, const ScoreTable& b)
{
    if (table_count(a) != table_count(b)) return false;
    for (int i = 0; i < table_count(a); ++i) {
        if (!same_entry(a.entries[i], b.entries[i])) return false;
    }
    return true;
}

int find_entry(const ScoreTable& table, const ScoreEntry& entry)
{
    for (int i = 0; i < table_count(table); ++i) {
        if (same_entry(table.entries[i], entry)) return i;
    }
    return -1;
}

int score_rank(const ScoreTable& table, int32_t score, int64_t time)
{
    if (score <= 0) return -1;
    const int count = table_count(table);
    int rank = 0;
    while (rank < count) {
        const ScoreEntry& e = table.entries[rank];
        if (e.score < score || (e.score == score && e.time > time)) break;
        ++rank;
    }
    return rank < score_table_size ? rank : -1;
}

int insert_score(ScoreTable& table, const ScoreEntry& entry)
{
    const int rank = score_rank(table, entry.score, entry.time);
    if (rank < 0) return -1;
    const int count = table_count(table);
    for (int i = std::min(count, score_table_size - 1); i > rank; --i)
        table.entries[i] = table.entries[i - 1];
    table.entries[rank] = entry;
    table.count = std::min(count + 1, score_table_size);
    return rank;
}

void merge_scores(ScoreTable& into, const ScoreTable& from)
{
    // Copies, so that a table merged with itself, or an unranked one, still works.
    const ScoreTable first = into;
    const ScoreTable second = from;
    ScoreTable merged{};
    for (int i = 0; i < table_count(first); ++i) insert_score(merged, first.entries[i]);
    for (int i = 0; i < table_count(second); ++i) {
        if (find_entry(first, second.entries[i]) < 0) insert_score(merged, second.entries[i]);
    }
    into = merged;
}

// ---- The text ----------------------------------------------------------

static bool valid_entry(const ScoreEntry& entry)
{
    return entry.score > 0 && entry.time >= 0 && entry.time <= score_time_max &&
           clean_span_is(entry.name.data(), name_length(entry));
}

static bool append(char* text, size_t size, size_t& used, const char* bytes, size_t length)
{
    if (length >= size - used) return false;  // keep room for the terminator
    memcpy(text + used, bytes, length);
    used += length;
    return true;
}

static bool append_number(char* text, size_t size, size_t& used, int64_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return append(text, size, used, digits, static_cast<size_t>(result.ptr - digits));
}

size_t format_scores(const ScoreTable& table, char* text, size_t size)
{
    if (size == 0) return 0;
    size_t used = 0;
    bool fits = append(text, size, used, score_header, sizeof score_header - 1) &&
                append(text, size, used, "\n", 1);
    for (int i = 0; fits && i < table_count(table); ++i) {
        const ScoreEntry& e = table.entries[i];
        if (!valid_entry(e)) continue;
        fits = append_number(text, size, used, e.score) && append(text, size, used, "\t", 1) &&
               append_number(text, size, used, e.time) && append(text, size, used, "\t", 1) &&
               append(text, size, used, e.name.data(), name_length(e)) && append(text, size, used, "\n", 1);
    }
    if (!fits) used = 0;
    text[used] = '\0';
    return used;
}

// A decimal of digits only (no sign, no spaces) within [low, high].
static bool parse_decimal(const char* first, const char* last, int64_t low, int64_t high, int64_t& value)
{
    if (first == last) return false;
    for (const char* c = first; c != last; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last && value >= low && value <= high;
}

// One line without its end: score, time and name, separated by tabs.
static bool parse_line(const char* line, size_t length, ScoreEntry& entry)
{
    const char* end = line + length;
    const char* tab1 = static_cast<const char*>(memchr(line, '\t', length));
    if (tab1 == nullptr) return false;
    const char* tab2 = static_cast<const char*>(memchr(tab1 + 1, '\t', static_cast<size_t>(end - tab1 - 1)));
    if (tab2 == nullptr) return false;
    int64_t score, time;
    if (!parse_decimal(line, tab1, 1, INT32_MAX, score)) return false;
    if (!parse_decimal(tab1 + 1, tab2, 0, score_time_max, time)) return false;
    const char* name = tab2 + 1;
    const size_t name_bytes = static_cast<size_t>(end - name);
    if (!clean_span_is(name, name_bytes)) return false;  // a third tab is no printable character
    entry = ScoreEntry{};
    entry.score = static_cast<int32_t>(score);
    entry.time = time;
    memcpy(entry.name.data(), name, name_bytes);
    entry.name[name_bytes] = '\0';
    return true;
}

int parse_scores(const char* text, size_t size, ScoreTable& table)
{
    table = ScoreTable{};
    int problems = 0;
    if (text == nullptr) size = 0;
    if (size > score_file_max) {
        size = score_file_max;
        ++problems;
    }
    size_t at = 0;
    bool header_seen = false;
    while (at < size) {
        const char* line = text + at;
        const char* line_end = static_cast<const char*>(memchr(line, '\n', size - at));
        size_t length = line_end != nullptr ? static_cast<size_t>(line_end - line) : size - at;
        at += length + (line_end != nullptr ? 1 : 0);
        if (line_end != nullptr && length > 0 && line[length - 1] == '\r')
            --length;  // CRLF, as from an editor
        // A line without its end may have been cut short: "5000" read as "50".
        const bool whole = line_end != nullptr;
        ScoreEntry entry;
        if (!header_seen) {
            header_seen = true;
            if (whole && length == sizeof score_header - 1 && memcmp(line, score_header, length) == 0)
                continue;
            ++problems;  // a wrong header, or none: the first line may still be an entry
            if (whole && parse_line(line, length, entry)) insert_score(table, entry);
            continue;
        }
        if (table.count == score_table_size) {
            ++problems;  // past ten entries: further lines are not read
            break;
        }
        if (whole && parse_line(line, length, entry)) {
            insert_score(table, entry);
        } else {
            ++problems;
        }
    }
    if (!header_seen) ++problems;  // an empty file
    return problems;
}

// ---- Files -------------------------------------------------------------

// Writes the reason (when there is room for one); false, for returning.
__attribute__((format(printf, 3, 4))) static bool say(char* reason, size_t size, const char* format, ...)
{
    if (reason == nullptr || size == 0) return false;
    va_list args;
    va_start(args, format);
    vsnprintf(reason, size, format, args);
    va_end(args);
    return false;
}

// The folder of the table and the names of the files beside it.
struct Place {
    char dir[score_path_max];
    char base[NAME_MAX + 1];
    char lock[NAME_MAX + 1];
    char temp[NAME_MAX + 1];
};

// "<step> <dir>/<name>: <error text>"; false.
static bool fail(char* reason, size_t size, const char* step, const Place& place, const char* name, int error)
{
    const char* separator = strcmp(place.dir, "/") == 0 ? "" : "/";
    return say(reason, size, "%s %s%s%s: %s", step, place.dir, separator, name, strerror(error));
}

static bool split_path(const char* path, Place& place, char* reason, size_t reason_size)
{
    const char* slash = strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    size_t dir_length = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
    const size_t base_length = strlen(base);
    // Room for the longest name made from it: "<base>.damaged-YYYYMMDD-HHMMSS-NN".
    if (base_length == 0 || base_length + 27 > NAME_MAX || dir_length + 1 >= sizeof place.dir) {
        return say(reason, reason_size, "no usable file name in the path of the high-score table: %s", path);
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

// Makes the folder and any missing parents, each 0700.
static bool make_dirs(const char* dir, char* reason, size_t reason_size)
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
            return say(reason, reason_size, "creating the directory %s: %s", partial, strerror(errno));
        }
        partial[i] = kept;
    }
    return true;
}

// Takes the lock beside the table, waiting a bounded time for another copy of
// the game to finish; its descriptor (closing it unlocks), or -1.
static int take_lock(int dir_fd, const Place& place, char* reason, size_t reason_size)
{
    if (store_lock(place.dir, score_lock_wait_ms, reason, reason_size) != 0) return -1;
    const int fd = openat(dir_fd, place.lock, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fail(reason, reason_size, "creating the lock file", place, place.lock, errno);
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
            fail(reason, reason_size, "locking", place, place.lock, error);
            return -1;
        }
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t waited_ms = static_cast<int64_t>(now.tv_sec - start.tv_sec) * 1000 +
                                  (now.tv_nsec - start.tv_nsec) / 1000000;
        if (waited_ms >= score_lock_wait_ms) {
            close(fd);
            store_unlock(place.dir, 0, nullptr, 0);
            const char* separator = strcmp(place.dir, "/") == 0 ? "" : "/";
            say(reason, reason_size, "locking %s%s%s: another copy of the game held it for %d ms", place.dir,
                separator, place.lock, score_lock_wait_ms);
            return -1;
        }
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

// Lets go of take_lock's lock; what was written under it is stored first.
// False, with the reason, when it could not be: the write did not last.
static bool release_lock(int fd, const Place& place, char* reason, size_t reason_size)
{
    close(fd);
    return store_unlock(place.dir, 1, reason, reason_size) == 0;
}

enum ReadResult { read_missing, read_done, read_failed };

// Reads and parses the table file: at most score_file_max + 1 bytes, so that a
// longer file is seen to be one without costing more.
static ReadResult read_table(int dir_fd, const Place& place, ScoreTable& table, int& problems, char* reason,
                             size_t reason_size)
{
    table = ScoreTable{};
    problems = 0;
    // Not blocking: a FIFO in its place must not hang the game.
    const int fd = openat(dir_fd, place.base, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return read_missing;
        fail(reason, reason_size, "opening", place, place.base, errno);
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
        fail(reason, reason_size, "reading", place, place.base, error);
        return read_failed;
    }
    problems = parse_scores(text, used, table);
    return read_done;
}

// rename, failing with EEXIST rather than replace a file of that name. The
// browser's C library has no renameat2: there the name is tested first, which
// holds as long as the lock is, and nothing but the game writes in its folder.
static int move_unless_taken(int dir_fd, const char* from, const char* to)
{
#ifdef RENAME_NOREPLACE
    return renameat2(dir_fd, from, dir_fd, to, RENAME_NOREPLACE);
#else
    struct stat status;
    if (fstatat(dir_fd, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(dir_fd, from, dir_fd, to);
#endif
}

// What keep_aside did, so that it can be undone when the repair fails.
enum AsideResult { aside_failed, aside_linked, aside_moved };

// Keeps the damaged file whole under a new name that says so, never over an
// earlier one: a second link to it or, where links cannot be made, the file
// itself moved.
static AsideResult keep_aside(int dir_fd, const Place& place, char* aside, size_t aside_size, char* reason,
                              size_t reason_size)
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
    fail(reason, reason_size, "keeping aside the damaged", place, place.base, error);
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
static WriteResult write_table(int dir_fd, const Place& place, const ScoreTable& table, char* reason,
                               size_t reason_size)
{
    char text[score_text_max];
    const size_t length = format_scores(table, text, sizeof text);
    // The lock is held: a temporary file here was left by a copy that was killed.
    unlinkat(dir_fd, place.temp, 0);
    const int fd = openat(dir_fd, place.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fail(reason, reason_size, "creating", place, place.temp, errno);
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
        fail(reason, reason_size, step, place, place.temp, error);
        return write_failed;
    }
    if (fsync(dir_fd) != 0) {
        fail(reason, reason_size, "syncing the directory after writing", place, place.base, errno);
        return write_unsynced;
    }
    return write_done;
}

// Keeps a damaged file aside, then writes `table` in its place. When the new
// table does not get in place, the damaged file is still where it was, and
// the copy kept aside is dropped again.
static bool replace_table(int dir_fd, const Place& place, const ScoreTable& table, bool damaged, char* aside,
                          size_t aside_size, char* reason, size_t reason_size)
{
    AsideResult kept = aside_failed;
    if (damaged) {
        kept = keep_aside(dir_fd, place, aside, aside_size, reason, reason_size);
        if (kept == aside_failed) return false;
    }
    const WriteResult written = write_table(dir_fd, place, table, reason, reason_size);
    if (written == write_failed) {
        if (kept == aside_linked) unlinkat(dir_fd, aside, 0);
        if (kept == aside_moved) renameat(dir_fd, aside, dir_fd, place.base);
    }
    return written == write_done;
}

// Loading, once the folder is open.
static bool load_in(int dir_fd, const Place& place, ScoreTable& table, char* reason, size_t reason_size)
{
    int problems = 0;
    const ReadResult result = read_table(dir_fd, place, table, problems, reason, reason_size);
    if (result != read_done || problems == 0) return result != read_failed;
    // Repaired under the lock: another copy may be writing it, or have repaired it.
    const int lock_fd = take_lock(dir_fd, place, reason, reason_size);
    if (lock_fd < 0) return false;
    ScoreTable fresh;
    bool ok = read_table(dir_fd, place, fresh, problems, reason, reason_size) != read_failed;
    if (ok) {
        table = fresh;
        if (problems > 0) {
            char aside[NAME_MAX + 1];
            ok = replace_table(dir_fd, place, fresh, true, aside, sizeof aside, reason, reason_size);
            if (ok) {
                const char* separator = strcmp(place.dir, "/") == 0 ? "" : "/";
                say(reason, reason_size,
                    "%d problem%s in %s%s%s: kept it aside as %s, wrote the %d entr%s it held", problems,
                    problems == 1 ? "" : "s", place.dir, separator, place.base, aside, fresh.count,
                    fresh.count == 1 ? "y" : "ies");
            }
        }
    }
    if (ok) {
        ok = release_lock(lock_fd, place, reason, reason_size);
    } else {
        release_lock(lock_fd, place, nullptr, 0);
    }
    return ok;
}

static bool no_place(char* reason, size_t reason_size)
{
    return say(
        reason, reason_size,
        "no place for the high-score table: neither XDG_DATA_HOME nor HOME names an absolute directory");
}

bool load_scores(const char* path, ScoreTable& table, char* reason, size_t reason_size)
{
    table = ScoreTable{};
    if (reason != nullptr && reason_size > 0) reason[0] = '\0';
    if (path == nullptr || path[0] == '\0') return no_place(reason, reason_size);
    Place place;
    if (!split_path(path, place, reason, reason_size)) return false;
    if (store_refresh(place.dir, reason, reason_size) != 0) return false;
    const int dir_fd = open(place.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        if (errno == ENOENT) return true;  // nothing saved yet
        return say(reason, reason_size, "opening the directory %s: %s", place.dir, strerror(errno));
    }
    const bool ok = load_in(dir_fd, place, table, reason, reason_size);
    close(dir_fd);
    return ok;
}

// Saving, once the folder is open and locked: the file as it is now (other
// copies of the game may have written to it), the caller's table (entries a
// failed save could not write) and the new entry.
static bool save_locked(int dir_fd, const Place& place, const ScoreEntry& entry, ScoreTable& table,
                        int& index, char* reason, size_t reason_size)
{
    ScoreTable on_disk;
    int problems = 0;
    if (read_table(dir_fd, place, on_disk, problems, reason, reason_size) == read_failed) return false;
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
        if (!replace_table(dir_fd, place, merged, problems > 0, aside, sizeof aside, reason, reason_size)) {
            return false;
        }
    }
    index = valid_entry(entry) ? find_entry(merged, entry) : -1;
    table = merged;
    return true;
}

bool save_score(const char* path, const ScoreEntry& entry, ScoreTable& table, int& index, char* reason,
                size_t reason_size)
{
    index = -1;
    if (reason != nullptr && reason_size > 0) reason[0] = '\0';
    if (path == nullptr || path[0] == '\0') return no_place(reason, reason_size);
    Place place;
    if (!split_path(path, place, reason, reason_size)) return false;
    // The entry as the file can hold it: a clean name, a time in range.
    ScoreEntry clean = entry;
    clean_span(entry.name.data(), name_length(entry), clean.name.data(), clean.name.size());
    clean.time = std::clamp<int64_t>(entry.time, 0, score_time_max);
    if (!make_dirs(place.dir, reason, reason_size)) return false;
    const int dir_fd = open(place.dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0)
        return say(reason, reason_size, "opening the directory %s: %s", place.dir, strerror(errno));
    bool ok = false;
    const int lock_fd = take_lock(dir_fd, place, reason, reason_size);
    if (lock_fd >= 0) {
        int new_index = -1;
        ScoreTable saved = table;
        ok = save_locked(dir_fd, place, clean, saved, new_index, reason, reason_size);
        if (ok) {
            ok = release_lock(lock_fd, place, reason, reason_size);
        } else {
            release_lock(lock_fd, place, nullptr, 0);
        }
        if (ok) {
            table = saved;
            index = new_index;
        }
    }
    close(dir_fd);
    return ok;
}
