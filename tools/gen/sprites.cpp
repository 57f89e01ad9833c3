// Ships, shots and explosions. All are lit height fields posterised into a
// few bands and ringed with a dark outline so they read against the stars.
#include <algorithm>
#include <cmath>

#include "art.h"
#include "layout.h"

// Symmetric polygon from its right half (points listed top to bottom).
static Sdf half_poly(std::vector<P2> half, float axis)
{
    std::vector<P2> pts = mirror_x(half, axis);
    return [pts](float x, float y) { return sd_poly(x, y, pts); };
}

static Sdf mirrored(const Sdf& f, float axis)
{
    return [f, axis](float x, float y) { return f(x < axis ? 2 * axis - x : x, y); };
}

static Sdf ellipse(float cx, float cy, float rx, float ry)
{
    return [=](float x, float y) {
        float dx = (x - cx) / rx, dy = (y - cy) / ry;
        return (std::sqrt(dx * dx + dy * dy) - 1) * std::min(rx, ry);
    };
}

static Sdf box(float x0, float y0, float x1, float y1, float r = 0)
{
    return [=](float x, float y) {
        return sd_box(x, y, (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2, r);
    };
}

static Sdf circle(float cx, float cy, float r)
{
    return [=](float x, float y) { return sd_circle(x, y, cx, cy, r); };
}

static Sdf capsule(float ax, float ay, float bx, float by, float r)
{
    return [=](float x, float y) { return sd_segment(x, y, ax, ay, bx, by) - r; };
}

static Sdf cut(const Sdf& a, const Sdf& b)
{
    return [a, b](float x, float y) { return std::max(a(x, y), -b(x, y)); };
}

static Sdf line(float ax, float ay, float bx, float by)
{
    return [=](float x, float y) { return sd_segment(x, y, ax, ay, bx, by); };
}

// Glass: dark at the bottom, bright streak near the top-left.
static void canopy(GBuf& g, const Sdf& f, float elev, Col deep, Col light)
{
    g.bump(f, elev, 2.f, deep, 1.0f);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            if (f(x + 0.5f, y + 0.5f) >= 0) continue;
            // Shade by how far down the glass we are.
            float top = 1e9f, bot = -1e9f;
            for (int yy = 0; yy < g.h; ++yy)
                if (f(x + 0.5f, yy + 0.5f) < 0)
                    top = std::min(top, float(yy)), bot = std::max(bot, float(yy));
            float t = bot > top ? (y - top) / (bot - top) : 0.5f;
            g.albedo[g.idx(x, y)] = mix(light, deep, smoothstep(0.1f, 0.9f, t));
        }
}

static Light sprite_light()
{
    Light light;
    light.ambient = 0.38f;
    light.diffuse = 0.85f;
    light.shine = 0.55f;
    light.shine_pow = 10.f;
    light.bands = 5;
    light.shadow_len = 4;
    return light;
}

static Img finish(const GBuf& g, Col outline_col, const Light& light = sprite_light())
{
    Img im = shade(g, light);
    outline(im, outline_col, 0.2f);
    return im;
}

// ---------------------------------------------------------------- player

