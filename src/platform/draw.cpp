#include "platform/draw.h"

#include <algorithm>
#include <array>

#include "game.h"

#ifdef __EMSCRIPTEN__
// A browser's surfaces are canvases: their pixel memory is a copy, taken and
// put back whole by a lock. There the pixels written between lock and unlock
// are gathered instead, and filled in place in one call at the unlock.
extern "C" void quorvane_fill_pixels(SDL_Surface* surface, const uint32_t* pixels, int count);

static struct {
    SDL_Surface* surface;
    std::array<uint32_t, 3 * 1024> pixels;  // x, y, mapped colour
    int count;
} batch;

static void flush_pixels()
{
    if (batch.count > 0) quorvane_fill_pixels(batch.surface, batch.pixels.data(), batch.count);
    batch.count = 0;
}

bool lock_pixels(SDL_Surface* surface)
{
    flush_pixels();
    batch.surface = surface;
    return true;
}

void unlock_pixels(SDL_Surface* surface)
{
    if (surface == batch.surface) flush_pixels();
    batch.surface = nullptr;
}

void put_pixel(SDL_Surface* surface, int x, int y, int red, int green, int blue)
{
    // Mapped as the browser's SDL_MapRGB maps it, without a call out to it per pixel.
    const Uint32 value = static_cast<Uint32>(red & 0xFF) | static_cast<Uint32>(green & 0xFF) << 8 |
                         static_cast<Uint32>(blue & 0xFF) << 16 | 0xFF000000u;
    if (surface != batch.surface || batch.count == static_cast<int>(batch.pixels.size() / 3)) flush_pixels();
    uint32_t* p = batch.pixels.data() + 3 * batch.count++;
    p[0] = static_cast<uint32_t>(x);
    p[1] = static_cast<uint32_t>(y);
    p[2] = value;
    if (surface != batch.surface) flush_pixels();  // unlocked: written at once
}
#else
bool lock_pixels(SDL_Surface* surface)
{
    return !SDL_MUSTLOCK(surface) || SDL_LockSurface(surface) == 0;
}

void unlock_pixels(SDL_Surface* surface)
{
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
}

// No bounds checks here: callers pass coordinates inside the surface.
void put_pixel(SDL_Surface* surface, int x, int y, int red, int green, int blue)
{
    const Uint32 value = SDL_MapRGB(surface->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                                    static_cast<Uint8>(blue));
    const int pitch = surface->pitch;
    auto* bytes = static_cast<Uint8*>(surface->pixels);
    switch (surface->format->BytesPerPixel) {
    case 1: bytes[y * pitch + x] = static_cast<Uint8>(value); break;
    case 2: static_cast<Uint16*>(surface->pixels)[y * pitch / 2 + x] = static_cast<Uint16>(value); break;
    case 3: {
        Uint8* p = bytes + y * pitch + 3 * x;
        p[0] = static_cast<Uint8>(value);
        p[1] = static_cast<Uint8>(value >> 8);
        p[2] = static_cast<Uint8>(value >> 16);
        break;
    }
    case 4: static_cast<Uint32*>(surface->pixels)[y * pitch / 4 + x] = value; break;
    default: break;
    }
}
#endif

void fill_box(int x, int y, int width, int height, uint32_t colour)
{
    SDL_Rect r{static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(width),
               static_cast<Uint16>(height)};
    SDL_FillRect(game.screen, &r, colour);
}

void clear_surface(SDL_Surface* surface, int red, int green, int blue)
{
    SDL_FillRect(surface, nullptr,
                 SDL_MapRGB(surface->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                            static_cast<Uint8>(blue)));
}

