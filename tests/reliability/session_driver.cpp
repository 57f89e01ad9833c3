// The real game, started, run and shut down exactly as main() does, with a
// player made of scripted key presses: a timer pushes them into the event queue
// (SDL_PushEvent is safe from the timer's thread), so the real loop reads them
// as it reads a keyboard. Used for leak checks under the sanitizers and
// valgrind, and for watching memory over long runs.
//
//   session_driver [MS]   play for MS milliseconds, then press Escape;
//                         without MS (or 0) play until SIGTERM or Ctrl-C.
//
// Run it where data/ is, as the game. At the end it says whether games were
// started and shots fired, and fails when none were: a session that never
// left the menu has checked nothing.
#include <cstdio>
#include <cstdlib>
#include <random>

#include "game.h"
#include "app/shell.h"
#include "key_event.h"
#include "platform/device.h"

namespace {

constexpr Uint32 press_every_ms = 15;

struct Player {
    std::mt19937 rng{20261208};
    Uint32 end_ms = 0;  // 0: no end
    SDLKey plan[16] = {};
    Uint8 plan_type[16] = {};
    int planned = 0, next = 0;
    bool quit_sent = false;
};

Player player;

void plan(SDLKey key, Uint8 type)
{
    player.plan[player.planned] = key;
    player.plan_type[player.planned] = type;
    ++player.planned;
}

void plan_up_twice()
{
    for (int i = 0; i < 2; ++i) {
        plan(SDLK_UP, SDL_KEYDOWN);
        plan(SDLK_UP, SDL_KEYUP);
    }
}

// The next few presses. The driver cannot see the screen (the game's record
// belongs to the loop's thread), so the presses are safe on either: every Down
// is followed by Up twice before any Space. The menu only leaves on a Space,
// so a Down that lands on the menu is undone there, and Space always picks
// "new game", never "exit". In a game the same presses fly and fire.
void make_plan()
{
    player.planned = player.next = 0;
    static constexpr SDLKey arrows[] = {SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT};
    switch (player.rng() % 3) {
    case 0:
        plan(SDLK_SPACE, SDL_KEYDOWN);
        plan(SDLK_SPACE, SDL_KEYUP);
        break;
    default: {
        const SDLKey arrow = arrows[player.rng() % 4];
        plan(arrow, SDL_KEYDOWN);
        // Held for a few periods: releases of a key the game ignores.
        for (int held = static_cast<int>(player.rng() % 5); held > 0; --held) plan(SDLK_a, SDL_KEYUP);
        plan(arrow, SDL_KEYUP);
        if (arrow == SDLK_DOWN) plan_up_twice();
        break;
    }
    }
}

void push_key(SDLKey key, Uint8 type)
{
    SDL_Event e = key_event(type, key);
    SDL_PushEvent(&e);
}

Uint32 press_next(Uint32 interval, void*)
{
    if (player.end_ms != 0 && SDL_GetTicks() >= player.end_ms) {
        if (!player.quit_sent) push_key(SDLK_ESCAPE, SDL_KEYDOWN);
        player.quit_sent = true;
        return interval;
    }
    if (player.next == player.planned) make_plan();
    push_key(player.plan[player.next], player.plan_type[player.next]);
    ++player.next;
    return interval;
}

}  // namespace

int main(int argc, char* argv[])
{
    const long ms = argc > 1 ? std::atol(argv[1]) : 0;
    start_up();
    if (ms > 0) player.end_ms = SDL_GetTicks() + static_cast<Uint32>(ms);
    SDL_TimerID timer = SDL_AddTimer(press_every_ms, press_next, nullptr);
    if (timer == nullptr) {
        std::fprintf(stderr, "session: no timer: %s\n", SDL_GetError());
        return 1;
    }
    run_loop();
    SDL_RemoveTimer(timer);
    // lives starts at 0 and only a new game sets it; last_fire starts at 0
    // and only a shot sets it.
    const bool played = game.lives != 0 || game.score != 0;
    const bool fired = game.last_fire != 0;
    std::printf("session: %s, %s, last score %d, lives %d, clock %d ms\n",
                played ? "a game was started" : "no game was started",
                fired ? "shots were fired" : "no shot was fired", static_cast<int>(game.score),
                static_cast<int>(game.lives), static_cast<int>(game.now_tick));
    shut_down();
    return played && fired ? 0 : 1;
}
