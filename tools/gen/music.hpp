// The in-game track: synthesised here, encoded to MP3 with lame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// A beat of 18009 samples (146.9 BPM) makes 32 bars exactly 2001 MP3 frames
// of 1152 samples, so the decoded loop keeps the beat grid when the game
// replays it. The frame count is odd on purpose: SDL_mixer 1.2 plays one
// extra buffer of silence when the end of the stream lands exactly on an
// audio buffer boundary, and an odd count makes that rare (once every 8 to
// 32 loops for 1024..4096-sample buffers) instead of every loop or two.
constexpr int kRate = 44100;
constexpr int kBeat = 18009;
constexpr int kBars = 32;
constexpr int kFrame = 1152;                                 // MPEG-1 layer III
constexpr int64_t kLoop = int64_t(kBars) * 4 * kBeat;       // samples per channel
static_assert(kLoop % kFrame == 0 && (kLoop / kFrame) % 2 == 1);
// lame adds 576 samples of delay and then pads the end (at least 576 more)
// up to a whole frame; feeding one frame less than the loop gives exactly
// kLoop / kFrame frames.
constexpr int64_t kEncodedInput = kLoop - kFrame;

// Interleaved stereo, kEncodedInput frames: the loop's first bar starts at
// sample 0 and the end fades to silence, where the codec's delay sits.
std::vector<int16_t> renderMusic();

std::vector<uint8_t> wavBytes(const std::vector<int16_t>& stereo);

bool makeMusic(const std::string& mp3Path, const std::string& lame, std::string& err);

}  // namespace qv
