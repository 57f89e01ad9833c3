#include "world/score_table.h"

#include <cstdio>
#include <ctime>

#include "platform/names.h"
#include "platform/scores.h"
#include "ranking.h"

// Once the table cannot be read or written, the player is told once, the
// screen says so, and the session goes on with the table in memory.
static void stop_saving(const char* reason)
{
    if (game.scores_saved == 0) return;
    game.scores_saved = 0;
    if (game.scores_path[0] == '\0') {
        fprintf(stderr, "Warning: high scores are not being saved: %s\n", reason);
    } else {
        fprintf(stderr, "Warning: high scores are not being saved to %s: %s\n", game.scores_path.data(),
                reason);
    }
}

// A damaged file is kept aside and repaired as it is read: the player hears of it.
static void load_into(ScoreTable& table)
{
    char reason[score_reason_max] = "";
    if (!load_scores(game.scores_path.data(), table, reason, sizeof reason)) {
        stop_saving(reason);
    } else if (reason[0] != '\0') {
        fprintf(stderr, "Warning: high scores: %s\n", reason);
    }
}

void load_score_table()
{
    game.high_scores = ScoreTable{};
    game.session_scores = ScoreTable{};
    game.scores_saved = 1;
    if (!scores_path(game.scores_path.data(), game.scores_path.size())) {
        stop_saving("neither XDG_DATA_HOME nor HOME names a folder to keep them in");
        return;
    }
    load_into(game.high_scores);
}

// Another copy of the game may have added entries since: the file is the table.
void reload_score_table()
{
    if (game.scores_saved == 0) return;
    ScoreTable read{};
    load_into(read);
    if (game.scores_saved != 0) game.high_scores = read;
}

// Called once a game has ended, after its last frame's hits have scored.
void record_final_score()
{
    if (game.score <= 0) return;
    ScoreEntry entry{};
    entry.score = game.score;
    entry.time = static_cast<int64_t>(time(nullptr));
    // The name in force at the game's end.
    player_name(game.player_name.data(), game.player_name.size());
    entry.name = game.player_name;
    if (game.scores_saved != 0) {
        ScoreTable written = game.high_scores;
        int index = -1;
        char reason[score_reason_max] = "";
        if (save_score(game.scores_path.data(), entry, written, index, reason, sizeof reason)) {
            game.high_scores = written;
            if (index >= 0) insert_score(game.session_scores, entry);
            return;
        }
        stop_saving(reason);
    }
    if (insert_score(game.high_scores, entry) >= 0) insert_score(game.session_scores, entry);
}

bool made_this_session(const ScoreEntry& entry)
{
    return find_entry(game.session_scores, entry) >= 0;
}
