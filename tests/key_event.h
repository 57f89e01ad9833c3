// A key event as the library would deliver it; shared by the unit tests, the
// scripted session and the benchmark, which have no other code in common.
#pragma once

#include "SDL.h"

inline SDL_Event key_event(Uint8 type, SDLKey key)
{
    SDL_Event e{};
    e.type = type;
    e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = key;
    return e;
}
