// Final 8-bit pixels and the file formats the generator writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core.h"

// The colour the game treats as transparent.
constexpr uint8_t key_red = 255, key_green = 0, key_blue = 255;

// True for colours that land on the same RGB565 pixel as the key once the
// game converts to a 16-bit display surface.
bool near_key(uint8_t r, uint8_t g, uint8_t b);

struct Pix {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;  // w*h*3, top row first
    uint8_t* px(int x, int y) { return &rgb[(size_t(y) * w + x) * 3]; }
    const uint8_t* px(int x, int y) const { return &rgb[(size_t(y) * w + x) * 3]; }
    bool is_key(int x, int y) const
    {
        const uint8_t* p = px(x, y);
        return p[0] == key_red && p[1] == key_green && p[2] == key_blue;
    }
};

// Converts a float canvas to bytes. Every colour is snapped to a value that
// survives the game's RGB565 conversion unchanged (optionally with an
// ordered dither so gradients do not band). Pixels with alpha < 0.5 become
// the key when keyed, black otherwise; opaque pixels never equal or alias
// the key.
Pix finalize(const Img& im, bool keyed, bool dither);

// Snap one 0..1 channel to 5 or 6 bits and expand back to 8.
uint8_t snap565(float v, int bits, float threshold);

bool save_bmp(const Pix& p, const std::string& path);  // via SDL, 24-bit
std::vector<uint8_t> encode_png(const Pix& p);         // RGB8, zlib
std::vector<uint8_t> encode_png_rgba(const Img& im);   // RGBA8 with the canvas's coverage as alpha
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool read_file(const std::string& path, std::vector<uint8_t>& bytes);
