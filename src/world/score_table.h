// The high-score table of the whole game: read at start-up, and a finished
// game that ranks added at once, so that nothing later can lose it.
#pragma once

#include "game.h"

void load_score_table();
void reload_score_table();
void record_final_score();
bool made_this_session(const ScoreEntry& entry);
