// The hull panels either side of the playfield and the cockpit console.
#include <algorithm>
#include <cmath>
#include <string>

#include "SDL.h"
#include "SDL_ttf.h"

#include "art.h"

static Sdf rect(float x0, float y0, float x1, float y1, float r = 0)
{
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    return [=](float x, float y) {
        return sd_box(x, y, (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2, r);
    };
}

static Sdf circle(float cx, float cy, float r)
{
    return [=](float x, float y) { return sd_circle(x, y, cx, cy, r); };
}

static Sdf seg(float ax, float ay, float bx, float by)
{
    return [=](float x, float y) { return sd_segment(x, y, ax, ay, bx, by); };
}

static Sdf stroke(float ax, float ay, float bx, float by, float half_width)
{
    return [=](float x, float y) { return sd_segment(x, y, ax, ay, bx, by) - half_width; };
}

// Distance to a circle's outline: a zero line for grooves.
static Sdf circle_line(float cx, float cy, float r)
{
    return [=](float x, float y) { return std::fabs(sd_circle(x, y, cx, cy, r)); };
}

// A thin filled ring.
static Sdf ring(float cx, float cy, float r, float half_width = 0.6f)
{
    return [=](float x, float y) { return std::fabs(sd_circle(x, y, cx, cy, r)) - half_width; };
}

static Light metal_light()
{
    Light light;
    light.ambient = 0.45f;
    light.diffuse = 0.7f;
    light.shine = 0.35f;
    light.shine_pow = 14.f;
    light.shadow_len = 5;
    return light;
}

// Fine brushed-metal grain and grime, multiplied into whatever is painted.
// Periodic in y so the scrolling panels stay seamless.
static void weather(GBuf& g, uint32_t seed, int period_y)
{
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            size_t i = g.idx(x, y);
            if (g.cover[i] <= 0) continue;
            float n = fbm(x / 6.f, y / 6.f, seed, 3, 0, period_y ? period_y / 6 : 0);
            float streak = fbm(x / 2.f, y / 24.f, seed + 5, 2, 0, period_y ? period_y / 24 : 0);
            float k = 0.9f + 0.16f * n - 0.1f * smoothstep(0.55f, 0.8f, streak);
            g.albedo[i] = g.albedo[i] * k;
        }
}

static void rivet(GBuf& g, float x, float y, Col c)
{
    g.bump(circle(x, y, 1.3f), 1.6f, 1.3f, c, 0.6f);
}

// ------------------------------------------------------------ side panels

struct Plate {
    int height;
    int kind;  // what is mounted on it
};

