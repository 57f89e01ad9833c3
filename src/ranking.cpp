#include "ranking.h"

#include <algorithm>

int table_count(const ScoreTable& table)
{
    return std::clamp(table.count, 0, score_table_size);
}

// Same score, time and name: the same game's entry, wherever it was read from.
static bool same_entry(const ScoreEntry& a, const ScoreEntry& b)
{
    const size_t length = name_length(a);
    return a.score == b.score && a.time == b.time && length == name_length(b) &&
           memcmp(a.name.data(), b.name.data(), length) == 0;
}

bool same_table(const ScoreTable& a, const ScoreTable& b)
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
