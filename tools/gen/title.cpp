// Menu background: the QUORVANE logo, a gas giant and a moon, all drawn
// over a keyed sky so the game's falling stars show through.
#include <algorithm>
#include <array>
#include <cmath>

#include "art.h"
#include "layout.h"

// Box with 45-degree chamfered corners, the logo's basic shape.
static float chamfer_box(float x, float y, float cx, float cy, float hx, float hy, float c)
{
    float dx = std::fabs(x - cx), dy = std::fabs(y - cy);
    float d = std::max(dx - hx, dy - hy);
    return std::max(d, (dx + dy - (hx + hy - c)) * 0.70710678f);
}

static float thick(float x, float y, float ax, float ay, float bx, float by, float w)
{
    return sd_segment(x, y, ax, ay, bx, by) - w;
}

// Glyphs live in a unit box: x 0..width, y 0..1 (down). Stroke is s.
constexpr float glyph_stroke = 0.23f;

static float ring(float x, float y, float w)
{
    float outer = chamfer_box(x, y, w / 2, 0.5f, w / 2, 0.5f, 0.3f);
    float inner = chamfer_box(x, y, w / 2, 0.5f, w / 2 - glyph_stroke, 0.5f - glyph_stroke,
                              0.3f - glyph_stroke * 0.41f);
    return std::max(outer, -inner);
}

static float glyph(char ch, float x, float y, float& width)
{
    switch (ch) {
    case 'Q': {
        width = 0.84f;
        float o = ring(x, y, width);
        float tail = std::max(thick(x, y, 0.46f, 0.56f, 0.95f, 1.1f, glyph_stroke * 0.55f), y - 1.12f);
        return std::min(o, tail);
    }
    case 'U': {
        width = 0.8f;
        float o = ring(x, y, width);
        float gap = chamfer_box(x, y, width / 2, 0.f, width / 2 - glyph_stroke, 0.5f, 0.f);
        return std::max(o, -gap);
    }
    case 'O': width = 0.84f; return ring(x, y, width);
    case 'R': {
        width = 0.8f;
        float outer = chamfer_box(x, y, width / 2, 0.3f, width / 2, 0.3f, 0.24f);
        float inner =
            chamfer_box(x, y, width / 2, 0.3f, width / 2 - glyph_stroke, 0.3f - glyph_stroke * 0.85f, 0.1f);
        float bowl = std::max(outer, -inner);
        float stem = chamfer_box(x, y, glyph_stroke / 2, 0.5f, glyph_stroke / 2, 0.5f, 0.f);
        float leg =
            std::max({thick(x, y, 0.38f, 0.5f, width - glyph_stroke * 0.5f, 1.f, glyph_stroke * 0.52f),
                      y - 1.f, 0.5f - y});
        return std::min({bowl, stem, leg});
    }
    case 'V': {
        width = 0.88f;
        float l = thick(x, y, glyph_stroke * 0.55f, 0.f, width / 2, 0.98f, glyph_stroke * 0.55f);
        float r = thick(x, y, width - glyph_stroke * 0.55f, 0.f, width / 2, 0.98f, glyph_stroke * 0.55f);
        return std::max(std::min(l, r), std::max(-y, y - 1.f));
    }
    case 'A': {
        width = 0.88f;
        float l = thick(x, y, glyph_stroke * 0.55f, 1.f, width / 2, 0.02f, glyph_stroke * 0.55f);
        float r = thick(x, y, width - glyph_stroke * 0.55f, 1.f, width / 2, 0.02f, glyph_stroke * 0.55f);
        float bar = chamfer_box(x, y, width / 2, 0.7f, 0.26f, glyph_stroke * 0.42f, 0.f);
        return std::max(std::min({l, r, bar}), std::max(-y, y - 1.f));
    }
    case 'N': {
        width = 0.8f;
        float l = chamfer_box(x, y, glyph_stroke / 2, 0.5f, glyph_stroke / 2, 0.5f, 0.f);
        float r = chamfer_box(x, y, width - glyph_stroke / 2, 0.5f, glyph_stroke / 2, 0.5f, 0.f);
        float d = std::max(
            thick(x, y, glyph_stroke * 0.5f, 0.05f, width - glyph_stroke * 0.5f, 0.95f, glyph_stroke * 0.5f),
            std::max(-y, y - 1.f));
        float cap = chamfer_box(x, y, width / 2, 0.5f, width / 2, 0.5f, 0.16f);
        return std::max(std::min({l, r, d}), cap);
    }
    case 'E': {
        width = 0.7f;
        float stem = chamfer_box(x, y, glyph_stroke / 2, 0.5f, glyph_stroke / 2, 0.5f, 0.f);
        float t = chamfer_box(x, y, width / 2, glyph_stroke / 2, width / 2, glyph_stroke / 2, 0.f);
        float m = chamfer_box(x, y, width * 0.44f, 0.5f, width * 0.44f, glyph_stroke * 0.44f, 0.f);
        float b = chamfer_box(x, y, width / 2, 1 - glyph_stroke / 2, width / 2, glyph_stroke / 2, 0.f);
        float cap = chamfer_box(x, y, width / 2, 0.5f, width / 2, 0.5f, 0.16f);
        return std::max(std::min({stem, t, m, b}), cap);
    }
    default: width = 0.5f; return 1.f;
    }
}

