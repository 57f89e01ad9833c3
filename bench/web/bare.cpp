// The ceiling the game's browser loop is held against: the bare loop (clear,
// 5 ms wait, flip) built with the game's own flags and run in the same browser.
#include "SDL.h"

int main(int, char*[])
{
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) < 0) return 1;
    SDL_Surface* screen = SDL_SetVideoMode(640, 480, 16, SDL_FULLSCREEN);
    if (screen == nullptr) return 2;
    for (;;) {
        SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
        SDL_Delay(5);
        SDL_Flip(screen);
    }
}
