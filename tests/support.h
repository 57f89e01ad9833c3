// Shared set-up for the unit tests: a headless 640x480x16 screen, a fresh game
// record, and stand-in images of the sizes the game assumes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "game.h"
#include "key_event.h"

// Starts the library once (dummy drivers) and gives every test a clean record.
class GameTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Reads one pixel of the screen as (r, g, b) in the screen's format.
    static uint32_t pixel(int x, int y);
    static uint32_t rgb(int r, int g, int b);

    // Keys as the library delivers them, through the game's own event handling.
    static void press(SDLKey key);
    static void release(SDLKey key);
    static void tap(SDLKey key);
};

// Start-up's text steps, for tests that render text: the text engine, the
// game's fonts opened as start-up opens them but from the data set's font file
// (QUORVANE_TEST_FONT, wherever the test runs), and the text colour. A font
// that cannot be opened fails the test. close_fonts closes them again.
void start_text();
void close_fonts();

// A 16-bit surface of the display's format filled with one colour.
SDL_Surface* solid_image(int w, int h, int r, int g, int b);

// Frees every image the record holds and empties its slots.
void free_images();

// Slots filled by name: a live enemy, a destroyed one awaiting its respawn, a
// shot in flight (climbing one row per tick, as every shot does), a star.
Enemy enemy_at(int x, int y, int kind);
Enemy wreck_at(int x, int y, int kind);
Shot shot_at(int x, int y);
Star star_at(int x, int y, int speed);