Img player_ship()
{
    GBuf g(ship_width, ship_height);
    const float ax = ship_width / 2.f;
    Col steel = hex(0xa9bdd2), wing = hex(0x4d6f9c), dark = hex(0x2a3b5c), gun = hex(0x6d7c91);
    Col accent = hex(0xf08a2c), teal = hex(0x2fb8b0);

    // Swept main wings.
    Sdf wings = half_poly(
        {{41, 19}, {52, 24}, {63, 27}, {69, 28}, {72, 36}, {72, 42}, {68, 44}, {55, 42}, {44, 41}}, ax);
    g.raise(wings, 3.f, 2.5f, wing, 0.35f);
    // Wing-tip cannons run parallel to the hull.
    Sdf guns = mirrored(capsule(66.5f, 16.f, 66.5f, 41.f, 1.8f), ax);
    g.raise(guns, 5.f, 1.3f, gun, 0.6f);
    g.paint(mirrored(box(64.6f, 14.5f, 68.4f, 18.5f), ax), hex(0x384555));
    // Side intakes that carry the engines.
    Sdf pods = mirrored(box(42.5f, 22, 50.5f, 45, 2.5f), ax);
    g.raise(pods, 5.5f, 2.f, hex(0x7d93b0), 0.35f);
    // Canards near the nose.
    Sdf canards = half_poly({{41, 11}, {49, 17}, {49, 20}, {42, 19}}, ax);
    g.raise(cut(canards, box(34, 0, 42, 50)), 4.f, 1.5f, wing, 0.35f);
    // Fuselage.
    Sdf body =
        half_poly({{38, 0.5f}, {40.5f, 6}, {42.5f, 14}, {44, 24}, {44.5f, 36}, {43, 44}, {40.5f, 47}}, ax);
    g.raise(body, 8.f, 3.5f, steel, 0.45f);
    // Engine bells, tail end.
    Sdf bells = mirrored(box(41, 43, 46, 48, 1.2f), ax);
    g.raise(bells, 5.f, 1.f, dark, 0.7f);

    // Panel seams and paint.
    g.groove(line(38, 26, 38, 44), 0.9f, 1.2f);
    g.groove(mirrored(line(44, 31, 62, 38), ax), 0.8f, 1.f);
    g.groove(mirrored(line(46, 27, 58, 33), ax), 0.7f, 0.8f, 0.85f);
    g.paint(mirrored(half_poly({{58, 35}, {64, 38.5f}, {64, 41}, {58, 38}}, 61), ax), accent);
    g.paint(
        mirrored(cut(half_poly({{60, 34}, {68, 38.5f}, {68, 41}, {60, 37}}, 64), box(0, 0, 64.8f, 50)), ax),
        accent);
    g.paint(box(36.5f, 33, 39.5f, 40), teal);
    g.paint(mirrored(box(45, 24, 49, 26), ax), hex(0x1e2a40));  // intake mouths

    canopy(g, ellipse(38, 17.5f, 3.2f, 7.f), 3.f, hex(0x0d3f73), hex(0x8ff3ff));

    // Engine glow and nav lights.
    g.glow(mirrored(box(42, 46, 45, 49.5f), ax), hex(0x9ff4ff));
    g.glow(mirrored(box(42.8f, 46.5f, 44.2f, 49.5f), ax), hex(0xffffff));
    g.glow(mirrored(box(70, 40, 72, 42), ax), hex(0xff5a3c));
    g.glow(box(36.8f, 20.5f, 39.2f, 22.f), hex(0xdfffff));
    return finish(g, hex(0x0a0f1e));
}

// ---------------------------------------------------------------- enemies

