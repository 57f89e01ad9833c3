// The in-game track: synthesised here, encoded to MP3 with lame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A beat of 18009 samples (146.9 BPM) makes 32 bars exactly 2001 MP3 frames
// of 1152 samples, so the decoded loop keeps the beat grid when the game
// replays it. The frame count is odd on purpose: SDL_mixer 1.2 plays one
// extra buffer of silence when the end of the stream lands exactly on an
// audio buffer boundary, and an odd count makes that rare (once every 8 to
// 32 loops for 1024..4096-sample buffers) instead of every loop or two.
constexpr int sample_rate = 44100;
constexpr int beat_samples = 18009;
constexpr int loop_bars = 32;
constexpr int mp3_frame_samples = 1152;                                  // MPEG-1 layer III
constexpr int64_t loop_samples = int64_t(loop_bars) * 4 * beat_samples;  // samples per channel
static_assert(loop_samples % mp3_frame_samples == 0 && (loop_samples / mp3_frame_samples) % 2 == 1);
// lame adds 576 samples of delay and then pads the end (at least 576 more)
// up to a whole frame; feeding one frame less than the loop gives exactly
// loop_samples / mp3_frame_samples frames.
constexpr int64_t encoded_samples = loop_samples - mp3_frame_samples;

// Interleaved stereo, encoded_samples frames: the loop's first bar starts at
// sample 0 and the end fades to silence, where the codec's delay sits.
std::vector<int16_t> render_music();

std::vector<uint8_t> wav_bytes(const std::vector<int16_t>& stereo);

bool make_music(const std::string& mp3_path, const std::string& lame, std::string& err);