// A keyed copy tests every pixel against the key, which costs a runtime
// without run-length encoding (sdl12-compat) about eight instructions a
// pixel. Such an image is cut at load into pieces: parts with no key colour
// are copied from a plain copy of the image, parts wholly of the key colour
// are left out, and only the rest is copied keyed. Each destination pixel
// gets what the keyed copy of the whole image would give it.
namespace {

struct Piece {
    Sint16 x, y;
    Uint16 w, h;
    bool keyed;  // from the keyed image; otherwise from the plain copy
};

struct Cut {
    SDL_Surface* image;  // held by one reference of ours, so its address stays its own
    SDL_Surface* plain;
    int first, count;  // in pieces
};

constexpr int cut_capacity = 64;
constexpr int piece_capacity = 2048;
std::array<Cut, cut_capacity> cuts;
std::array<Piece, piece_capacity> pieces;
int cut_count = 0, piece_count = 0;

// What a piece costs, in fortieths of a keyed pixel, as measured on
// sdl12-compat: starting a copy costs as much as about 57 keyed pixels, a row
// of a plain copy 6 (a call to memcpy), a plain pixel 1/40.
constexpr int64_t copy_cost = 2300, plain_row_cost = 240, plain_pixel_cost = 1, keyed_row_cost = 40,
                  keyed_pixel_cost = 40;

enum Kind : uint8_t { EMPTY, SOLID, MIXED };

int64_t cost(Kind kind, int w, int h)
{
    switch (kind) {
    case EMPTY: return 0;
    case SOLID: return copy_cost + h * (plain_row_cost + w * plain_pixel_cost);
    case MIXED: return copy_cost + h * (keyed_row_cost + w * keyed_pixel_cost);
    }
    return 0;
}

constexpr int widest_cut = 1024;
constexpr int runs_per_piece = 32;  // bounds the search; wider mixed stretches are split

// A plan being made: pieces in bands of rows, a piece extended downwards
// while the next band has one of the same columns and kind.
struct Plan {
    std::array<Piece, piece_capacity> pieces;
    int count = 0;
    int64_t cost = 0;
    bool full = false;
    // The pieces that end at the last band's bottom, and those of the band being planned.
    std::array<int, widest_cut> open, next_open;
    int open_count = 0;
};

// How many pixels of each column of rows y0..y1-1 hold the key colour.
void count_keyed(const SDL_Surface* plain, Uint32 key, int y0, int y1, std::array<int, widest_cut>& keyed)
{
    const Uint32 colour_mask = plain->format->Rmask | plain->format->Gmask | plain->format->Bmask;
    const int bytes = plain->format->BytesPerPixel;
    std::fill_n(keyed.begin(), plain->w, 0);
    for (int y = y0; y < y1; ++y) {
        const Uint8* row = static_cast<const Uint8*>(plain->pixels) + y * plain->pitch;
        // The display's 16 bits a pixel first: this runs over every pixel of every image.
        if (bytes == 2) {
            const auto* pixels = reinterpret_cast<const Uint16*>(row);
            for (int x = 0; x < plain->w; ++x) keyed[x] += (pixels[x] & colour_mask) == key;
            continue;
        }
        for (int x = 0; x < plain->w; ++x) {
            const Uint8* p = row + x * bytes;
            const Uint32 pixel = bytes == 1   ? p[0]
                                 : bytes == 3 ? p[0] | p[1] << 8 | p[2] << 16
                                              : *reinterpret_cast<const Uint32*>(p);
            keyed[x] += (pixel & colour_mask) == key;
        }
    }
}

// The cheapest cover of one band by pieces: runs of columns of one kind,
// then the best grouping of consecutive runs into pieces, each copied plain
// when it holds no key colour, keyed when it holds both.
void plan_band(Plan& plan, const SDL_Surface* plain, Uint32 key, int y0, int y1)
{
    static std::array<int, widest_cut> keyed;
    count_keyed(plain, key, y0, y1, keyed);
    static std::array<int, widest_cut + 1> run_start;
    static std::array<Kind, widest_cut> run_kind;
    int runs = 0;
    for (int x = 0; x < plain->w; ++x) {
        const Kind kind = keyed[x] == y1 - y0 ? EMPTY : keyed[x] == 0 ? SOLID : MIXED;
        if (runs == 0 || run_kind[runs - 1] != kind) {
            run_start[runs] = x;
            run_kind[runs++] = kind;
        }
    }
    run_start[runs] = plain->w;
    // best[i]: the least cost of the first i runs; from[i]: where its last piece starts.
    static std::array<int64_t, widest_cut + 1> best;
    static std::array<int, widest_cut + 1> from;
    static std::array<Kind, widest_cut + 1> kind_of;
    best[0] = 0;
    for (int i = 1; i <= runs; ++i) {
        best[i] = INT64_MAX;
        bool any_key = false, any_colour = false;
        for (int j = i - 1; j >= 0 && j >= i - runs_per_piece; --j) {
            any_key |= run_kind[j] != SOLID;
            any_colour |= run_kind[j] != EMPTY;
            const Kind kind = !any_colour ? EMPTY : !any_key ? SOLID : MIXED;
            const int64_t c = best[j] + cost(kind, run_start[i] - run_start[j], y1 - y0);
            if (c < best[i]) {
                best[i] = c;
                from[i] = j;
                kind_of[i] = kind;
            }
        }
    }
    plan.cost += best[runs];
    // Back from the last run; a piece joins one that ends just above it with its columns and kind.
    const int open = plan.open_count;
    plan.open_count = 0;
    for (int i = runs; i > 0; i = from[i]) {
        if (kind_of[i] == EMPTY) continue;
        const Piece piece{static_cast<Sint16>(run_start[from[i]]), static_cast<Sint16>(y0),
                          static_cast<Uint16>(run_start[i] - run_start[from[i]]),
                          static_cast<Uint16>(y1 - y0), kind_of[i] == MIXED};
        int index = -1;
        for (int k = 0; k < open && index < 0; ++k) {
            const Piece& above = plan.pieces[plan.open[k]];
            if (above.x == piece.x && above.w == piece.w && above.keyed == piece.keyed) index = plan.open[k];
        }
        if (index >= 0) {
            plan.pieces[index].h = static_cast<Uint16>(plan.pieces[index].h + piece.h);
            plan.cost -= copy_cost;
        } else if (plan.count == piece_capacity) {
            plan.full = true;
            return;
        } else {
            index = plan.count;
            plan.pieces[plan.count++] = piece;
        }
        plan.next_open[plan.open_count++] = index;
    }
    std::copy_n(plan.next_open.begin(), plan.open_count, plan.open.begin());
}

void make_plan(Plan& plan, const SDL_Surface* plain, Uint32 key, int band_height)
{
    plan.count = 0;
    plan.cost = 0;
    plan.full = false;
    plan.open_count = 0;
    for (int y0 = 0; y0 < plain->h && !plan.full; y0 += band_height) {
        plan_band(plan, plain, key, y0, std::min(y0 + band_height, plain->h));
    }
}

// Cuts whose image only we still hold (the game has freed it) are freed.
void drop_freed_cuts()
{
    int kept = 0, kept_pieces = 0;
    for (int c = 0; c < cut_count; ++c) {
        Cut cut = cuts[c];
        if (cut.image->refcount <= 1) {
            SDL_FreeSurface(cut.plain);
            SDL_FreeSurface(cut.image);
            continue;
        }
        std::copy_n(pieces.begin() + cut.first, cut.count, pieces.begin() + kept_pieces);
        cut.first = kept_pieces;
        kept_pieces += cut.count;
        cuts[kept++] = cut;
    }
    cut_count = kept;
    piece_count = kept_pieces;
}

const Cut* find_cut(const SDL_Surface* image)
{
    for (int c = 0; c < cut_count; ++c) {
        if (cuts[c].image == image) return &cuts[c];
    }
    return nullptr;
}

}  // namespace

