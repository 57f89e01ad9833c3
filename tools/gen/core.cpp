#include "core.h"

#include <algorithm>
#include <cmath>

Col rgb(int r, int g, int b)
{
    return {r / 255.f, g / 255.f, b / 255.f};
}
Col hex(uint32_t v)
{
    return rgb(int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255));
}
Col mix(Col a, Col b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Col operator*(Col a, float s)
{
    return {a.r * s, a.g * s, a.b * s};
}
Col operator*(Col a, Col b)
{
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}
Col operator+(Col a, Col b)
{
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
float luma(Col c)
{
    return 0.299f * c.r + 0.587f * c.g + 0.114f * c.b;
}
float clamp01(float v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}
float smoothstep(float e0, float e1, float x)
{
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

Col Ramp::at(float t) const
{
    if (stops.empty()) return {};
    if (stops.size() == 1) return stops[0];
    t = clamp01(t) * float(stops.size() - 1);
    int i = std::min(int(t), int(stops.size()) - 2);
    return mix(stops[size_t(i)], stops[size_t(i) + 1], t - float(i));
}

Col Ramp::band(float t) const
{
    if (stops.empty()) return {};
    int i = int(std::lround(clamp01(t) * float(stops.size() - 1)));
    return stops[size_t(i)];
}

void Img::put(int x, int y, Col col, float alpha)
{
    if (!in(x, y) || alpha <= 0) return;
    alpha = std::min(alpha, 1.f);
    Col& d = at(x, y);
    float& da = al(x, y);
    // Straight "over" with coverage; colours stay un-premultiplied.
    float oa = alpha + da * (1 - alpha);
    if (oa > 0) d = (col * alpha + d * (da * (1 - alpha))) * (1.f / oa);
    da = oa;
}

void Img::fill(Col col, float alpha)
{
    std::fill(c.begin(), c.end(), col);
    std::fill(a.begin(), a.end(), alpha);
}

uint32_t Rng::next()
{
    // splitmix64
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return uint32_t((z ^ (z >> 31)) >> 32);
}
float Rng::uni()
{
    return float(next() >> 8) * (1.f / 16777216.f);
}
float Rng::range(float lo, float hi)
{
    return lo + (hi - lo) * uni();
}
int Rng::irange(int lo, int hi)
{
    return lo + int(next() % uint32_t(hi - lo + 1));
}

float hash2(int x, int y, uint32_t seed)
{
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return float(h & 0xFFFFFF) / 16777215.f;
}

static int wrapi(int v, int p)
{
    if (p <= 0) return v;
    v %= p;
    return v < 0 ? v + p : v;
}

float value_noise(float x, float y, uint32_t seed, int px, int py)
{
    float fx = std::floor(x), fy = std::floor(y);
    int ix = int(fx), iy = int(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    auto v = [&](int a, int b) { return hash2(wrapi(a, px), wrapi(b, py), seed); };
    float a = v(ix, iy), b = v(ix + 1, iy), c = v(ix, iy + 1), d = v(ix + 1, iy + 1);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float fbm(float x, float y, uint32_t seed, int octaves, int px, int py)
{
    float sum = 0, amp = 0.5f, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * value_noise(x, y, seed + uint32_t(i) * 101u, px, py);
        norm += amp;
        x *= 2;
        y *= 2;
        px *= 2;
        py *= 2;
        amp *= 0.5f;
    }
    return sum / norm;
}

float sd_box(float px, float py, float cx, float cy, float hx, float hy, float r)
{
    float qx = std::fabs(px - cx) - (hx - r), qy = std::fabs(py - cy) - (hy - r);
    float ox = std::max(qx, 0.f), oy = std::max(qy, 0.f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.f) - r;
}

float sd_circle(float px, float py, float cx, float cy, float r)
{
    return std::hypot(px - cx, py - cy) - r;
}

float sd_segment(float px, float py, float ax, float ay, float bx, float by)
{
    float pax = px - ax, pay = py - ay, bax = bx - ax, bay = by - ay;
    float l2 = bax * bax + bay * bay;
    float t = l2 > 0 ? clamp01((pax * bax + pay * bay) / l2) : 0.f;
    return std::hypot(pax - bax * t, pay - bay * t);
}

float sd_poly(float px, float py, const std::vector<P2>& v)
{
    float d = 1e9f;
    bool inside = false;
    size_t n = v.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        d = std::min(d, sd_segment(px, py, v[j].x, v[j].y, v[i].x, v[i].y));
        if (((v[i].y > py) != (v[j].y > py)) &&
            (px < (v[j].x - v[i].x) * (py - v[i].y) / (v[j].y - v[i].y) + v[i].x))
            inside = !inside;
    }
    return inside ? -d : d;
}

std::vector<P2> mirror_x(const std::vector<P2>& half, float axis)
{
    std::vector<P2> out = half;
    for (size_t i = half.size(); i-- > 0;) {
        P2 p{2 * axis - half[i].x, half[i].y};
        if (std::fabs(p.x - half[i].x) < 1e-4f) continue;  // point on the axis
        out.push_back(p);
    }
    return out;
}

GBuf::GBuf(int w_, int h_)
    : w(w_),
      h(h_),
      height(size_t(w_) * h_, 0.f),
      albedo(size_t(w_) * h_),
      emit(size_t(w_) * h_),
      gloss(size_t(w_) * h_, 0.f),
      cover(size_t(w_) * h_, 0.f)
{
}

static float bevel_profile(float depth, float bevel)
{
    if (bevel <= 0) return 1.f;
    float t = clamp01(depth / bevel);
    return std::sqrt(1 - (1 - t) * (1 - t));
}

void GBuf::raise(const Sdf& f, float elev, float bevel, Col col, float glossv)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float d = f(x + 0.5f, y + 0.5f);
            if (d >= 0) continue;
            size_t i = idx(x, y);
            height[i] = elev * (bevel > 0 ? 0.35f + 0.65f * bevel_profile(-d, bevel) : 1.f);
            albedo[i] = col;
            gloss[i] = glossv;
            emit[i] = {};
            cover[i] = 1;
        }
}

void GBuf::bump(const Sdf& f, float amount, float bevel, Col col, float glossv)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float d = f(x + 0.5f, y + 0.5f);
            if (d >= 0) continue;
            size_t i = idx(x, y);
            height[i] += amount * bevel_profile(-d, bevel);
            albedo[i] = col;
            gloss[i] = glossv;
            cover[i] = 1;
        }
}

