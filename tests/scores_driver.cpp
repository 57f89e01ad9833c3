// The high-score storage driven from the command line, for the process tests:
//
//   scores_driver path                          the table's path, from the environment
//   scores_driver name                          the player's name
//   scores_driver load                          load_scores, as at start-up
//   scores_driver save SCORE TIME NAME [GO]     save_score from an empty table, as at
//                                               game over; with GO, says "ready" and
//                                               waits for the file GO to appear first
//
// The first line says "ok", "ok: NOTE" or "failed: REASON"; a save then says
// "index N"; the table follows, one "score<TAB>time<TAB>name" line per entry.
// Exit status 0 on success, 1 on failure, 2 on bad arguments.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/names.h"
#include "platform/scores.h"

namespace {

void print_table(const ScoreTable& table)
{
    for (int i = 0; i < table.count; ++i) {
        const ScoreEntry& e = table.entries[i];
        printf("%d\t%lld\t%s\n", static_cast<int>(e.score), static_cast<long long>(e.time), e.name.data());
    }
}

int finish(bool ok, const char* reason)
{
    if (!ok) {
        printf("failed: %s\n", reason);
    } else if (reason[0] != '\0') {
        printf("ok: %s\n", reason);
    } else {
        printf("ok\n");
    }
    return ok ? 0 : 1;
}

template <typename T>
bool number(const char* text, T& value)
{
    const char* end = text + strlen(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc() && result.ptr == end;
}

// Polls for the start signal, so that all savers call save_score together.
bool wait_for(const char* go)
{
    printf("ready\n");
    fflush(stdout);
    const timespec pause{0, 1000 * 1000};
    for (int i = 0; i < 60 * 1000; ++i) {
        if (access(go, F_OK) == 0) return true;
        nanosleep(&pause, nullptr);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: scores_driver path | name | load | save SCORE TIME NAME [GO]\n");
        return 2;
    }
    char path[score_path_max];
    const bool placed = scores_path(path, sizeof path);
    char reason[score_reason_max] = "";
    if (strcmp(argv[1], "path") == 0) {
        printf("%s\n", placed ? path : "no place");
        return placed ? 0 : 1;
    }
    if (strcmp(argv[1], "name") == 0) {
        char name[score_name_max * 4 + 1];
        player_name(name, sizeof name);
        printf("%s\n", name);
        return 0;
    }
    if (strcmp(argv[1], "load") == 0) {
        ScoreTable table{};
        const bool ok = load_scores(path, table, reason, sizeof reason);
        const int status = finish(ok, reason);
        print_table(table);
        return status;
    }
    if (strcmp(argv[1], "save") == 0 && (argc == 5 || argc == 6)) {
        ScoreEntry entry{};
        if (!number(argv[2], entry.score) || !number(argv[3], entry.time)) {
            fprintf(stderr, "scores_driver: SCORE and TIME are decimal numbers\n");
            return 2;
        }
        snprintf(entry.name.data(), entry.name.size(), "%s", argv[4]);
        if (argc == 6 && !wait_for(argv[5])) {
            fprintf(stderr, "scores_driver: no start signal\n");
            return 2;
        }
        ScoreTable table{};
        int index = -1;
        const bool ok = save_score(path, entry, table, index, reason, sizeof reason);
        const int status = finish(ok, reason);
        if (ok) printf("index %d\n", index);
        print_table(table);
        return status;
    }
    fprintf(stderr, "scores_driver: unknown command %s\n", argv[1]);
    return 2;
}
