// The high-score table on disk: where it lives, its text format, and the
// locked, atomic update that keeps what every copy of the game has written.
// No SDL calls; nothing allocated beyond fixed and stack buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game.h"

// The first line of the file: the format's name and version.
constexpr char score_header[] = "quorvane-scores 1";
// Bytes of a file that are read; anything past them is a problem in the file.
constexpr size_t score_file_max = 64 * 1024;
// Room for the text of a full table: the header, then ten lines of at most
// 10 + 1 + 12 + 1 + 64 + 1 bytes, and a terminator.
constexpr size_t score_text_max = 1024;
// The latest time an entry may carry: 9999-12-31 23:59:59 UTC.
constexpr int64_t score_time_max = 253402300799;
// How long a save waits for another copy of the game to finish its own.
constexpr int score_lock_wait_ms = 2000;
// Room for a path from scores_path and for a reason from load or save.
constexpr size_t score_path_max = 4096;
constexpr size_t score_reason_max = 512;

// $XDG_DATA_HOME/quorvane/scores, XDG_DATA_HOME defaulting to $HOME/.local/share
// (an empty or relative XDG_DATA_HOME is ignored). False, with an empty path,
// when neither gives an absolute place or the path does not fit.
bool scores_path(char* path, size_t size);

// The login name of the user running the game, cleaned: from the password
// database, else $USER, else "player".
void player_name(char* name, size_t size);

// Printable characters of valid UTF-8 only (no control characters, tabs, line
// ends or invalid bytes), at most score_name_max characters, spaces at either
// end trimmed; "player" when nothing is left.
void clean_name(const char* raw, char* name, size_t size);

// The index an entry of this score and time would take in the ranked table, or
// -1 when it would not make it. Higher score first; of equal scores the earlier
// stays ahead, and of equal times the entry already in the table.
int score_rank(const ScoreTable& table, int32_t score, int64_t time);

// The index of an entry of the same score, time and name in the table, or -1.
int find_entry(const ScoreTable& table, const ScoreEntry& entry);

// Inserts at the entry's rank, dropping the last of a full table; the index or -1.
int insert_score(ScoreTable& table, const ScoreEntry& entry);

// The best ten of both tables, ranked, an entry in both (same score, time and
// name) counted once; of equal ones, those of `into` stay ahead.
void merge_scores(ScoreTable& into, const ScoreTable& from);

// The file's text for the table, zero-terminated; its length, or 0 when it does
// not fit in `size`. Entries that could not be read back are left out.
size_t format_scores(const ScoreTable& table, char* text, size_t size);

// Reads a file's text (at most score_file_max bytes of it, at most ten entries)
// into a ranked table of valid entries; the number of problems found, 0 for a
// clean file. CRLF line ends are taken as LF; a last line without its line end
// is not read (it may have been cut short) and counts as a problem.
int parse_scores(const char* text, size_t size, ScoreTable& table);

// At start-up: the table at `path`; no file gives an empty table. A damaged file
// is kept aside as "<path>.damaged-YYYYMMDD-HHMMSS" and the entries it held are
// written in its place. False with a reason when the file cannot be read or
// repaired (the entries read are still in `table`); true with an empty reason,
// or with a note of the repair.
bool load_scores(const char* path, ScoreTable& table, char* reason, size_t reason_size);

// At game over: merges `entry` and `table` into the file at `path` under a lock,
// so that other copies' entries are kept, and writes it atomically. On success
// `table` holds the table as written and `index` the entry's place in it (-1
// when it did not make it); on failure false with a reason, `table` unchanged.
bool save_score(const char* path, const ScoreEntry& entry, ScoreTable& table, int& index, char* reason,
                size_t reason_size);
