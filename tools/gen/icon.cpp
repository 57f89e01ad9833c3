// The desktop icon: the player's ship on a round night-sky badge, at any size.
#include <cmath>

#include "art.h"

Img app_icon(int size)
{
    Img out(size, size);
    const Img ship = player_ship();
    const float c = size / 2.f, r = size * 0.48f;
    constexpr int subsamples = 4;  // subsamples per axis: smooth edges at every size
    // The ship fills most of the badge, centred, keeping its proportions.
    const float scale = size * 0.84f / ship.w;
    const float sx0 = c - ship.w * scale / 2.f, sy0 = c - ship.h * scale / 2.f + size * 0.02f;
    Rng rng(7);
    std::vector<P2> stars;
    for (int i = 0; i < 14; ++i) stars.push_back({rng.range(0.f, 1.f), rng.range(0.f, 1.f)});

    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Col acc;
            float cover = 0.f;
            for (int j = 0; j < subsamples; ++j) {
                for (int i = 0; i < subsamples; ++i) {
                    const float px = x + (i + 0.5f) / subsamples, py = y + (j + 0.5f) / subsamples;
                    const float d = std::hypot(px - c, py - c);
                    if (d > r) continue;
                    // Deep blue sky, lighter towards the top, with a cyan rim.
                    Col col = mix(hex(0x1b2f5e), hex(0x070b1c), clamp01((py - c + r) / (2.f * r)));
                    if (d > r - size / 28.f) col = hex(0x5fd3f0);
                    for (const P2& s : stars) {
                        if (std::fabs(px - s.x * size) < size / 90.f + 0.5f &&
                            std::fabs(py - s.y * size) < size / 90.f + 0.5f)
                            col = hex(0xc8d4ee);
                    }
                    const int u = int(std::floor((px - sx0) / scale)),
                              v = int(std::floor((py - sy0) / scale));
                    if (ship.in(u, v) && ship.al(u, v) >= 0.5f) col = ship.at(u, v);
                    acc = acc + col;
                    cover += 1.f;
                }
            }
            if (cover > 0.f) out.put(x, y, acc * (1.f / cover), cover / (subsamples * subsamples));
        }
    }
    return out;
}
