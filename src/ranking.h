// The order of the high-score table: a rule of the game, kept apart from where
// the table is stored so that both the game and the store can follow it.
// Pure: no files, no library calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "game.h"

// The entries in use: a count out of range is read as the nearest one in range.
int table_count(const ScoreTable& table);

// Bytes of the entry's name, which a full buffer may hold without its terminator.
inline size_t name_length(const ScoreEntry& entry)
{
    return strnlen(entry.name.data(), entry.name.size());
}

// The same entries in the same order, each of the same score, time and name.
bool same_table(const ScoreTable& a, const ScoreTable& b);

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
