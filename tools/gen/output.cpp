#include "output.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "SDL.h"

bool near_key(uint8_t r, uint8_t g, uint8_t b)
{
    return r >= 248 && g <= 3 && b >= 248;
}

uint8_t snap565(float v, int bits, float threshold)
{
    int maxl = (1 << bits) - 1;
    int l = int(std::floor(clamp01(v) * float(maxl) + threshold));
    if (l > maxl) l = maxl;
    if (l < 0) l = 0;
    // Replicating the top bits fills the low ones, so 31 -> 255 and the
    // game's truncating conversion gives back exactly l.
    return bits == 5 ? uint8_t((l << 3) | (l >> 2)) : uint8_t((l << 2) | (l >> 4));
}

static const float bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

Pix finalize(const Img& im, bool keyed, bool dither)
{
    Pix p;
    p.w = im.w;
    p.h = im.h;
    p.rgb.assign(size_t(im.w) * im.h * 3, 0);
    for (int y = 0; y < im.h; ++y)
        for (int x = 0; x < im.w; ++x) {
            uint8_t* d = p.px(x, y);
            if (im.al(x, y) < 0.5f) {
                if (keyed) d[0] = key_red, d[1] = key_green, d[2] = key_blue;
                continue;
            }
            float t = dither ? (bayer[y & 3][x & 3] + 0.5f) / 16.f : 0.5f;
            const Col& c = im.at(x, y);
            d[0] = snap565(c.r, 5, t);
            d[1] = snap565(c.g, 6, t);
            d[2] = snap565(c.b, 5, t);
            // Nudge green so an opaque magenta never vanishes as the key.
            if (near_key(d[0], d[1], d[2])) d[1] = 4;
        }
    return p;
}

bool save_bmp(const Pix& p, const std::string& path)
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, p.w, p.h, 24,
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
                                          0x0000FF, 0x00FF00, 0xFF0000,
#else
                                          0xFF0000, 0x00FF00, 0x0000FF,
#endif
                                          0);
    if (!s) return false;
    SDL_LockSurface(s);
    for (int y = 0; y < p.h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch;
        std::memcpy(row, p.px(0, y), size_t(p.w) * 3);
    }
    SDL_UnlockSurface(s);
    int rc = SDL_SaveBMP(s, path.c_str());
    SDL_FreeSurface(s);
    return rc == 0;
}

static void put32(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x >> 24));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

static void chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    put32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + start, uInt(out.size() - start));
    put32(out, uint32_t(crc));
}

// 8-bit PNG of RGB (colour type 2) or RGBA (type 6) rows, top row first.
static std::vector<uint8_t> encode_rows(int w, int h, int channels, const uint8_t* pixels)
{
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put32(ihdr, uint32_t(w));
    put32(ihdr, uint32_t(h));
    ihdr.insert(ihdr.end(), {8, uint8_t(channels == 4 ? 6 : 2), 0, 0, 0});  // no interlace
    chunk(out, "IHDR", ihdr);

    // "Up" filter on every row: cheap and compresses flat art well.
    size_t stride = size_t(w) * channels;
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * h);
    for (int y = 0; y < h; ++y) {
        raw.push_back(2);
        const uint8_t* row = pixels + stride * y;
        const uint8_t* prev = y ? row - stride : nullptr;
        for (size_t i = 0; i < stride; ++i) raw.push_back(uint8_t(row[i] - (prev ? prev[i] : 0)));
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(zlen);
    if (compress2(z.data(), &zlen, raw.data(), uLong(raw.size()), 9) != Z_OK) return {};
    z.resize(zlen);
    chunk(out, "IDAT", z);
    chunk(out, "IEND", {});
    return out;
}

std::vector<uint8_t> encode_png(const Pix& p)
{
    return encode_rows(p.w, p.h, 3, p.rgb.data());
}

std::vector<uint8_t> encode_png_rgba(const Img& im)
{
    std::vector<uint8_t> rgba(size_t(im.w) * im.h * 4);
    for (size_t i = 0; i < im.c.size(); ++i) {
        rgba[i * 4 + 0] = uint8_t(clamp01(im.c[i].r) * 255.f + 0.5f);
        rgba[i * 4 + 1] = uint8_t(clamp01(im.c[i].g) * 255.f + 0.5f);
        rgba[i * 4 + 2] = uint8_t(clamp01(im.c[i].b) * 255.f + 0.5f);
        rgba[i * 4 + 3] = uint8_t(clamp01(im.a[i]) * 255.f + 0.5f);
    }
    return encode_rows(im.w, im.h, 4, rgba.data());
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool read_file(const std::string& path, std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return true;
}
