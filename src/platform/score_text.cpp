#include "platform/score_text.h"

#include <charconv>
#include <climits>
#include <cstring>

#include "platform/names.h"
#include "ranking.h"

bool valid_entry(const ScoreEntry& entry)
{
    return entry.score > 0 && entry.time >= 0 && entry.time <= score_time_max &&
           name_is_clean(entry.name.data(), name_length(entry));
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
    if (!name_is_clean(name, name_bytes)) return false;  // a third tab is no printable character
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
