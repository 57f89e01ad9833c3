// The high-score table on disk: where it lives, and the locked, atomic update
// that keeps what every copy of the game has written. No SDL calls; nothing
// allocated beyond fixed and stack buffers.
#pragma once

#include <cstddef>

#include "game.h"

// How long a save waits for another copy of the game to finish its own.
constexpr int score_lock_wait_ms = 2000;
// Room for a path from scores_path and for a reason from load or save.
constexpr size_t score_path_max = 4096;
constexpr size_t score_reason_max = 512;

// $XDG_DATA_HOME/quorvane/scores, XDG_DATA_HOME defaulting to $HOME/.local/share
// (an empty or relative XDG_DATA_HOME is ignored). False, with an empty path,
// when neither gives an absolute place or the path does not fit.
bool scores_path(char* path, size_t size);

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
