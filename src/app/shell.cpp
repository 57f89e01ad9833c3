#include "app/shell.h"

#include <cstdlib>
#include <ctime>

#include "game.h"
#include "platform/assets.h"
#include "platform/device.h"
#include "screens/frame.h"
#include "world/enemies.h"
#include "world/score.h"
#include "world/score_table.h"
#include "world/shots.h"
#include "world/stars.h"

// At any exit, the mixer's audio thread is stopped before the process ends.
void start_up()
{
    start_library();
    set_video_mode();
    SDL_WM_SetCaption("Quorvane", nullptr);
    SDL_EnableKeyRepeat(10, 10);
    SDL_ShowCursor(0);
    srand(static_cast<unsigned>(time(nullptr)));
    init_text();
    init_audio();
    atexit(Mix_CloseAudio);
    open_font();
    set_text_colour();
    load_assets();
    init_stars();
    clear_shots();
    spawn_enemies();
    render_score();
    load_score_table();
    game.state = MENU;
    game.frame_counter = 0;
    game.last_tick = 0;
    game.quit = 0;
    game.last_fire = 0;
    Mix_PlayMusic(game.music, -1);
}

// Window close and Escape (pressed or released) end the game from any screen.
void handle_event(const SDL_Event& event)
{
    const bool escape = (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) &&
                        event.key.keysym.sym == SDLK_ESCAPE;
    if (event.type == SDL_QUIT || escape) {
        game.quit = 1;
    } else {
        dispatch_event(event);
    }
}

// Drains the queue without waiting: the loop never blocks on input. Events
// behind a quit request are still handled.
void poll_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) handle_event(event);
}

// The clock is read after the events, so the fire rule measures its gap
// between the readings of earlier passes.
void loop_pass()
{
    poll_events();
    game.now_tick = static_cast<int32_t>(SDL_GetTicks());
    draw_frame();
}

// quit is tested only at the top, so the pass that sets it still draws its frame.
void run_loop()
{
    while (game.quit == 0) loop_pass();
}