void cut_keyed_image(SDL_Surface* image, SDL_Surface* plain, int red, int green, int blue)
{
#ifdef __EMSCRIPTEN__
    // A browser copies a keyed image in one go, its see-through pixels
    // tested by nobody: pieces would only add copies.
    (void)image, (void)red, (void)green, (void)blue;
    SDL_FreeSurface(plain);
    return;
#endif
    // Where the runtime run-length encodes the image (its first copy does
    // it), keyed copies are cheap already. Copying the image onto its own
    // plain copy changes no pixel.
    SDL_UpperBlit(image, nullptr, plain, nullptr);
    drop_freed_cuts();
    if ((image->flags & SDL_RLEACCEL) != 0 || plain->w > widest_cut || cut_count == cut_capacity ||
        SDL_LockSurface(plain) < 0) {
        SDL_FreeSurface(plain);
        return;
    }
    const Uint32 key = SDL_MapRGB(plain->format, static_cast<Uint8>(red), static_cast<Uint8>(green),
                                  static_cast<Uint8>(blue)) &
                       (plain->format->Rmask | plain->format->Gmask | plain->format->Bmask);
    // Bands of a few heights; the cheapest plan is kept.
    static Plan plans[2];
    int best = -1;
    for (int band_height : {1, 4, 8, 16}) {
        Plan& plan = plans[best == 0 ? 1 : 0];
        make_plan(plan, plain, key, band_height);
        if (!plan.full && (best < 0 || plan.cost < plans[best].cost)) best = &plan - plans;
    }
    SDL_UnlockSurface(plain);
    if (best < 0 || piece_count + plans[best].count > piece_capacity) {
        SDL_FreeSurface(plain);
        return;
    }
    const Plan& plan = plans[best];
    std::copy_n(plan.pieces.begin(), plan.count, pieces.begin() + piece_count);
    ++image->refcount;
    cuts[cut_count++] = Cut{image, plain, piece_count, plan.count};
    piece_count += plan.count;
}