struct Logo {
    const char* text = "QUORVANE";
    float size = 74;     // cap height in pixels
    float gap = 0.13f;   // between letters, in cap heights
    float slant = 0.2f;  // forward lean
    float left = 0, top = 52;

    float width() const
    {
        float w = 0, lw;
        for (const char* p = text; *p; ++p) {
            glyph(*p, -9, -9, lw);
            w += lw + (p[1] ? gap : 0);
        }
        return w * size + slant * size;
    }
    // Signed distance in pixels to the lettering.
    float sdf(float px, float py) const
    {
        float u = (py - top) / size;
        float x = (px - left) / size - slant * (1 - u);
        float best = 1e9f, pen = 0, lw;
        for (const char* p = text; *p; ++p) {
            glyph(*p, -9, -9, lw);
            if (x > pen - 0.4f && x < pen + lw + 0.4f) best = std::min(best, glyph(*p, x - pen, u, lw));
            pen += lw + gap;
        }
        return best * size;
    }
};

Img menu_background()
{
    const int w = 640, h = 480, ss = 4;
    Img im(w, h);
    Logo logo;
    logo.left = std::floor((w - logo.width()) / 2);

    const float depth = 9;  // extrusion toward the lower right
    Ramp face{{hex(0xffffff), hex(0xc8ecff), hex(0x7cc4ff), hex(0x3a6ed0), hex(0x1c2a6a), hex(0xff8a2a),
               hex(0xffc04a), hex(0xfff0a0)}};
    Ramp side{{hex(0x3a2a8a), hex(0x1a1448)}};
    const float pcx = 540, pcy = 922, pr = 530;  // gas giant
    const float mcx = 92, mcy = 262, mr = 24;    // moon

    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Supersample so the edges blend smoothly into the black sky.
            Col acc{};
            float cov = 0;
            for (int sy = 0; sy < ss; ++sy)
                for (int sx = 0; sx < ss; ++sx) {
                    float px = x + (sx + 0.5f) / ss, py = y + (sy + 0.5f) / ss;
                    Col c{};
                    bool hit = false;
                    if (py > 30 && py < 170) {
                        float d = logo.sdf(px, py);
                        if (d < 0) {
                            // Face: a chrome sky-to-sunset band with a rim light.
                            float u = clamp01((py - logo.top) / logo.size);
                            c = face.at(u);
                            float ex = logo.sdf(px - 1.2f, py - 1.2f) - d;  // >0 on upper-left rims
                            if (d > -2.2f) c = mix(c, ex > 0.3f ? hex(0xffffff) : hex(0x101848), 0.55f);
                            hit = true;
                        } else if (d < 2.4f) {
                            c = hex(0x060818);  // outline
                            hit = true;
                        } else {
                            for (float k = 1; k <= depth; k += 1) {
                                float dk = logo.sdf(px - k, py - k);
                                if (dk < 0) {
                                    c = side.at(k / depth);
                                    if (dk > -1.2f) c = c * 0.6f;
                                    hit = true;
                                    break;
                                }
                                if (dk < 2.4f && k == depth) {
                                    c = hex(0x060818);
                                    hit = true;
                                }
                            }
                            if (!hit && logo.sdf(px - depth, py - depth) < 2.4f) {
                                c = hex(0x060818);
                                hit = true;
                            }
                        }
                    }
                    if (!hit) {
                        float dp = std::hypot(px - pcx, py - pcy) - pr;
                        float dm = std::hypot(px - mcx, py - mcy) - mr;
                        if (dp < 0) {
                            // Banded gas giant, lit from the upper left, with a cyan limb.
                            float nx = (px - pcx) / pr, ny = (py - pcy) / pr;
                            float lat = ny * 18 + fbm(px / 90.f, py / 9.f, 41, 3) * 2.5f;
                            float band = 0.5f + 0.5f * std::sin(lat);
                            Col base = mix(hex(0x3a2060), hex(0x8a4a8a), band);
                            base = mix(base, hex(0xd08a6a), smoothstep(0.75f, 1.f, band) * 0.6f);
                            float lit = clamp01(0.25f - nx * 0.9f + 0.15f);
                            c = base * (0.25f + 0.9f * lit);
                            float limb = smoothstep(-14, 0, dp);
                            c = mix(c, hex(0x6ae0ff), limb * (0.35f + 0.6f * lit));
                            hit = true;
                        } else if (dp < 5) {
                            c = hex(0x2a80c0) * (1 - dp / 5) * 0.8f;  // thin atmosphere halo
                            hit = dp < 3.f;
                        } else if (dm < 0) {
                            float nx = (px - mcx) / mr, ny = (py - mcy) / mr;
                            float nz = std::sqrt(std::max(0.f, 1 - nx * nx - ny * ny));
                            float lit = clamp01(-0.55f * nx - 0.45f * ny + 0.7f * nz);
                            float crater = fbm(px / 5.f, py / 5.f, 77, 3);
                            Col base = mix(hex(0x8a8aa0), hex(0x4a4a60), smoothstep(0.45f, 0.7f, crater));
                            c = base * (0.08f + 0.95f * lit);
                            hit = true;
                        }
                    }
                    if (hit) acc = acc + c, cov += 1;
                }
            cov /= float(ss * ss);
            if (cov > 0.15f) {
                im.at(x, y) = acc * (1.f / float(ss * ss));  // blended with the black sky
                im.al(x, y) = 1;
            }
        }

    // Glints on two chrome corners (Q's shoulder, A's apex).
    auto glint = [&](int cx, int cy, int arm) {
        for (int k = -arm; k <= arm; ++k) {
            float t = 1 - std::fabs(float(k)) / float(arm + 1);
            Col c = mix(hex(0x5a9ae8), hex(0xffffff), t);
            for (auto [px, py] : {std::pair<int, int>{cx + k, cy}, {cx, cy + k * 3 / 4}}) {
                if (!im.in(px, py)) continue;
                if (im.al(px, py) > 0 && luma(im.at(px, py)) > luma(c)) continue;
                im.at(px, py) = c;
                im.al(px, py) = 1;
            }
        }
    };
    glint(int(logo.left + 0.5f * logo.size) + 3, int(logo.top) + 1, 14);
    glint(int(logo.left + 5.45f * logo.size), int(logo.top) + 2, 11);

    // Laser rules under the logo.
    float ly = logo.top + logo.size + depth + 12;
    for (int x = 0; x < w; ++x) {
        float t = 1 - std::fabs(x - w / 2.f) / 250.f;
        if (t <= 0) continue;
        Col c = mix(hex(0x0a2a60), hex(0x7af0ff), t * t);
        im.at(x, int(ly)) = c;
        im.al(x, int(ly)) = 1;
        if (t > 0.5f) {
            im.at(x, int(ly) + 1) = c * 0.45f;
            im.al(x, int(ly) + 1) = 1;
        }
    }
    // Corner brackets: one pair around the score, one around the menu.
    auto bracket = [&](int x0, int y0, int x1, int y1, int len, Col c) {
        for (int k = 0; k < len; ++k) {
            for (auto [bx, by, dx, dy] : {std::array<int, 4>{x0, y0, 1, 0},
                                          {x0, y0, 0, 1},
                                          {x1, y0, -1, 0},
                                          {x1, y0, 0, 1},
                                          {x0, y1, 1, 0},
                                          {x0, y1, 0, -1},
                                          {x1, y1, -1, 0},
                                          {x1, y1, 0, -1}}) {
                int px = bx + dx * k, py = by + dy * k;
                im.at(px, py) = mix(c, c * 0.4f, float(k) / float(len));
                im.al(px, py) = 1;
            }
        }
    };
    bracket(menu_score_x - 19, menu_score_y - 13, menu_score_x + 103, menu_score_y + 29, 10, hex(0x4ab0e0));
    bracket(menu_item_x - 10, menu_item_y[0] - 9, menu_item_x + button_width + 10,
            menu_item_y[2] + button_height + 11, 14, hex(0x3a8ac0));
    return im;
}
