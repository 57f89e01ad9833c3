// The high-score table's file as text: a header line, then one line per entry,
// "score<TAB>time<TAB>name". Pure: no files, no library calls.
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

// An entry the file can hold and read back: a score above 0, a time in range
// and a clean name.
bool valid_entry(const ScoreEntry& entry);

// The file's text for the table, zero-terminated; its length, or 0 when it does
// not fit in `size`. Entries that could not be read back are left out.
size_t format_scores(const ScoreTable& table, char* text, size_t size);

// Reads a file's text (at most score_file_max bytes of it, at most ten entries)
// into a ranked table of valid entries; the number of problems found, 0 for a
// clean file. CRLF line ends are taken as LF; a last line without its line end
// is not read (it may have been cut short) and counts as a problem.
int parse_scores(const char* text, size_t size, ScoreTable& table);
