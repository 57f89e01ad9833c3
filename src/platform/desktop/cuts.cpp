// Image copies on a desktop, by cuts. A keyed copy through the library tests
// every pixel against the key (sdl12-compat does not run-length encode), and
// each copy has a fixed cost of its own besides; the classic runtime copies
// plain images slowly too. So each image is read once instead, at load or as
// its text is rendered, into a cut: a keyed image's runs, per row, of pixels
// that are not the key colour, drawn by copying those runs straight into the
// screen; a plain image is drawn by copying its rows. The screen has the
// image's format (both are the display format), so each pixel drawn is the
// one the library's copy gives.
#include "platform/cuts.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "game.h"
#include "platform/draw.h"

namespace {

struct Run {
    Uint16 x, width;
};

// The cuts are found by the image's address. The game frees images whenever
// it likes (the high-score screen's texts as it closes), and the library
// may then hand the same address to a new image, which would be drawn with the
// old one's runs. So a cut holds a reference of its own (refcount + 1): the
// game's SDL_FreeSurface only gives its reference back, and the address stays
// taken until drop_freed_cuts sees ours alone left and frees the image.
struct Cut {
    SDL_Surface* image;
    int first_row;  // a keyed image's rows' starts, image->h + 1 of them, in row_start
    bool keyed;
};

// Room for the game's images and every text of a full high-score table with
// the longest names, and more: an image beyond it is copied by the library.
constexpr int cut_capacity = 128;
constexpr int row_capacity = 4096;
constexpr int run_capacity = 32768;
std::array<Cut, cut_capacity> cuts;
std::array<int, row_capacity> row_start;  // where a row's runs start in runs
std::array<Run, run_capacity> runs;
int cut_count = 0, row_count = 0, run_count = 0;

// Cuts whose image only we still hold (the game has freed it) are freed, and
// the others' rows and runs moved down over theirs.
void drop_freed_cuts()
{
    int kept = 0, kept_rows = 0, kept_runs = 0;
    for (int c = 0; c < cut_count; ++c) {
        Cut cut = cuts[c];
        if (cut.image->refcount <= 1) {
            SDL_FreeSurface(cut.image);
            continue;
        }
        if (!cut.keyed) {
            cuts[kept++] = cut;
            continue;
        }
        const int rows = cut.image->h + 1, first_run = row_start[cut.first_row];
        const int last_run = row_start[cut.first_row + rows - 1];
        // Until a cut is dropped, the kept ones stay where they are.
        if (cut.first_row != kept_rows) {
            std::copy(runs.begin() + first_run, runs.begin() + last_run, runs.begin() + kept_runs);
            for (int r = 0; r < rows; ++r)
                row_start[kept_rows + r] = row_start[cut.first_row + r] - first_run + kept_runs;
        }
        cut.first_row = kept_rows;
        kept_rows += rows;
        kept_runs += last_run - first_run;
        cuts[kept++] = cut;
    }
    cut_count = kept;
    row_count = kept_rows;
    run_count = kept_runs;
}

const Cut* find_cut(const SDL_Surface* image)
{
    for (int c = 0; c < cut_count; ++c) {
        if (cuts[c].image == image) return &cuts[c];
    }
    return nullptr;
}

Uint32 read_pixel(const Uint8* p, int bytes)
{
    switch (bytes) {
    case 2: return *reinterpret_cast<const Uint16*>(p);
    case 3: return p[0] | p[1] << 8 | p[2] << 16;
    default: return *reinterpret_cast<const Uint32*>(p);
    }
}

bool same_format(const SDL_PixelFormat* a, const SDL_PixelFormat* b)
{
    return a->BytesPerPixel == b->BytesPerPixel && a->Rmask == b->Rmask && a->Gmask == b->Gmask &&
           a->Bmask == b->Bmask;
}

}  // namespace