Img side_panel(bool left)
{
    const int w = left ? left_panel_width : right_panel_width, h = panel_height;
    // The image seam falls in the middle of a plate: everything is laid out
    // in a shifted coordinate, so the wrap from the last row to the first is
    // an ordinary step inside a plate.
    const float off = left ? 81.f : 47.f;
    GBuf g(w, h);
    g.wrap_y = true;
    // u runs from the screen edge inwards to the playfield, so both panels
    // share one layout while the light still comes from the upper left.
    auto ux = [&](float u) { return left ? u : float(w) - u; };
    auto rect_u = [&](float u0, float y0, float u1, float y1, float r = 0) {
        return rect(ux(u0), y0, ux(u1), y1, r);
    };
    auto wrap = [&](Sdf f) {
        return Sdf([f, off, h](float x, float y) { return f(x, std::fmod(y + off, float(h))); });
    };
    auto circle_u = [&](float u, float y, float r) { return circle(ux(u), y, r); };

    Col hull = hex(0x2a3648), frame = hex(0x3e4f68), plate_col = hex(0x566a86), rail = hex(0x70869f);
    Col pipe_col = hex(0x5d6f84), dark = hex(0x0c111b);

    g.raise(rect_u(0, -10, float(w), float(h + 10)), 1.f, 0, hull, 0.2f);

    // Outer frame rail, segmented.
    const float frame_u0 = 0, frame_u1 = 8;
    g.raise(rect_u(frame_u0, -10, frame_u1, float(h + 10)), 4.f, 2.f, frame, 0.3f);
    for (int k = 0; k < h / 40; ++k) {
        float y = 40.f * k + 20;
        g.groove(wrap(seg(ux(frame_u0), y, ux(frame_u1), y)), 0.8f, 1.5f);
        rivet(g, ux(4), y + 9, frame);
    }

    // Plate column.
    const float pu0 = 10, pu1 = left ? 52.f : 50.f;
    std::vector<Plate> plates =
        left ? std::vector<Plate>{{72, 0}, {96, 1}, {60, 2}, {112, 3}, {80, 4}, {60, 5}}
             : std::vector<Plate>{{88, 4}, {64, 2}, {120, 1}, {72, 5}, {56, 0}, {80, 3}};
    int y_top = 0, idx = 0;
    for (const Plate& p : plates) {
        float y0 = float(y_top) + 1, y1 = float(y_top + p.height) - 1;
        float tint = 0.94f + 0.12f * hash2(idx, left, 3);
        Col pc = plate_col * tint;
        g.raise(wrap(rect_u(pu0, y0, pu1, y1, 2)), 6.f, 2.5f, pc, 0.35f);
        for (float ry : {y0 + 4, y1 - 4})
            for (float ru : {pu0 + 4, pu1 - 4}) rivet(g, ux(ru), ry, pc);
        float mu = (pu0 + pu1) / 2, ym = (y0 + y1) / 2;
        switch (p.kind) {
        case 0:  // vent grille
            for (float y = y0 + 12; y < y1 - 12; y += 6)
                g.bump(wrap(rect_u(pu0 + 7, y, pu1 - 7, y + 3, 1)), -3.f, 0.8f, hex(0x151b26), 0.1f);
            break;
        case 1: {  // status screen with a little trace
            g.bump(wrap(rect_u(pu0 + 5, y0 + 12, pu1 - 5, y1 - 22, 2)), -3.5f, 1.2f, hex(0x0b2a2c), 0.8f);
            float sx0 = ux(pu0 + 8), sx1 = ux(pu1 - 8);
            if (sx0 > sx1) std::swap(sx0, sx1);
            for (int k = 0; k < 6; ++k) {
                float bh = 6 + 18 * hash2(k, idx, left ? 11 : 12);
                float bx = sx0 + k * (sx1 - sx0) / 6.f;
                g.glow(wrap(rect(bx, y1 - 26 - bh, bx + 3.5f, y1 - 26)), hex(0x2ad8b0));
            }
            g.glow(wrap(rect(sx0, y0 + 16, sx1, y0 + 17)), hex(0x1a8a86));
            for (int k = 0; k < 3; ++k)
                g.glow(wrap(circle_u(pu0 + 9 + k * 8, y1 - 12, 1.7f)),
                       k == 2 ? hex(0xff5030) : hex(0x50ff90));
            break;
        }
        case 2: {  // warning stripes
            Sdf band = rect_u(pu0 + 4, ym - 9, pu1 - 4, ym + 9);
            g.paint_fn(wrap(band), [&](int x, int y, Col) {
                float yp = std::fmod(float(y) + off, float(h));
                return (int(std::floor((float(x) + yp) / 5.f)) & 1) ? hex(0xd8a21c) : hex(0x1b1b20);
            });
            g.groove(wrap(rect_u(pu0 + 4, ym - 9, pu1 - 4, ym + 9)), 0.6f, 0.6f);
            break;
        }
        case 3: {  // fan behind a round hatch
            float r = std::min((pu1 - pu0) / 2 - 6, float(p.height) / 2 - 10);
            g.bump(wrap(circle_u(mu, ym, r)), -4.f, 1.5f, hex(0x1a212d), 0.2f);
            for (int k = 0; k < 6; ++k) {
                float a = float(k) * 1.0471976f + 0.3f;
                g.bump(wrap([=, &ux](float x, float y) {
                           return sd_segment(x, y, ux(mu), ym, ux(mu) + std::cos(a) * (r - 2),
                                             ym + std::sin(a) * (r - 2)) -
                                  1.6f;
                       }),
                       2.5f, 1.2f, hex(0x46546a), 0.5f);
            }
            g.bump(wrap(circle_u(mu, ym, 3.5f)), 2.f, 1.5f, hex(0x8a9bb0), 0.7f);
            g.groove(wrap(circle_line(ux(mu), ym, r + 2.5f)), 0.8f, 1.f);
            for (int k = 0; k < 4; ++k) {
                float a = float(k) * 1.5707963f + 0.785f;
                rivet(g, ux(mu) + std::cos(a) * (r + 5), ym + std::sin(a) * (r + 5), plate_col);
            }
            break;
        }
        case 4: {  // indicator lamps and a recessed handle
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) {
                    float lu = pu0 + 11 + col * 9, ly = y0 + 14 + row * 9;
                    g.bump(wrap(circle_u(lu, ly, 3.f)), -1.5f, 1.f, hex(0x141a24), 0.2f);
                    uint32_t pick = uint32_t(hash2(row, col + 7 * idx, 21) * 5);
                    Col lamp = pick == 0   ? hex(0xff4a2a)
                               : pick == 1 ? hex(0xffb02a)
                               : pick == 2 ? hex(0x3ae0ff)
                                           : hex(0x40ff80);
                    if (pick < 4) g.glow(wrap(circle_u(lu, ly, 1.8f)), lamp);
                }
            g.bump(wrap(rect_u(pu0 + 8, y1 - 26, pu1 - 8, y1 - 14, 3)), -3.f, 1.f, hex(0x1a2130), 0.1f);
            g.bump(wrap(rect_u(pu0 + 11, y1 - 22.5f, pu1 - 11, y1 - 17.5f, 2)), 5.f, 1.5f, hex(0x8d9fb6),
                   0.6f);
            break;
        }
        default:  // access hatch with seams
            g.groove(wrap(rect_u(pu0 + 6, y0 + 8, pu1 - 6, y1 - 8, 3)), 0.9f, 1.4f);
            g.groove(wrap(seg(ux(pu0 + 6), ym, ux(pu1 - 6), ym)), 0.7f, 0.8f, 0.85f);
            g.paint(wrap(rect_u(pu0 + 9, y0 + 11, pu0 + 17, y0 + 14)), hex(0xd8a21c));
            break;
        }
        y_top += p.height;
        ++idx;
    }

    // Conduits: continuous pipes with clamps, so they tile by themselves.
    const float cu0 = pu1 + 2;
    auto pipe = [&](float u, float r, Col c) {
        float xc = ux(u);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float dx = x + 0.5f - xc;
                if (std::fabs(dx) >= r) continue;
                size_t i = g.idx(x, y);
                g.height[i] = 3 + 3.5f * std::sqrt(1 - (dx / r) * (dx / r));
                g.albedo[i] = c;
                g.gloss[i] = 0.8f;
            }
    };
    if (left) {
        pipe(cu0 + 3, 2.6f, pipe_col);
        pipe(cu0 + 8.5f, 2.6f, hex(0x7a5a48));
    } else {
        pipe(cu0 + 4.5f, 4.f, pipe_col);
        pipe(cu0 + 10.f, 1.5f, hex(0x7a3030));
        pipe(cu0 + 13.f, 1.5f, hex(0x2f5a7a));
    }
    float cu1 = cu0 + (left ? 12.f : 15.f);
    for (int k = 0; k < h / 60; ++k) {
        float y = 60.f * k + 12;
        g.raise(wrap(rect_u(cu0 - 1, y, cu1 + 1, y + 5, 1)), 8.f, 1.5f, hex(0x4a5a70), 0.5f);
        rivet(g, ux((cu0 + cu1) / 2), y + 2.5f, hex(0x4a5a70));
    }

    // Inner rail and a light strip facing the playfield.
    float ru0 = cu1 + 1.5f, ru1 = float(w) - 4;
    g.raise(rect_u(ru0, -10, ru1, float(h + 10)), 7.f, 2.5f, rail, 0.5f);
    g.groove(rect_u(ru0 + 2.5f, -10, ru0 + 3.5f, float(h + 10)), 0.6f, 0.8f, 0.8f);
    for (int k = 0; k < h / 48; ++k) {
        float y = 48.f * k + 30;
        g.groove(wrap(seg(ux(ru0), y, ux(ru1), y)), 0.8f, 1.5f);
    }
    g.raise(rect_u(ru1, -10, float(w), float(h + 10)), 2.f, 0, dark, 0.1f);
    g.glow(rect_u(ru1 + 0.5f, -10, ru1 + 2.f, float(h + 10)), hex(0x1580b0));
    for (int k = 0; k < h / 48; ++k) {
        float y = 48.f * k + 6;
        g.glow(wrap(rect_u(ru1 + 0.2f, y, ru1 + 2.3f, y + 9)), hex(0x6ae8ff));
    }

    weather(g, left ? 101u : 202u, h);
    Img im = shade(g, metal_light());
    // Darken toward the screen edge so the playfield stays the focus.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float u = left ? float(x) : float(w - 1 - x);
            im.at(x, y) = im.at(x, y) * (0.7f + 0.3f * smoothstep(0, 14, u));
        }
    return im;
}

