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
#include <vector>

#include "SDL.h"
#include "SDL_ttf.h"

#include "art.hpp"
#include "music.hpp"
#include "output.hpp"
#include "preview.hpp"

using namespace qv;

namespace {

int fail(const std::string& msg) {
    std::fprintf(stderr, "quorvane_datagen: %s\n", msg.c_str());
    return 1;
}

struct Options {
    std::string out, font, lame, preview, mock, icons;
    std::vector<std::string> licenses;
    bool music = true;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto val = [&](std::string& dst) {
            if (i + 1 >= argc) return false;
            dst = argv[++i];
            return true;
        };
        if (a == "--out") { if (!val(o.out)) return false; }
        else if (a == "--font") { if (!val(o.font)) return false; }
        else if (a == "--lame") { if (!val(o.lame)) return false; }
        else if (a == "--preview") { if (!val(o.preview)) return false; }
        else if (a == "--mock") { if (!val(o.mock)) return false; }
        else if (a == "--icons") { if (!val(o.icons)) return false; }
        else if (a == "--license") { o.licenses.emplace_back(); if (!val(o.licenses.back())) return false; }
        else if (a == "--no-music") o.music = false;
        else return false;
    }
    return !o.out.empty() && !o.font.empty() && (!o.music || !o.lame.empty());
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parse(argc, argv, opt))
        return fail("usage: --out DIR --font TTF --license FILE... [--lame PATH | --no-music] [--preview PNG] [--mock DIR] [--icons DIR]");
    auto t0 = std::chrono::steady_clock::now();
    std::error_code ec;
    std::filesystem::create_directories(opt.out, ec);
    if (ec) return fail("cannot create " + opt.out + ": " + ec.message());

    // Surfaces and SDL_SaveBMP need no video; keep any driver from opening.
    if (SDL_Init(0) != 0) return fail(std::string("SDL_Init: ") + SDL_GetError());
    if (TTF_Init() != 0) return fail(std::string("TTF_Init: ") + TTF_GetError());
    TTF_Font* labelFont = TTF_OpenFont(opt.font.c_str(), 19);
    TTF_Font* smallFont = TTF_OpenFont(opt.font.c_str(), 8);
    TTF_Font* scoreFont = TTF_OpenFont(opt.font.c_str(), 12);
    if (!labelFont || !smallFont || !scoreFont) return fail("cannot open font " + opt.font);

    // The music is independent of everything else; render and encode it
    // while the images are drawn.
    std::string musicErr;
    bool musicOk = true;
    std::thread musicThread;
    if (opt.music)
        musicThread = std::thread([&] { musicOk = makeMusic(opt.out + "/tavik-shootemup.mp3", opt.lame, musicErr); });

    std::vector<Asset> assets;
    auto add = [&](const std::string& file, const Img& im, bool keyed, bool dither) {
        assets.push_back({file, finalize(im, keyed, dither), keyed});
    };
    add("bg.bmp", menuBackground(), true, true);
    add("newgame1.bmp", menuButton(labelFont, "NEW GAME", false), false, true);
    add("hiscore1.bmp", menuButton(labelFont, "HIGH SCORE", false), false, true);
    add("exit1.bmp", menuButton(labelFont, "EXIT", false), false, true);
    add("newgame2.bmp", menuButton(labelFont, "NEW GAME", true), false, true);
    add("hiscore2.bmp", menuButton(labelFont, "HIGH SCORE", true), false, true);
    add("exit2.bmp", menuButton(labelFont, "EXIT", true), false, true);
    add("left.bmp", sidePanel(true), false, true);
    add("right.bmp", sidePanel(false), false, true);
    add("konsol.bmp", console(smallFont), true, true);
    add("player.bmp", playerShip(), true, false);
    for (int i = 1; i <= 5; ++i) add("dusman0" + std::to_string(i) + ".bmp", enemyShip(i), true, false);
    add("missile.bmp", playerShot(), true, false);
    add("enemy_missile.bmp", enemyShot(), true, false);
    for (int f : {1, 3, 5, 7}) add("patlama0" + std::to_string(f) + ".bmp", explosion(f), true, false);

    if (musicThread.joinable()) musicThread.join();
    if (!musicOk) return fail(musicErr);

    for (const Asset& a : assets)
        if (!saveBmp(a.pix, opt.out + "/" + a.file)) return fail("cannot write " + a.file + ": " + SDL_GetError());

    // The font ships unchanged, with its licence beside it.
    std::vector<uint8_t> bytes;
    if (!readFile(opt.font, bytes) || !writeFile(opt.out + "/arial.ttf", bytes)) return fail("cannot copy the font");
    std::vector<uint8_t> lic;
    for (const std::string& l : opt.licenses) {
        if (!readFile(l, bytes)) return fail("cannot read " + l);
        if (!lic.empty()) {
            const char* sep = "\n\n------------------------------------------------------------------------\n\n";
            lic.insert(lic.end(), sep, sep + std::strlen(sep));
        }
        lic.insert(lic.end(), bytes.begin(), bytes.end());
    }
    if (!writeFile(opt.out + "/LICENSE-font.txt", lic)) return fail("cannot write LICENSE-font.txt");

    if (!opt.preview.empty() && !writeFile(opt.preview, encodePng(contactSheet(assets, labelFont))))
        return fail("cannot write " + opt.preview);
    if (!opt.mock.empty()) {
        if (!writeFile(opt.mock + "/mock-menu.png", encodePng(mockMenu(assets, scoreFont))) ||
            !writeFile(opt.mock + "/mock-play.png", encodePng(mockPlay(assets, scoreFont))))
            return fail("cannot write the mock screens");
    }

    if (!opt.icons.empty()) {
        std::filesystem::create_directories(opt.icons, ec);
        for (int size : {64, 128}) {
            const std::string path = opt.icons + "/quorvane-" + std::to_string(size) + ".png";
            if (ec || !writeFile(path, encodePngRgba(appIcon(size)))) return fail("cannot write " + path);
        }
    }

    TTF_CloseFont(labelFont);
    TTF_CloseFont(smallFont);
    TTF_CloseFont(scoreFont);
    TTF_Quit();
    SDL_Quit();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("quorvane_datagen: wrote %zu images, font, licence%s in %.1f s\n", assets.size(),
                opt.music ? ", music" : "", secs);
    return 0;
}