// The part of a piece inside the source rectangle, copied where the whole
// rectangle copied to (x, y) would put it.
static void blit_pieces(const Cut& cut, int src_x, int src_y, int width, int height, int x, int y)
{
    for (int i = cut.first; i < cut.first + cut.count; ++i) {
        const Piece& p = pieces[i];
        const int left = std::max<int>(p.x, src_x), top = std::max<int>(p.y, src_y);
        const int right = std::min(p.x + p.w, src_x + width), bottom = std::min(p.y + p.h, src_y + height);
        if (left >= right || top >= bottom) continue;
        SDL_Rect src{static_cast<Sint16>(left), static_cast<Sint16>(top), static_cast<Uint16>(right - left),
                     static_cast<Uint16>(bottom - top)};
        SDL_Rect dest{static_cast<Sint16>(x + left - src_x), static_cast<Sint16>(y + top - src_y), 0, 0};
        SDL_UpperBlit(p.keyed ? cut.image : cut.plain, &src, game.screen, &dest);
    }
}

// A missing image (a score that failed to render) draws nothing.
void blit_at(SDL_Surface* image, int x, int y)
{
    if (image == nullptr) return;
    if (const Cut* cut = find_cut(image)) return blit_pieces(*cut, 0, 0, image->w, image->h, x, y);
    SDL_Rect dest{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_UpperBlit(image, nullptr, game.screen, &dest);
}

void blit_region(SDL_Surface* image, int src_x, int src_y, int width, int height, int x, int y)
{
    if (const Cut* cut = find_cut(image)) return blit_pieces(*cut, src_x, src_y, width, height, x, y);
    SDL_Rect src{static_cast<Sint16>(src_x), static_cast<Sint16>(src_y), static_cast<Uint16>(width),
                 static_cast<Uint16>(height)};
    SDL_Rect dest{static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_UpperBlit(image, &src, game.screen, &dest);
}

// UTF-8 text in one colour, see-through around the letters, converted to the
// screen's format so that drawing it every frame costs a plain keyed copy.
// Null when the text cannot be rendered.
SDL_Surface* render_text(TTF_Font* font, const char* text, SDL_Color colour)
{
    if (font == nullptr || text[0] == '\0') return nullptr;
    SDL_Surface* rendered = TTF_RenderUTF8_Solid(font, text, colour);
    if (rendered == nullptr) return nullptr;
    SDL_Surface* converted = SDL_DisplayFormat(rendered);
    SDL_FreeSurface(rendered);
    return converted;
}
