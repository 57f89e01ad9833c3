#include "world/stars.h"

#include <cstdlib>

#include "game.h"
#include "layout.h"
#include "platform/draw.h"

void init_stars()
{
    for (Star& s : game.stars) {
        s.x = rand() % screen_width;
        s.y = -(rand() % star_start_depth);
        s.speed = rand() % 3 + 1;
    }
}

void move_stars()
{
    for (Star& s : game.stars) {
        s.y += s.speed;
        // Recycled stars wait higher up than at the start, so the field never pulses.
        if (s.y > screen_height - 1) s.y = -(rand() % star_recycle_depth);
    }
}

// Slow stars are dim, fast ones bright: a cheap sense of depth.
static int star_grey(int speed)
{
    switch (speed) {
    case 1: return 55;
    case 2: return 150;
    case 3: return 255;
    default: return -1;
    }
}

void draw_stars()
{
    SDL_Surface* screen = game.screen;
    // Lock once for the whole batch of direct pixel writes, never per pixel.
    if (!lock_pixels(screen)) return;
    for (const Star& s : game.stars) {
        if (s.y < 0) continue;
        const int grey = star_grey(s.speed);
        if (grey >= 0) put_pixel(screen, s.x, s.y, grey, grey, grey);
    }
    unlock_pixels(screen);
}
