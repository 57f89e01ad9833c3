// The desktop's own frames for the browser test to hold the browser's against:
// the menu and the empty high-score screen, drawn by the real game headless,
// written as raw RGB565 (640x480, little-endian). Run with XDG_DATA_HOME at an
// empty folder, from the build directory (data/).
//   quorvane_desktop_frames OUTDIR
#include <cstdio>
#include <cstdlib>
#include <string>

#include "game.h"
#include "app/shell.h"
#include "platform/device.h"
#include "screens/high_scores.h"

static bool dump(const std::string& path)
{
    SDL_Surface* s = game.screen;
    if (s->format->BytesPerPixel != 2) return false;
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = SDL_LockSurface(s) == 0;
    for (int y = 0; ok && y < s->h; ++y) {
        ok = fwrite(static_cast<Uint8*>(s->pixels) + y * s->pitch, 2, s->w, f) == static_cast<size_t>(s->w);
    }
    SDL_UnlockSurface(s);
    return fclose(f) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc != 2) return fprintf(stderr, "usage: quorvane_desktop_frames OUTDIR\n"), 2;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::string out = argv[1];
    start_up();
    for (int i = 0; i < 20; ++i) loop_pass();
    if (!dump(out + "/menu.rgb565")) return perror("menu.rgb565"), 1;
    open_high_scores();
    loop_pass();
    if (!dump(out + "/high_scores.rgb565")) return perror("high_scores.rgb565"), 1;
    shut_down();
    return 0;
}