Img enemy_ship(int n)
{
    GBuf g(enemy_contact_width, enemy_contact_height);
    const float ax = enemy_contact_width / 2.f;
    Col red = hex(0xc83a32), orange = hex(0xe8782c), purple = hex(0x7b3f9e), maroon = hex(0x6a1f2c);
    Col metal = hex(0x6c5a6e), magenta = hex(0xb0356e), plum = hex(0x4e2a5e);
    Col eye = hex(0xffe36a), hot = hex(0xff9a2a);
    Col out = hex(0x140812);

    switch (n) {
    case 1: {  // scout: a small dart
        Sdf fins = half_poly({{24, 8}, {33, 10}, {35, 14}, {28, 22}, {24, 24}}, ax);
        g.raise(fins, 3.f, 2.f, maroon, 0.3f);
        Sdf body = half_poly({{22.5f, 9}, {26, 12}, {28, 20}, {26.5f, 28}, {22.5f, 35}}, ax);
        g.raise(body, 6.f, 3.f, red, 0.45f);
        g.groove(line(22.5f, 12, 22.5f, 22), 0.8f, 1.f);
        g.paint(mirrored(half_poly({{30, 11}, {33.5f, 12}, {34, 14}, {30, 14}}, 32), ax), orange);
        canopy(g, ellipse(22.5f, 26, 2.6f, 3.6f), 2.f, hex(0x7a1500), eye);
        g.glow(mirrored(box(24.5f, 6.5f, 26.5f, 9.f), ax), hot);
        break;
    }
    case 2: {  // interceptor: forward-swept blades with nose guns
        Sdf blades = half_poly({{24, 10},
                                {30, 7},
                                {36.5f, 9},
                                {38.5f, 14},
                                {35.5f, 24},
                                {33.5f, 35},
                                {31, 36},
                                {29, 27},
                                {24, 25}},
                               ax);
        g.raise(blades, 3.5f, 2.5f, purple, 0.35f);
        g.groove(mirrored(line(28, 12, 37, 13), ax), 0.7f, 0.9f);
        g.groove(mirrored(line(28, 18, 36, 19), ax), 0.7f, 0.9f, 0.85f);
        Sdf guns = mirrored(capsule(32, 24, 32, 36.5f, 1.7f), ax);
        g.raise(guns, 5.5f, 1.2f, metal, 0.6f);
        Sdf body = ellipse(22.5f, 20, 6.5f, 12.5f);
        g.raise(body, 7.f, 3.f, magenta, 0.45f);
        g.groove(line(16, 17, 29, 17), 0.8f, 0.8f, 0.85f);
        g.paint(mirrored(half_poly({{33, 8.5f}, {36.5f, 9.5f}, {37.5f, 12.5f}, {33, 12}}, 35), ax), orange);
        canopy(g, ellipse(22.5f, 25.5f, 3.f, 4.f), 2.f, hex(0x5a1000), eye);
        g.glow(mirrored(box(31, 36, 33, 38), ax), hot);
        g.glow(mirrored(box(20.f, 6.5f, 21.8f, 9.f), ax), hex(0xffc04a));
        break;
    }
    case 3: {  // mine drone: spiked disc with a burning eye
        for (int k = 0; k < 8; ++k) {
            float a = float(k) * 3.14159265f / 4.f + 3.14159265f / 8.f;
            float ca = std::cos(a), sa = std::sin(a);
            g.raise(capsule(22.5f + ca * 10, 21.5f + sa * 10, 22.5f + ca * 17.5f, 21.5f + sa * 17.5f, 1.5f),
                    4.f, 1.2f, k % 2 ? metal : hex(0x8a6f86), 0.5f);
        }
        g.raise(circle(22.5f, 21.5f, 13.5f), 5.f, 3.f, plum, 0.35f);
        g.raise(circle(22.5f, 21.5f, 9.f), 8.f, 2.5f, purple, 0.5f);
        for (int k = 0; k < 6; ++k) {
            float a = float(k) * 3.14159265f / 3.f;
            g.groove(line(22.5f + std::cos(a) * 10, 21.5f + std::sin(a) * 10, 22.5f + std::cos(a) * 14,
                          21.5f + std::sin(a) * 14),
                     0.8f, 1.2f);
        }
        g.bump(circle(22.5f, 21.5f, 5.f), -3.f, 1.5f, hex(0x2a0c18), 0.2f);
        g.glow(circle(22.5f, 22.f, 3.6f), hex(0xff3a20));
        g.glow(circle(22.5f, 22.5f, 2.0f), hex(0xffd040));
        g.glow(box(21, 20, 22.6f, 21.4f), hex(0xffffff));
        break;
    }
    case 4: {  // gunship: wide crescent with twin cannons
        Sdf wing = half_poly(
            {{24, 5}, {34, 7}, {42, 12}, {44, 21}, {42, 27}, {39, 26}, {34, 20}, {27, 22}, {24, 31}}, ax);
        g.raise(wing, 4.f, 2.5f, red, 0.35f);
        Sdf cannons = mirrored(box(29.5f, 22, 33.5f, 39, 1.2f), ax);
        g.raise(cannons, 6.f, 1.2f, metal, 0.6f);
        g.paint(mirrored(box(29.5f, 36, 33.5f, 39), ax), hex(0x2a1a24));
        Sdf hull = half_poly({{22.5f, 4}, {28, 7}, {30, 16}, {28, 28}, {22.5f, 37}}, ax);
        g.raise(hull, 8.f, 3.5f, maroon, 0.45f);
        g.groove(mirrored(line(25, 9, 40, 15), ax), 0.8f, 1.f);
        g.groove(line(17, 18, 28, 18), 0.8f, 1.f);
        g.paint(mirrored(half_poly({{36, 13}, {41, 16}, {41.5f, 19}, {36, 16}}, 38), ax), orange);
        canopy(g, half_poly({{22.5f, 22}, {25.5f, 25}, {22.5f, 32}}, ax), 2.f, hex(0x5a0c00), eye);
        g.glow(mirrored(box(26, 4, 29, 6.5f), ax), hot);
        g.glow(mirrored(box(30.5f, 38.5f, 32.5f, 40), ax), hex(0xffd040));
        break;
    }
    default: {  // heavy: armoured dreadnought with mandibles and three guns
        Sdf prongs =
            mirrored(half_poly({{30, 24}, {36, 27}, {36.5f, 35}, {34, 43}, {31.5f, 36}, {29, 31}}, 33), ax);
        g.raise(prongs, 5.f, 1.8f, hex(0x7a3a86), 0.45f);
        Sdf hull = half_poly({{22.5f, 1.5f},
                              {31, 2},
                              {39, 5},
                              {43.5f, 12},
                              {43.5f, 22},
                              {39, 28},
                              {31, 30},
                              {27, 37},
                              {22.5f, 39}},
                             ax);
        g.raise(hull, 7.f, 3.f, hex(0x5a2a66), 0.4f);
        Sdf gun = box(20.5f, 30, 24.5f, 44, 1.f);
        g.raise(gun, 9.f, 1.2f, metal, 0.6f);
        g.paint(box(20.5f, 41.5f, 24.5f, 44), hex(0x2a1a24));
        Sdf core = half_poly({{22.5f, 4}, {29, 5}, {32.5f, 12}, {31, 24}, {26.5f, 31}, {22.5f, 32}}, ax);
        g.raise(core, 10.f, 3.5f, hex(0xa42e4c), 0.45f);
        Sdf armour = half_poly({{22.5f, 7}, {27.5f, 8}, {29.5f, 14}, {26, 18}, {22.5f, 18}}, ax);
        g.bump(armour, 2.5f, 1.5f, hex(0xc4505e), 0.5f);
        g.groove(line(15, 21.5f, 30, 21.5f), 0.8f, 1.2f);
        g.groove(mirrored(line(33, 8, 38, 26), ax), 0.8f, 1.2f);
        g.groove(mirrored(line(34, 16, 43, 16), ax), 0.7f, 0.9f, 0.85f);
        g.paint(mirrored(half_poly({{38.5f, 7}, {41.5f, 11}, {41.5f, 14}, {38.5f, 10}}, 40), ax), orange);
        // Glowing vents down the flanks.
        for (int k = 0; k < 3; ++k)
            g.glow(mirrored(box(35.5f, 18.5f + k * 3, 41.5f, 19.8f + k * 3), ax),
                   k == 1 ? hex(0xff4aa0) : hex(0xd02a80));
        g.glow(mirrored(ellipse(26.f, 25.5f, 1.9f, 1.5f), ax), hex(0xff3a20));
        g.glow(mirrored(box(25.3f, 25.f, 26.5f, 26.f), ax), eye);
        g.glow(mirrored(box(26, 1.5f, 30, 3.5f), ax), hot);
        g.glow(mirrored(box(33.2f, 40.5f, 34.6f, 42.5f), ax), hex(0xffd040));
        g.glow(box(21.5f, 43.f, 23.5f, 44), hex(0xffd040));
        break;
    }
    }
    return finish(g, out);
}

