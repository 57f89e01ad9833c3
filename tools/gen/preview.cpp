#include "preview.h"

#include <algorithm>

#include "SDL.h"
#include "SDL_ttf.h"

#include "art.h"
#include "layout.h"

const Asset* find_asset(const std::vector<Asset>& all, const std::string& file)
{
    for (const Asset& a : all)
        if (a.file == file) return &a;
    return nullptr;
}

static Pix blank(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    Pix p;
    p.w = w;
    p.h = h;
    p.rgb.resize(size_t(w) * h * 3);
    for (size_t i = 0; i < p.rgb.size(); i += 3) p.rgb[i] = r, p.rgb[i + 1] = g, p.rgb[i + 2] = b;
    return p;
}

static void set_px(Pix& d, int x, int y, const uint8_t* c)
{
    if (x < 0 || y < 0 || x >= d.w || y >= d.h) return;
    uint8_t* p = d.px(x, y);
    p[0] = c[0], p[1] = c[1], p[2] = c[2];
}

// Draws src with the key left out, like SDL_SetColorKey does.
static void draw_keyed(Pix& d, const Pix& s, int dx, int dy, bool keyed, int scale = 1)
{
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            if (keyed && s.is_key(x, y)) continue;
            for (int sy = 0; sy < scale; ++sy)
                for (int sx = 0; sx < scale; ++sx)
                    set_px(d, dx + x * scale + sx, dy + y * scale + sy, s.px(x, y));
        }
}

static void fill_rect(Pix& d, int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t c[3] = {r, g, b};
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) set_px(d, x, y, c);
}

static void text(Pix& d, TTF_Font* font, const std::string& s, int x, int y, uint8_t r, uint8_t g, uint8_t b)
{
    if (!font || s.empty()) return;
    SDL_Color col{r, g, b, 0};
    SDL_Surface* t = TTF_RenderUTF8_Blended(font, s.c_str(), col);
    if (!t) return;
    SDL_LockSurface(t);
    for (int yy = 0; yy < t->h; ++yy)
        for (int xx = 0; xx < t->w; ++xx) {
            Uint32 v = static_cast<Uint32*>(t->pixels)[yy * (t->pitch / 4) + xx];
            Uint8 rr, gg, bb, aa;
            SDL_GetRGBA(v, t->format, &rr, &gg, &bb, &aa);
            int dx = x + xx, dy = y + yy;
            if (aa == 0 || dx < 0 || dy < 0 || dx >= d.w || dy >= d.h) continue;
            uint8_t* p = d.px(dx, dy);
            p[0] = uint8_t((rr * aa + p[0] * (255 - aa)) / 255);
            p[1] = uint8_t((gg * aa + p[1] * (255 - aa)) / 255);
            p[2] = uint8_t((bb * aa + p[2] * (255 - aa)) / 255);
        }
    SDL_UnlockSurface(t);
    SDL_FreeSurface(t);
}

static void stars(Pix& d, int x0, int x1, uint32_t seed)
{
    Rng rng(seed);
    for (int i = 0; i < 90; ++i) {
        int x = rng.irange(x0, x1), y = rng.irange(0, d.h - 1);
        uint8_t v = uint8_t(rng.irange(120, 255));
        uint8_t c[3] = {v, v, v};
        set_px(d, x, y, c);
    }
}

static void draw(Pix& d, const std::vector<Asset>& all, const std::string& f, int x, int y)
{
    if (const Asset* a = find_asset(all, f)) draw_keyed(d, a->pix, x, y, a->keyed);
}