void GBuf::groove(const Sdf& f, float width, float depth, float darken)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            size_t i = idx(x, y);
            if (cover[i] <= 0) continue;
            float d = std::fabs(f(x + 0.5f, y + 0.5f));
            if (d >= width) continue;
            float t = 1 - d / width;
            height[i] -= depth * t;
            albedo[i] = albedo[i] * (1 - (1 - darken) * t);
        }
}

void GBuf::paint(const Sdf& f, Col col)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (f(x + 0.5f, y + 0.5f) < 0 && cover[idx(x, y)] > 0) albedo[idx(x, y)] = col;
}

void GBuf::paint_fn(const Sdf& f, const std::function<Col(int, int, Col)>& fn)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (f(x + 0.5f, y + 0.5f) < 0 && cover[idx(x, y)] > 0)
                albedo[idx(x, y)] = fn(x, y, albedo[idx(x, y)]);
}

void GBuf::glow(const Sdf& f, Col col)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (f(x + 0.5f, y + 0.5f) < 0) {
                size_t i = idx(x, y);
                emit[i] = col;
                cover[i] = 1;
            }
}

Img shade(const GBuf& g, const Light& light)
{
    Img out(g.w, g.h);
    float ll = std::sqrt(light.lx * light.lx + light.ly * light.ly + light.lz * light.lz);
    float lx = light.lx / ll, ly = light.ly / ll, lz = light.lz / ll;
    float hx = lx, hy = ly, hz = lz + 1;
    float hl = std::sqrt(hx * hx + hy * hy + hz * hz);
    hx /= hl, hy /= hl, hz /= hl;
    auto height_at = [&](int x, int y) -> float {
        if (g.wrap_y) y = ((y % g.h) + g.h) % g.h;
        if (x < 0 || y < 0 || x >= g.w || y >= g.h) return 0.f;
        return g.height[g.idx(x, y)];
    };
    float lxy = std::sqrt(lx * lx + ly * ly);
    for (int y = 0; y < g.h; ++y)
        for (int x = 0; x < g.w; ++x) {
            size_t i = g.idx(x, y);
            if (g.cover[i] <= 0) continue;
            float dx = (height_at(x + 1, y) - height_at(x - 1, y)) * 0.5f;
            float dy = (height_at(x, y + 1) - height_at(x, y - 1)) * 0.5f;
            float nx = -dx, ny = -dy, nz = 1.f;
            float nl = std::sqrt(nx * nx + ny * ny + nz * nz);
            nx /= nl, ny /= nl, nz /= nl;
            float ndl = std::max(0.f, nx * lx + ny * ly + nz * lz);
            float lit = light.ambient + light.diffuse * ndl;
            if (light.shadow_len > 0 && lxy > 1e-3f) {
                float h0 = g.height[i], occl = 0;
                float sx = lx / lxy, sy = ly / lxy, rise = lz / lxy;
                for (float t = 1; t <= light.shadow_len; t += 1) {
                    float hh =
                        height_at(int(std::floor(x + 0.5f + sx * t)), int(std::floor(y + 0.5f + sy * t)));
                    occl = std::max(occl, clamp01((hh - (h0 + rise * t)) * 0.6f));
                }
                lit *= 1 - 0.45f * occl;
            }
            if (light.bands > 0) {
                float top = light.ambient + light.diffuse;
                float q = std::round(lit / top * float(light.bands)) / float(light.bands);
                lit = q * top;
            }
            float gleam = std::pow(std::max(0.f, nx * hx + ny * hy + nz * hz), light.shine_pow) *
                          light.shine * g.gloss[i];
            if (light.bands > 0) gleam = std::round(gleam * 3) / 3;
            Col c = g.albedo[i] * lit + Col{gleam, gleam, gleam * 0.95f} + g.emit[i];
            out.at(x, y) = {clamp01(c.r), clamp01(c.g), clamp01(c.b)};
            out.al(x, y) = 1;
        }
    return out;
}

void outline(Img& im, Col dark, float keep_tone, bool diagonal)
{
    Img src = im;
    for (int y = 0; y < im.h; ++y)
        for (int x = 0; x < im.w; ++x) {
            if (src.al(x, y) >= 0.5f) continue;
            Col sum{};
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!dx && !dy) continue;
                    if (!diagonal && dx && dy) continue;
                    int xx = x + dx, yy = y + dy;
                    if (!src.in(xx, yy) || src.al(xx, yy) < 0.5f) continue;
                    sum = sum + src.at(xx, yy);
                    ++n;
                }
            if (!n) continue;
            im.at(x, y) = mix(dark, sum * (1.f / float(n)), keep_tone);
            im.al(x, y) = 1;
        }
}