// ---------------------------------------------------------------- shots

Img player_shot()
{
    Img im(shot_width, shot_height);
    // Bolt: white core, cyan sheath, dimmer tail; tip at the top.
    for (int y = 0; y < shot_height; ++y)
        for (int x = 0; x < shot_width; ++x) {
            float cx = x + 0.5f - shot_width / 2.f, cy = y + 0.5f;
            float halfw = cy < 4 ? 1.2f + cy * 0.55f : 3.4f - (cy - 4) * 0.2f;
            float d = std::fabs(cx) / std::max(halfw, 0.3f);
            if (d > 1 || cy > 15.5f) continue;
            float along = clamp01((cy - 2) / 13.f);
            Col core = mix(hex(0xffffff), hex(0xb8fbff), along);
            Col sheath = mix(hex(0x4fe0ff), hex(0x1c5ad8), along);
            Col c = d < 0.4f ? core : mix(sheath, hex(0x17307a), smoothstep(0.6f, 1.f, d) * 0.6f);
            im.at(x, y) = c;
            im.al(x, y) = 1;
        }
    return im;
}

Img enemy_shot()
{
    Img im(enemy_shot_width, enemy_shot_height);
    // Plasma drop falling down: round hot head at the bottom, tail above.
    for (int y = 0; y < enemy_shot_height; ++y)
        for (int x = 0; x < enemy_shot_width; ++x) {
            float cx = x + 0.5f - enemy_shot_width / 2.f, cy = y + 0.5f;
            float halfw = cy > 7.5f ? std::sqrt(std::max(0.f, 9.f - (cy - 8.5f) * (cy - 8.5f)))
                                    : 0.5f + cy * 0.33f;
            float d = std::fabs(cx) / std::max(halfw, 0.3f);
            if (d > 1.05f) continue;
            float r = std::hypot(cx, (cy - 8.5f) * 0.8f);
            Col c = r < 1.2f   ? hex(0xfff2b0)
                    : r < 2.2f ? hex(0xffb030)
                    : cy > 5   ? hex(0xff4a1c)
                               : hex(0xb0203a);
            im.at(x, y) = c;
            im.al(x, y) = 1;
        }
    return im;
}

