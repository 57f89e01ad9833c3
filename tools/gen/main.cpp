// Writes every file the game loads into one folder, plus a contact sheet.
//
//   quorvane_datagen --out DIR --font TTF --license FILE [--license FILE...]
//                    [--lame PATH] [--preview PNG] [--mock DIR] [--icons DIR] [--no-music]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SDL.h"
#include "SDL_ttf.h"

#include "art.h"
#include "music.h"
#include "output.h"
#include "preview.h"

static int fail(const std::string& msg)
{
    std::fprintf(stderr, "quorvane_datagen: %s\n", msg.c_str());
    return 1;
}

struct Options {
    std::string out, font, lame, preview, mock, icons;
    std::vector<std::string> licenses;
    bool music = true;
};

static bool parse(int argc, char** argv, Options& o)
{
    const std::pair<const char*, std::string*> valued[] = {
        {"--out", &o.out},         {"--font", &o.font}, {"--lame", &o.lame},
        {"--preview", &o.preview}, {"--mock", &o.mock}, {"--icons", &o.icons},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--no-music") {
            o.music = false;
            continue;
        }
        // Every other option takes a value; --license may come more than once.
        std::string* value = a == "--license" ? &o.licenses.emplace_back() : nullptr;
        for (const auto& [name, dst] : valued)
            if (a == name) value = dst;
        if (value == nullptr || i + 1 >= argc) return false;
        *value = argv[++i];
    }
    return !o.out.empty() && !o.font.empty() && (!o.music || !o.lame.empty());
}

int main(int argc, char** argv)
{
    Options opt;
    if (!parse(argc, argv, opt))
        return fail(
            "usage: --out DIR --font TTF --license FILE... [--lame PATH | --no-music] [--preview PNG] "
            "[--mock DIR] [--icons DIR]");
    auto t0 = std::chrono::steady_clock::now();
    std::error_code ec;
    std::filesystem::create_directories(opt.out, ec);
    if (ec) return fail("cannot create " + opt.out + ": " + ec.message());

    // Surfaces and SDL_SaveBMP need no video; keep any driver from opening.
    if (SDL_Init(0) != 0) return fail(std::string("SDL_Init: ") + SDL_GetError());
    if (TTF_Init() != 0) return fail(std::string("TTF_Init: ") + TTF_GetError());
    TTF_Font* label_font = TTF_OpenFont(opt.font.c_str(), 19);
    TTF_Font* small_font = TTF_OpenFont(opt.font.c_str(), 8);
    TTF_Font* score_font = TTF_OpenFont(opt.font.c_str(), 12);
    if (!label_font || !small_font || !score_font) return fail("cannot open font " + opt.font);

    // The music is independent of everything else; render and encode it
    // while the images are drawn.
    std::string music_err;
    bool music_ok = true;
    std::thread music_thread;
    if (opt.music)
        music_thread = std::thread(
            [&] { music_ok = make_music(opt.out + "/tavik-shootemup.mp3", opt.lame, music_err); });

    std::vector<Asset> assets;
    auto add = [&](const std::string& file, const Img& im, bool keyed, bool dither) {
        assets.push_back({file, finalize(im, keyed, dither), keyed});
    };
    add("bg.bmp", menu_background(), true, true);
    add("newgame1.bmp", menu_button(label_font, "NEW GAME", false), false, true);
    add("hiscore1.bmp", menu_button(label_font, "HIGH SCORE", false), false, true);
    add("exit1.bmp", menu_button(label_font, "EXIT", false), false, true);
    add("newgame2.bmp", menu_button(label_font, "NEW GAME", true), false, true);
    add("hiscore2.bmp", menu_button(label_font, "HIGH SCORE", true), false, true);
    add("exit2.bmp", menu_button(label_font, "EXIT", true), false, true);
    add("left.bmp", side_panel(true), false, true);
    add("right.bmp", side_panel(false), false, true);
    add("konsol.bmp", console(small_font), true, true);
    add("player.bmp", player_ship(), true, false);
    for (int i = 1; i <= 5; ++i) add("dusman0" + std::to_string(i) + ".bmp", enemy_ship(i), true, false);
    add("missile.bmp", player_shot(), true, false);
    add("enemy_missile.bmp", enemy_shot(), true, false);
    for (int f : {1, 3, 5, 7}) add("patlama0" + std::to_string(f) + ".bmp", explosion(f), true, false);

    if (music_thread.joinable()) music_thread.join();
    if (!music_ok) return fail(music_err);

    for (const Asset& a : assets)
        if (!save_bmp(a.pix, opt.out + "/" + a.file))
            return fail("cannot write " + a.file + ": " + SDL_GetError());

    // The font ships unchanged, with its licence beside it.
    std::vector<uint8_t> bytes;
    if (!read_file(opt.font, bytes) || !write_file(opt.out + "/arial.ttf", bytes))
        return fail("cannot copy the font");
    std::vector<uint8_t> lic;
    for (const std::string& l : opt.licenses) {
        if (!read_file(l, bytes)) return fail("cannot read " + l);
        if (!lic.empty()) {
            const char* sep =
                "\n\n------------------------------------------------------------------------\n\n";
            lic.insert(lic.end(), sep, sep + std::strlen(sep));
        }
        lic.insert(lic.end(), bytes.begin(), bytes.end());
    }
    if (!write_file(opt.out + "/LICENSE-font.txt", lic)) return fail("cannot write LICENSE-font.txt");

    if (!opt.preview.empty() && !write_file(opt.preview, encode_png(contact_sheet(assets, label_font))))
        return fail("cannot write " + opt.preview);
    if (!opt.mock.empty()) {
        if (!write_file(opt.mock + "/mock-menu.png", encode_png(mock_menu(assets, score_font))) ||
            !write_file(opt.mock + "/mock-play.png", encode_png(mock_play(assets, score_font))))
            return fail("cannot write the mock screens");
    }

    if (!opt.icons.empty()) {
        std::filesystem::create_directories(opt.icons, ec);
        // The desktop's sizes, and the web app's (its manifest asks for 192 and 512).
        for (int size : {64, 128, 192, 512}) {
            const std::string path = opt.icons + "/quorvane-" + std::to_string(size) + ".png";
            if (ec || !write_file(path, encode_png_rgba(app_icon(size)))) return fail("cannot write " + path);
        }
    }

    TTF_CloseFont(label_font);
    TTF_CloseFont(small_font);
    TTF_CloseFont(score_font);
    TTF_Quit();
    SDL_Quit();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("quorvane_datagen: wrote %zu images, font, licence%s in %.1f s\n", assets.size(),
                opt.music ? ", music" : "", secs);
    return 0;
}
