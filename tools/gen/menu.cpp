// Menu buttons: opaque plaques with the label in the game's font.
#include <algorithm>
#include <cmath>

#include "SDL.h"
#include "SDL_ttf.h"

#include "art.h"

// Draws text with extra tracking, one glyph at a time, blending by coverage.
static int text_width(TTF_Font* font, const std::string& s, int tracking)
{
    int w = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        int minx, maxx, miny, maxy, adv;
        if (TTF_GlyphMetrics(font, Uint16(static_cast<unsigned char>(s[i])), &minx, &maxx, &miny, &maxy,
                             &adv) == 0)
            w += adv + (i + 1 < s.size() ? tracking : 0);
    }
    return w;
}

static void draw_text(Img& im, TTF_Font* font, const std::string& s, int x, int y, int tracking, Col col)
{
    SDL_Color white{255, 255, 255, 0};
    for (char ch : s) {
        char buf[2] = {ch, 0};
        int minx, maxx, miny, maxy, adv;
        TTF_GlyphMetrics(font, Uint16(static_cast<unsigned char>(ch)), &minx, &maxx, &miny, &maxy, &adv);
        if (ch != ' ') {
            SDL_Surface* g = TTF_RenderUTF8_Blended(font, buf, white);
            if (g) {
                SDL_LockSurface(g);
                for (int yy = 0; yy < g->h; ++yy)
                    for (int xx = 0; xx < g->w; ++xx) {
                        Uint8 r, gg, b, a;
                        SDL_GetRGBA(static_cast<Uint32*>(g->pixels)[yy * (g->pitch / 4) + xx], g->format, &r,
                                    &gg, &b, &a);
                        if (a) im.put(x + xx, y + yy, col, a / 255.f);
                    }
                SDL_UnlockSurface(g);
                SDL_FreeSurface(g);
            }
        }
        x += adv + tracking;
    }
}

Img menu_button(TTF_Font* font, const std::string& label_text, bool lit)
{
    const int w = button_width, h = button_height;
    Img im(w, h);
    const float chamfer = 7;
    // Plaque with chamfered corners; the cut corners stay black like the sky.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float dx = std::min(px, w - px), dy = std::min(py, h - py);
            float edge = std::min(dx, dy);                     // distance to the border
            float corner = (dx + dy - chamfer) * 0.70710678f;  // distance to a chamfer cut
            float d = std::min(edge, corner);
            Col c;
            if (d < 0) {
                c = {};
            } else {
                float t = py / h;
                if (lit) {
                    c = mix(hex(0x6af4ff), hex(0x0a66b0), smoothstep(0.f, 1.f, t));
                    if (t < 0.45f) c = mix(c, hex(0xffffff), 0.18f);  // glassy upper half
                } else {
                    c = mix(hex(0x34425a), hex(0x141a26), t);
                }
                if (d < 1)
                    c = lit ? hex(0xe8ffff) : hex(0x5a6e8c);  // rim
                else if (d < 2)
                    c = lit ? hex(0x1a4a8a) : hex(0x0c1018);  // inner line
                else if (d < 3 && (px < w / 2.f ? py < h / 2.f : py < h / 2.f))
                    c = mix(c, hex(0xffffff), lit ? 0.35f : 0.08f);  // top highlight
            }
            im.at(x, y) = c;
            im.al(x, y) = 1;
        }
    // Side marker: an arrow when lit, a dim slot otherwise.
    for (int y = 0; y < h; ++y)
        for (int x = 6; x < 16; ++x) {
            float cy = h / 2.f, py = y + 0.5f, px = x + 0.5f;
            if (lit) {
                if (px > 8 && std::fabs(py - cy) < (15 - px) * 0.9f) im.at(x, y) = hex(0xffffff);
            } else if (px > 9 && px < 12 && std::fabs(py - cy) < 5) {
                im.at(x, y) = hex(0x0a0e16);
            }
        }
    if (font) {
        const int tracking = 1;
        int tw = text_width(font, label_text, tracking);
        int th = TTF_FontAscent(font);  // caps only: centre on the cap height
        int tx = 18 + (w - 22 - tw) / 2, ty = (h - th) / 2 - 1;
        if (lit) {
            draw_text(im, font, label_text, tx + 1, ty + 1, tracking, hex(0x06305a));
            draw_text(im, font, label_text, tx, ty, tracking, hex(0xffffff));
        } else {
            draw_text(im, font, label_text, tx + 1, ty + 1, tracking, hex(0x05070c));
            draw_text(im, font, label_text, tx, ty, tracking, hex(0x8fa4c2));
        }
    }
    return im;
}
