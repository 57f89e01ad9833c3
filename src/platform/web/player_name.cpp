// The player's name in a browser: the one typed in the page's name box. The
// login name there is a stand-in ("web_user") that names nobody.
#include <emscripten.h>

#include "game.h"
#include "platform/names.h"

// The name box's text, as typed (web/library_page.js).
extern "C" void page_player_name(char* name, size_t size);

void player_name(char* name, size_t size)
{
    char typed[score_name_max * 16];
    page_player_name(typed, sizeof typed);
    clean_name(typed, name, size);
}

// For the page, to show the name box's text as the table will hold it. Kept in
// this file so that the linker, which takes it in for player_name, keeps it too.
extern "C" EMSCRIPTEN_KEEPALIVE void clean_player_name(const char* raw, char* name, size_t size)
{
    clean_name(raw, name, size);
}