Pix contact_sheet(const std::vector<Asset>& all, TTF_Font* font)
{
    const int pad = 14, label = 18;
    struct Place {
        const Asset* a;
        int x, y;
    };
    std::vector<Place> places;
    int right = 0, bottom = 0;
    auto label_width = [&](const std::string& s) {
        int w = 0, h = 0;
        if (font) TTF_SizeUTF8(font, s.c_str(), &w, &h);
        return w;
    };
    // Places one image; returns the x just past it (label included).
    auto place = [&](const std::string& file, int x, int y) {
        const Asset* a = find_asset(all, file);
        if (!a) return x;
        places.push_back({a, x, y});
        int w = std::max(a->pix.w * 2, label_width(file));
        right = std::max(right, x + w);
        bottom = std::max(bottom, y + label + a->pix.h * 2);
        return x + w + pad;
    };
    // Menu art on the left, sprites in a column beside it, panels at the end.
    place("bg.bmp", pad, pad);
    const int col_x = pad + 1280 + pad * 2;
    int y = pad;
    for (const char* n : {"newgame", "hiscore", "exit"}) {
        place(std::string(n) + "2.bmp", place(std::string(n) + "1.bmp", col_x, y), y);
        y += button_height * 2 + label + pad;
    }
    place("konsol.bmp", col_x, y);
    y += console_height * 2 + label + pad;
    int x = place("player.bmp", col_x, y);
    x = place("missile.bmp", x, y);
    place("enemy_missile.bmp", x, y);
    y += ship_height * 2 + label + pad;
    x = col_x;
    for (int i = 1; i <= 5; ++i) x = place("dusman0" + std::to_string(i) + ".bmp", x, y);
    y += enemy_contact_height * 2 + label + pad;
    x = col_x;
    for (int f : {1, 3, 5, 7}) x = place("patlama0" + std::to_string(f) + ".bmp", x, y);
    x = right + pad * 2;
    place("right.bmp", place("left.bmp", x, pad), pad);

    Pix sheet = blank(right + pad, bottom + pad, 24, 26, 32);
    for (const Place& p : places) {
        int w = p.a->pix.w * 2, h = p.a->pix.h * 2;
        for (int yy = 0; yy < h; ++yy)
            for (int xx = 0; xx < w; ++xx) {
                uint8_t v = ((xx / 8 + yy / 8) & 1) ? 70 : 110;
                uint8_t c[3] = {v, v, v};
                set_px(sheet, p.x + xx, p.y + label + yy, c);
            }
        draw_keyed(sheet, p.a->pix, p.x, p.y + label, p.a->keyed, 2);
        text(sheet, font, p.a->file, p.x, p.y, 200, 210, 225);
    }
    return sheet;
}

Pix mock_menu(const std::vector<Asset>& all, TTF_Font* score_font)
{
    Pix s = blank(640, 480, 0, 0, 0);
    stars(s, 0, 639, 5);
    draw(s, all, "bg.bmp", 0, 0);
    text(s, score_font, "12450", menu_score_x, menu_score_y, 55, 55, 255);
    draw(s, all, "newgame2.bmp", menu_item_x, menu_item_y[0]);
    draw(s, all, "hiscore1.bmp", menu_item_x, menu_item_y[1]);
    draw(s, all, "exit1.bmp", menu_item_x, menu_item_y[2]);
    return s;
}

Pix mock_play(const std::vector<Asset>& all, TTF_Font* score_font)
{
    Pix s = blank(640, 480, 0, 0, 0);
    stars(s, left_panel_x + left_panel_width, right_panel_x - 1, 9);
    for (int y : {-150, -150 + panel_height}) {
        draw(s, all, "left.bmp", left_panel_x, y);
        draw(s, all, "right.bmp", right_panel_x, y);
    }
    for (int i = 1; i <= 5; ++i)
        draw(s, all, "dusman0" + std::to_string(i) + ".bmp", 70 + i * 75, 40 + (i % 2) * 60);
    draw(s, all, "patlama03.bmp", 420, 170);
    draw(s, all, "patlama05.bmp", 130, 200);
    draw(s, all, "enemy_missile.bmp", 240, 160);
    draw(s, all, "enemy_missile.bmp", 395, 210);
    draw(s, all, "missile.bmp", 310, 250);
    draw(s, all, "missile.bmp", 310, 200);
    draw(s, all, "player.bmp", 282, 300);
    draw(s, all, "konsol.bmp", console_x, console_y);
    // The lives boxes the game draws with three lives left.
    const int lives = 3;
    for (const LivesBox& b : lives_boxes) {
        if (lives >= b.shown_from) fill_rect(s, b.x, lives_box_y, b.width, lives_box_height, 255, 16, 16);
    }
    text(s, score_font, "12450", play_score_x, play_score_y, 55, 55, 255);
    return s;
}
