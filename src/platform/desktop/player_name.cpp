// The player's name on a desktop: the login name of the user running the game.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/names.h"

// From the password database, else $USER, else "player".
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
