// Keys to changes of the game record, by screen.
#pragma once

#include "SDL.h"

void dispatch_event(const SDL_Event& event);
void fire_rule();
void handle_event(const SDL_Event& event);

// Shortest gap between two shots, in milliseconds of clock readings.
constexpr int fire_interval_ms = 300;
