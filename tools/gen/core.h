// Shared drawing kit for the data generator: colours, a float canvas,
// signed-distance shapes, a height-field "G-buffer" that gets lit like
// embossed metal, and a deterministic random source.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Col {
    float r = 0, g = 0, b = 0;
};

Col rgb(int r, int g, int b);  // from 0..255
Col hex(uint32_t v);           // 0xRRGGBB
Col mix(Col a, Col b, float t);
Col operator*(Col a, float s);
Col operator*(Col a, Col b);
Col operator+(Col a, Col b);
float luma(Col c);
float clamp01(float v);
float smoothstep(float e0, float e1, float x);

// Colour ramp: t in 0..1 picks along evenly spaced stops.
struct Ramp {
    std::vector<Col> stops;
    Col at(float t) const;
    // Nearest stop only, for crisp pixel-art bands.
    Col band(float t) const;
};

// RGB canvas with coverage. Alpha 0 means "background" (the key colour
// in keyed images); nothing here is half transparent in the final files.
struct Img {
    int w = 0, h = 0;
    std::vector<Col> c;
    std::vector<float> a;
    Img() = default;
    Img(int w_, int h_) : w(w_), h(h_), c(size_t(w_) * h_), a(size_t(w_) * h_, 0.f) {}
    bool in(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
    Col& at(int x, int y) { return c[size_t(y) * w + x]; }
    const Col& at(int x, int y) const { return c[size_t(y) * w + x]; }
    float& al(int x, int y) { return a[size_t(y) * w + x]; }
    float al(int x, int y) const { return a[size_t(y) * w + x]; }
    void put(int x, int y, Col col, float alpha = 1.f);  // blend over
    void fill(Col col, float alpha = 1.f);
};

// Small, fast, fully defined generator so every run draws the same numbers
// (std distributions differ between library versions).
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
    uint32_t next();
    float uni();  // [0,1)
    float range(float lo, float hi);
    int irange(int lo, int hi);  // inclusive
};

// Integer hash noise; value noise that can wrap with a given period so
// textures tile.
float hash2(int x, int y, uint32_t seed);
float value_noise(float x, float y, uint32_t seed, int period_x = 0, int period_y = 0);
float fbm(float x, float y, uint32_t seed, int octaves, int period_x = 0, int period_y = 0);

// Signed distance helpers, negative inside.
using Sdf = std::function<float(float, float)>;
struct P2 {
    float x, y;
};
float sd_box(float px, float py, float cx, float cy, float hx, float hy, float r = 0);
float sd_circle(float px, float py, float cx, float cy, float r);
float sd_segment(float px, float py, float ax, float ay, float bx, float by);
float sd_poly(float px, float py, const std::vector<P2>& pts);
std::vector<P2> mirror_x(const std::vector<P2>& half, float axis);  // closes a symmetric outline

// Height-field surface. Shapes raise or cut the height and set the paint;
// shade() turns it into colours lit from the upper left.
struct GBuf {
    int w, h;
    std::vector<float> height;
    std::vector<Col> albedo;
    std::vector<Col> emit;
    std::vector<float> gloss;
    std::vector<float> cover;  // 1 where something is drawn
    GBuf(int w_, int h_);
    size_t idx(int x, int y) const { return size_t(y) * w + x; }
    // Raise a shape: interior height = elev + bevel profile of depth inside.
    void raise(const Sdf& f, float elev, float bevel, Col col, float glossv = 0.3f);
    // Same but keeps the existing height and adds on top (bolts, bumps).
    void bump(const Sdf& f, float amount, float bevel, Col col, float glossv = 0.4f);
    // Groove of given width/depth along the zero line of f (panel seams).
    void groove(const Sdf& f, float width, float depth, float darken = 0.75f);
    void paint(const Sdf& f, Col col);
    void paint_fn(const Sdf& f, const std::function<Col(int, int, Col)>& fn);
    void glow(const Sdf& f, Col col);  // emissive, not lit
    // Where the height wraps vertically (scrolling panels) neighbours are
    // taken modulo h, so the lighting tiles too.
    bool wrap_y = false;
};

struct Light {
    float lx = -0.55f, ly = -0.65f, lz = 0.52f;  // towards the light, y down
    float ambient = 0.42f, diffuse = 0.75f, shine = 0.45f, shine_pow = 12.f;
    float shadow_len = 0.f;  // >0: cast soft shadows from raised parts
    int bands = 0;           // >0: posterise lighting into this many steps
};

// Turns the G-buffer into an image (coverage -> alpha).
Img shade(const GBuf& g, const Light& light);

// 1-pixel outline around covered pixels; colour derived from the neighbour.
void outline(Img& im, Col dark, float keep_tone = 0.25f, bool diagonal = false);