// ------------------------------------------------------------ console

static void label(GBuf& g, TTF_Font* font, const char* text, int x, int y, Col col)
{
    if (!font) return;
    SDL_Color c{255, 255, 255, 0};
    SDL_Surface* s = TTF_RenderUTF8_Blended(font, text, c);
    if (!s) return;
    SDL_LockSurface(s);
    for (int yy = 0; yy < s->h; ++yy)
        for (int xx = 0; xx < s->w; ++xx) {
            Uint8 r, gg, b, a;
            SDL_GetRGBA(static_cast<Uint32*>(s->pixels)[yy * (s->pitch / 4) + xx], s->format, &r, &gg, &b,
                        &a);
            int tx = x + xx, ty = y + yy;
            if (tx < 0 || ty < 0 || tx >= g.w || ty >= g.h || a < 40) continue;
            size_t i = g.idx(tx, ty);
            g.emit[i] = g.emit[i] + col * (a / 255.f);
        }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
}

Img console(TTF_Font* small)
{
    const int w = console_width, h = console_height;
    GBuf g(w, h);
    Col hull = hex(0x44576f), trim = hex(0x7d95b3), deck = hex(0x34445a), dark = hex(0x070a12);

    // Body: a wide wedge, narrower at the top so the playfield shows past
    // its shoulders.
    std::vector<P2> body = {{34, 3}, {256, 3}, {287, 36}, {289, 44}, {289, 96}, {1, 96}, {1, 44}, {3, 36}};
    Sdf body_sdf = [body](float x, float y) { return sd_poly(x, y, body) - 1.f; };
    g.raise(body_sdf, 6.f, 4.f, hull, 0.35f);
    // Bright lip along the top edge.
    std::vector<P2> lip = {{34, 2}, {256, 2}, {286, 34}, {278, 34}, {252, 8}, {38, 8}, {12, 34}, {4, 34}};
    g.bump([lip](float x, float y) { return sd_poly(x, y, lip); }, 2.5f, 2.f, trim, 0.6f);
    // Instrument deck in the middle.
    std::vector<P2> deck_outline = {{74, 14}, {216, 14}, {226, 26}, {226, 96}, {64, 96}, {64, 26}};
    g.groove([deck_outline](float x, float y) { return sd_poly(x, y, deck_outline); }, 1.f, 2.f);
    g.paint([deck_outline](float x, float y) { return sd_poly(x, y, deck_outline) + 1.f; }, deck);

    // Lives slot: the game fills it with red boxes.
    g.bump(rect(lives_left - 5.f, lives_top - 4.f, lives_right + 5.f, lives_bottom + 5.f, 2), 1.5f, 1.f,
           trim * 0.8f, 0.5f);
    g.bump(rect(lives_left - 3.f, lives_top - 2.f, lives_right + 3.f, lives_bottom + 3.f, 1), -5.f, 1.2f,
           hex(0x120608), 0.1f);
    for (float y = lives_top - 1.f; y < lives_bottom + 2.f; y += 2)
        g.paint(rect(lives_left - 2.f, y, lives_right + 2.f, y + 1), hex(0x1e0a0e));
    // Score readout window.
    const float rx0 = score_left - 7.f, ry0 = score_top - 3.f, rx1 = score_left + 122.f,
                ry1 = score_top + 17.f;
    g.bump(rect(rx0 - 2, ry0 - 2, rx1 + 2, ry1 + 2, 2), 1.5f, 1.f, trim * 0.8f, 0.5f);
    g.bump(rect(rx0, ry0, rx1, ry1, 1), -5.f, 1.2f, dark, 0.1f);
    for (float y = ry0 + 1; y < ry1; y += 2) g.paint(rect(rx0 + 1, y, rx1 - 1, y + 1), hex(0x0b0f22));

    // Radar scope on the left wing.
    const float sx = 34, sy = 62, sr = 22;
    g.bump(circle(sx, sy, sr + 3), 2.f, 1.5f, trim * 0.85f, 0.6f);
    g.bump(circle(sx, sy, sr), -6.f, 1.5f, hex(0x06140c), 0.9f);
    g.glow(ring(sx, sy, sr - 1.5f), hex(0x0f4a26));
    g.glow(ring(sx, sy, 13.f), hex(0x0d3d20));
    g.glow(ring(sx, sy, 6.f), hex(0x0d3d20));
    g.glow([=](float x, float y) { return std::fabs(x - sx) - 0.6f + (std::fabs(y - sy) < sr - 1 ? 0 : 9); },
           hex(0x0d3d20));
    g.glow([=](float x, float y) { return std::fabs(y - sy) - 0.6f + (std::fabs(x - sx) < sr - 1 ? 0 : 9); },
           hex(0x0d3d20));
    // The sweep with a fading wake.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float dx = x + 0.5f - sx, dy = y + 0.5f - sy, r = std::hypot(dx, dy);
            if (r >= sr - 1.5f || r < 1) continue;
            float a = std::atan2(dy, dx) + 2.4f;  // sweep points up-right
            a = std::fmod(a + 6.2831853f * 2, 6.2831853f);
            if (a < 1.2f) {
                size_t i = g.idx(x, y);
                g.emit[i] = g.emit[i] + hex(0x38ff80) * std::pow(1 - a / 1.2f, 2.f) * 0.7f;
            }
        }
    g.glow(
        [=](float x, float y) {
            return sd_segment(x, y, sx, sy, sx + std::cos(-2.4f) * (sr - 2),
                              sy + std::sin(-2.4f) * (sr - 2)) -
                   0.7f;
        },
        hex(0x7affa8));
    g.glow(circle(sx + 9, sy - 9, 1.5f), hex(0xfff070));
    g.glow(circle(sx - 10, sy + 5, 1.2f), hex(0xff7050));
    g.glow(circle(sx + 4, sy + 12, 1.2f), hex(0xff7050));

    // Right wing: two dials and a bank of bar meters.
    auto dial = [&](float cx, float cy, float r, float needle, Col face) {
        g.bump(circle(cx, cy, r + 2), 2.f, 1.5f, trim * 0.85f, 0.6f);
        g.bump(circle(cx, cy, r), -3.f, 1.f, hex(0x0c0f16), 0.9f);
        for (int k = 0; k <= 6; ++k) {
            float a = 2.4f + k * 0.78f;
            g.glow(stroke(cx + std::cos(a) * (r - 3), cy + std::sin(a) * (r - 3), cx + std::cos(a) * (r - 1),
                          cy + std::sin(a) * (r - 1), 0.6f),
                   k >= 5 ? hex(0xff4030) : face * 0.8f);
        }
        g.glow(
            [=](float x, float y) {
                return sd_segment(x, y, cx, cy, cx + std::cos(needle) * (r - 2.5f),
                                  cy + std::sin(needle) * (r - 2.5f)) -
                       0.6f;
            },
            hex(0xffb030));
        g.bump(circle(cx, cy, 1.6f), 2.f, 1.f, trim, 0.8f);
    };
    dial(246, 56, 11, -1.0f, hex(0x80d8ff));
    dial(270, 74, 8, 0.2f, hex(0x80d8ff));
    for (int k = 0; k < 5; ++k) {
        float bx = 236 + k * 6.f, by1 = 90, len = 6 + 10 * hash2(k, 1, 77);
        g.bump(rect(bx, 72, bx + 4, by1, 1), -2.f, 0.8f, hex(0x0c0f16), 0.2f);
        for (float y = by1 - 2; y > by1 - 2 - len; y -= 2.5f)
            g.glow(rect(bx + 0.8f, y - 1.6f, bx + 3.2f, y), y < by1 - 12 ? hex(0xffa030) : hex(0x40e8ff));
    }
    // Push-buttons along the deck shoulders.
    const Col caps[] = {hex(0xd83a2a), hex(0xe8a22a), hex(0x2ac86a), hex(0x2a9ae8)};
    for (int k = 0; k < 4; ++k) {
        g.bump(rect(236 + k * 11.f, 36, 244 + k * 11.f, 42, 1.5f), 3.f, 1.5f, caps[k], 0.7f);
        g.glow(rect(238 + k * 11.f, 37, 242 + k * 11.f, 38), caps[k] * 1.2f + hex(0x303030));
    }
    for (int k = 0; k < 3; ++k)
        g.bump(rect(68 + k * 7.f, 20, 72 + k * 7.f, 24, 1), 2.f, 1.f, caps[(k + 1) % 4], 0.7f);
    // Vents and bolts.
    for (int k = 0; k < 4; ++k)
        g.bump(rect(196 + k * 6.f, 83, 199 + k * 6.f, 92, 1), -2.5f, 0.8f, hex(0x141a24), 0.1f);
    for (int k = 0; k < 4; ++k)
        g.bump(rect(70 + k * 6.f, 83, 73 + k * 6.f, 92, 1), -2.5f, 0.8f, hex(0x141a24), 0.1f);
    for (P2 p : std::vector<P2>{{10, 90}, {280, 90}, {70, 30}, {220, 30}, {60, 10 + 34}, {230, 44}})
        g.bump(circle(p.x, p.y, 1.4f), 1.5f, 1.2f, trim, 0.6f);
    // Running lights on the lip.
    for (int k = 0; k < 6; ++k) {
        Sdf lamp = rect(100 + k * 18.f, 4, 108 + k * 18.f, 6.5f);
        g.paint(lamp, hex(0x000000));  // lamps glow on their own, unlit
        g.glow(lamp, k == 0 || k == 5 ? hex(0xff7a30) : hex(0x4ad0ff));
    }

    label(g, small, "SHIPS", 63, lives_top - 2, hex(0x6a90b8));
    label(g, small, "SCORE", 62, score_top + 2, hex(0x6a90b8));

    weather(g, 303u, 0);
    Light light = metal_light();
    Img im = shade(g, light);
    outline(im, hex(0x05070c), 0.15f);
    return im;
}