// ---------------------------------------------------------------- explosions

Img explosion(int frame)
{
    Img im(explosion_size, explosion_size);
    const float cx = explosion_size / 2.f, cy = explosion_size / 2.f;
    // Growth then break-up; radius and heat per frame.
    float radius, heat, holes;
    switch (frame) {
    case 1: radius = 9.f, heat = 1.f, holes = 0.f; break;
    case 3: radius = 15.f, heat = 0.85f, holes = 0.f; break;
    case 5: radius = 19.5f, heat = 0.55f, holes = 0.38f; break;
    default: radius = 21.f, heat = 0.25f, holes = 0.62f; break;
    }
    Ramp fire{{hex(0x2a1028), hex(0x5a1c30), hex(0xa8281e), hex(0xe8561a), hex(0xff9a24), hex(0xffd860),
               hex(0xfff8d8)}};
    uint32_t seed = 77u;  // one cloud shape, so the frames feel like one blast
    for (int y = 0; y < explosion_size; ++y)
        for (int x = 0; x < explosion_size; ++x) {
            float px = x + 0.5f - cx, py = y + 0.5f - cy;
            float r = std::hypot(px, py);
            float n = fbm((px + 40) / 7.f, (py + 40) / 7.f, seed, 3);
            float edge = radius * (0.78f + 0.42f * n);
            if (r > edge) continue;
            float inner = 1 - r / edge;
            // Holes open up in the cooling cloud.
            float hn = fbm((px + 90) / 5.f, (py + 10) / 5.f, seed + 9, 2);
            if (hn < holes * (1.1f - inner * 0.6f)) continue;
            float t = heat * (0.35f + 0.9f * inner) + (n - 0.5f) * 0.35f;
            if (frame == 1) t = 0.55f + 0.5f * inner;
            im.at(x, y) = fire.band(clamp01(t));
            im.al(x, y) = 1;
        }
    // Flying sparks.
    Rng rng(1000u + uint32_t(frame));
    int sparks = frame == 1 ? 6 : frame == 3 ? 10 : frame == 5 ? 12 : 8;
    for (int i = 0; i < sparks; ++i) {
        float a = rng.range(0, 6.2831853f);
        float d = radius * rng.range(0.9f, 1.25f) + 1.f;
        int sx = int(std::floor(cx + std::cos(a) * d)), sy = int(std::floor(cy + std::sin(a) * d));
        if (sx < 1 || sy < 1 || sx > explosion_size - 2 || sy > explosion_size - 2) continue;
        Col c = frame >= 7 ? hex(0xe8561a) : frame >= 5 ? hex(0xffb030) : hex(0xfff0a0);
        im.at(sx, sy) = c;
        im.al(sx, sy) = 1;
        if (frame <= 3) {  // short streak pointing outwards
            int tx = int(std::floor(cx + std::cos(a) * (d - 1.5f))),
                ty = int(std::floor(cy + std::sin(a) * (d - 1.5f)));
            im.at(tx, ty) = hex(0xff9a24);
            im.al(tx, ty) = 1;
        }
    }
    return im;
}