void cut_image(SDL_Surface* image)
{
    drop_freed_cuts();
    // Only pixels in plain memory can be read at any time; an 8-bit image's
    // pixels are colour indices, not the screen's; a copy with alpha blends.
    const bool keyed = (image->flags & SDL_SRCCOLORKEY) != 0;
    if ((image->flags & SDL_SRCALPHA) != 0 || SDL_MUSTLOCK(image) || image->format->BytesPerPixel < 2 ||
        cut_count == cut_capacity || (keyed && row_count + image->h + 1 > row_capacity)) {
        return;
    }
    if (!keyed) {
        ++image->refcount;
        cuts[cut_count++] = Cut{image, 0, false};
        return;
    }
    // As the library compares: the pixel's colour bits against the key's.
    const SDL_PixelFormat* f = image->format;
    const Uint32 colour_mask = f->Rmask | f->Gmask | f->Bmask;
    const Uint32 key = f->colorkey & colour_mask;
    const int bytes = f->BytesPerPixel;
    int count = run_count;
    for (int y = 0; y < image->h; ++y) {
        row_start[row_count + y] = count;
        const Uint8* row = static_cast<const Uint8*>(image->pixels) + y * image->pitch;
        for (int x = 0; x < image->w;) {
            if ((read_pixel(row + x * bytes, bytes) & colour_mask) == key) {
                ++x;
                continue;
            }
            const int from = x;
            while (x < image->w && (read_pixel(row + x * bytes, bytes) & colour_mask) != key) ++x;
            if (count == run_capacity) return;  // too many: the library copies it keyed
            runs[count++] = Run{static_cast<Uint16>(from), static_cast<Uint16>(x - from)};
        }
    }
    row_start[row_count + image->h] = count;
    ++image->refcount;
    cuts[cut_count++] = Cut{image, row_count, true};
    row_count += image->h + 1;
    run_count = count;
}

// The source rectangle clipped to the image and its destination to the
// screen's clip rectangle, as the library clips a copy, then each run's part
// inside them copied.
static void blit_runs(const Cut& cut, int src_x, int src_y, int width, int height, int x, int y)
{
    SDL_Surface* const image = cut.image;
    SDL_Surface* const screen = game.screen;
    if (src_x < 0) {
        width += src_x;
        x -= src_x;
        src_x = 0;
    }
    if (src_y < 0) {
        height += src_y;
        y -= src_y;
        src_y = 0;
    }
    width = std::min(width, image->w - src_x);
    height = std::min(height, image->h - src_y);
    const SDL_Rect& clip = screen->clip_rect;
    const int left = std::max<int>(x, clip.x), top = std::max<int>(y, clip.y);
    const int right = std::min(x + width, clip.x + clip.w), bottom = std::min(y + height, clip.y + clip.h);
    if (left >= right || top >= bottom || !lock_pixels(screen)) return;
    const int bytes = image->format->BytesPerPixel;
    // Image columns first..last-1 land on screen columns left..right-1.
    const int first = left - x + src_x, last = right - x + src_x, shift = x - src_x;
    const Uint8* from = static_cast<const Uint8*>(image->pixels) + (top - y + src_y) * image->pitch;
    Uint8* to = static_cast<Uint8*>(screen->pixels) + top * screen->pitch;
    if (!cut.keyed) {
        for (int row = 0; row < bottom - top; ++row, from += image->pitch, to += screen->pitch) {
            std::memcpy(to + left * bytes, from + first * bytes, static_cast<size_t>(last - first) * bytes);
        }
        unlock_pixels(screen);
        return;
    }
    const int* starts = row_start.data() + cut.first_row + top - y + src_y;
    const bool whole_rows = first == 0 && last == image->w;
    for (int row = 0; row < bottom - top; ++row, from += image->pitch, to += screen->pitch) {
        const Run* run = runs.data() + starts[row];
        const Run* const end = runs.data() + starts[row + 1];
        // Most copies are of whole images inside the screen: no run to clip.
        if (whole_rows) {
            for (; run < end; ++run) {
                std::memcpy(to + (run->x + shift) * bytes, from + run->x * bytes, run->width * bytes);
            }
            continue;
        }
        for (; run < end && run->x < last; ++run) {
            const int a = std::max<int>(run->x, first), b = std::min(run->x + run->width, last);
            if (a < b)
                std::memcpy(to + (a + shift) * bytes, from + a * bytes, static_cast<size_t>(b - a) * bytes);
        }
    }
    unlock_pixels(screen);
}

bool blit_cut(SDL_Surface* image, int src_x, int src_y, int width, int height, int x, int y)
{
    const Cut* cut = find_cut(image);
    if (cut == nullptr || !same_format(image->format, game.screen->format)) return false;
    blit_runs(*cut, src_x, src_y, width, height, x, y);
    return true;
}
