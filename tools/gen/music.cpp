// "tavik": a 32-bar driving loop in A minor at about 147 BPM. Bass, arpeggio,
// lead with echo, a soft pad and noise drums, rendered sample by sample.
#include "music.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core.h"
#include "output.h"

extern char** environ;

constexpr int bar_samples = beat_samples * 4;
constexpr double pi = 3.14159265358979323846;

static double midi_hz(int m)
{
    return 440.0 * std::pow(2.0, (m - 69) / 12.0);
}

// Stereo float bus.
struct Bus {
    std::vector<float> l, r;
    explicit Bus(size_t n) : l(n, 0.f), r(n, 0.f) {}
    void add(size_t i, float v, float pan)
    {  // pan -1..1, constant power
        if (i >= l.size()) return;
        float a = float((pan + 1) * pi / 4);
        l[i] += v * std::cos(a);
        r[i] += v * std::sin(a);
    }
};

// Band-limited step correction for saw and pulse oscillators.
static double polyblep(double t, double dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

struct Osc {
    double phase = 0;
    double saw(double dt)
    {
        double v = 2.0 * phase - 1.0 - polyblep(phase, dt);
        step(dt);
        return v;
    }
    double pulse(double dt, double width)
    {
        double v = phase < width ? 1.0 : -1.0;
        v += polyblep(phase, dt);
        double p2 = std::fmod(phase + 1.0 - width, 1.0);
        v -= polyblep(p2, dt);
        step(dt);
        return v;
    }
    double tri(double dt)
    {
        double v = phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase;
        step(dt);
        return v;
    }
    void step(double dt)
    {
        phase += dt;
        if (phase >= 1.0) phase -= 1.0;
    }
};

// State-variable low-pass, stable for cutoffs well below Nyquist.
struct Svf {
    double low = 0, band = 0;
    double run(double in, double cutoff_hz, double q)
    {
        double f = 2.0 * std::sin(pi * std::min(cutoff_hz, 8000.0) / sample_rate);
        low += f * band;
        double high = in - low - q * band;
        band += f * high;
        return low;
    }
};

// Note on the sixteenth grid.
struct Note {
    int bar, pos, len, midi;
};

// Chords per bar, as roots; the quality comes from the scale.
const int chord_roots[loop_bars] = {57, 53, 48, 55, 57, 53, 48, 55, 57, 53, 55, 52,  // intro, A
                                    53, 55, 57, 57, 53, 55, 52, 52,                  // B
                                    57, 53, 48, 55, 57, 53, 55, 52,                  // A again
                                    57, 53, 55, 52};                                 // turnaround

// Chord tones (semitones over the root) for each root used.
static std::vector<int> chord_tones(int root)
{
    switch (root % 12) {
    case 9: return {0, 3, 7};  // Am
    case 5: return {0, 4, 7};  // F
    case 0: return {0, 4, 7};  // C
    case 7: return {0, 4, 7};  // G
    case 4: return {0, 4, 7};  // E (major, the leading tone pulls home)
    case 2: return {0, 3, 7};  // Dm
    default: return {0, 3, 7};
    }
}

// The hook, four bars at a time (bar offsets are relative).
const std::vector<Note> hook_a = {{0, 0, 3, 76},  {0, 3, 3, 81},  {0, 6, 2, 84},  {0, 8, 2, 83},
                                  {0, 10, 2, 81}, {0, 12, 4, 76}, {1, 0, 3, 77},  {1, 3, 3, 81},
                                  {1, 6, 4, 84},  {1, 10, 2, 86}, {1, 12, 4, 84}, {2, 0, 6, 88},
                                  {2, 6, 2, 86},  {2, 8, 4, 84},  {2, 12, 4, 79}, {3, 0, 3, 83},
                                  {3, 3, 3, 86},  {3, 6, 2, 79},  {3, 8, 2, 81},  {3, 10, 6, 83}};
const std::vector<Note> hook_b = {{0, 0, 3, 76},  {0, 3, 3, 81},  {0, 6, 2, 84},  {0, 8, 2, 83},
                                  {0, 10, 2, 81}, {0, 12, 4, 76}, {1, 0, 3, 77},  {1, 3, 3, 81},
                                  {1, 6, 2, 84},  {1, 8, 4, 89},  {1, 12, 4, 88}, {2, 0, 3, 86},
                                  {2, 3, 3, 83},  {2, 6, 2, 79},  {2, 8, 2, 86},  {2, 10, 2, 88},
                                  {2, 12, 4, 86}, {3, 0, 4, 83},  {3, 4, 4, 80},  {3, 8, 8, 76}};
const std::vector<Note> bridge_melody = {
    {0, 0, 6, 81},  {0, 6, 2, 84},  {0, 8, 8, 89}, {1, 0, 6, 86},  {1, 6, 2, 88},
    {1, 8, 4, 86},  {1, 12, 4, 83}, {2, 0, 8, 84}, {2, 8, 4, 83},  {2, 12, 4, 81},
    {3, 0, 12, 88}, {4, 0, 4, 81},  {4, 4, 4, 84}, {4, 8, 4, 89},  {4, 12, 4, 88},
    {5, 0, 4, 86},  {5, 4, 4, 91},  {5, 8, 4, 89}, {5, 12, 4, 86}, {6, 0, 8, 88},
    {6, 8, 4, 86},  {6, 12, 4, 83}, {7, 0, 8, 80}, {7, 8, 4, 83},  {7, 12, 4, 88}};

// Sample where a sixteenth starts; a sixteenth is 4502.25 samples, rounded.
static int64_t at(int bar, int pos)
{
    return (int64_t(bar) * 16 + pos) * beat_samples / 4;
}
static int64_t sixteenths(int n)
{
    return int64_t(n) * beat_samples / 4;
}
constexpr int sixteenth_samples = beat_samples / 4;

// ---------------------------------------------------------------- voices

static void lead(Bus& bus, int64_t start, int len16, int midi, float gain, float pan, int detune_cents)
{
    double hz = midi_hz(midi);
    int64_t n = sixteenths(len16) - sixteenth_samples / 4, rel = 2600;
    Osc a, b;
    b.phase = 0.37;
    Svf f;
    for (int64_t i = 0; i < n + rel; ++i) {
        double t = double(i) / sample_rate;
        double vib = 1.0 + 0.004 * std::sin(2 * pi * 5.5 * t) * std::min(1.0, t * 4);
        double dt1 = hz * vib / sample_rate, dt2 = dt1 * std::pow(2.0, detune_cents / 1200.0);
        double v = 0.55 * a.saw(dt1) + 0.45 * b.pulse(dt2, 0.5);
        double env = std::min(1.0, double(i) / 220.0) * (0.75 + 0.25 * std::exp(-t * 6));
        if (i >= n) env *= std::exp(-double(i - n) / (rel / 5.0));
        v = f.run(v, 1800 + 3200 * std::exp(-t * 5), 0.7);
        bus.add(size_t(start + i), float(v * env * gain), pan);
    }
}

static void bass(Bus& bus, int64_t start, int len16, int midi, float gain, float bright)
{
    double hz = midi_hz(midi);
    int64_t n = sixteenths(len16) - 500, rel = 600;
    Osc a, sub;
    Svf f;
    for (int64_t i = 0; i < n + rel; ++i) {
        double t = double(i) / sample_rate;
        double dt = hz / sample_rate;
        double v = 0.7 * a.saw(dt) + 0.5 * sub.pulse(dt * 0.5, 0.5);
        v = f.run(v, 220 + bright * 1500 * std::exp(-t * 18), 0.5);
        double env = std::min(1.0, double(i) / 60.0);
        if (i >= n) env *= 1.0 - double(i - n) / double(rel);
        bus.add(size_t(start + i), float(v * env * gain), 0.f);
    }
}

static void pluck(Bus& bus, int64_t start, int midi, float gain, float pan)
{
    double hz = midi_hz(midi);
    int64_t n = sixteenth_samples * 2;
    Osc a;
    Svf f;
    for (int64_t i = 0; i < n; ++i) {
        double t = double(i) / sample_rate;
        double v = a.pulse(hz / sample_rate, 0.25);
        v = f.run(v, 900 + 4200 * std::exp(-t * 30), 0.6);
        double env = std::min(1.0, double(i) / 40.0) * std::exp(-t * 14);
        if (i > n - 400) env *= double(n - i) / 400.0;
        bus.add(size_t(start + i), float(v * env * gain), pan);
    }
}

static void pad(Bus& bus, int64_t start, int64_t n, int midi, float gain)
{
    double hz = midi_hz(midi);
    Osc o[3];
    o[1].phase = 0.31, o[2].phase = 0.67;
    const double det[3] = {1.0, 1.0046, 0.9954};
    const float pans[3] = {0.f, -0.6f, 0.6f};
    Svf f[3];
    int64_t atk = 9000, rel = 6000;
    for (int64_t i = 0; i < n + rel; ++i) {
        double env = std::min(1.0, double(i) / double(atk));
        if (i >= n) env *= 1.0 - double(i - n) / double(rel);
        for (int k = 0; k < 3; ++k) {
            double v = f[k].run(o[k].saw(hz * det[k] / sample_rate), 1100, 0.9);
            bus.add(size_t(start + i), float(v * env * gain), pans[k]);
        }
    }
}

static void kick(Bus& bus, int64_t start, float gain)
{
    double ph = 0;
    for (int64_t i = 0; i < 11000; ++i) {
        double t = double(i) / sample_rate;
        double hz = 48 + 110 * std::exp(-t * 28);
        ph += hz / sample_rate;
        double v = std::sin(2 * pi * ph) * std::exp(-t * 7.5);
        if (i < 90) v += 0.4 * (1 - i / 90.0) * (i % 2 ? 1 : -1) * 0.5;  // beater click
        double fade = i > 10000 ? (11000 - i) / 1000.0 : 1.0;
        bus.add(size_t(start + i), float(v * gain * fade), 0.f);
    }
}

static void snare(Bus& bus, Rng& rng, int64_t start, float gain, float pan)
{
    Svf f;
    double ph = 0;
    for (int64_t i = 0; i < 9000; ++i) {
        double t = double(i) / sample_rate;
        double noise = rng.uni() * 2 - 1;
        double body = f.run(noise, 5200, 0.8) * 0.8 + noise * 0.25;
        ph += (185 + 60 * std::exp(-t * 40)) / sample_rate;
        double tone = std::sin(2 * pi * ph) * std::exp(-t * 30);
        double v = body * std::exp(-t * 16) + tone * 0.6;
        double fade = i > 8000 ? (9000 - i) / 1000.0 : 1.0;
        bus.add(size_t(start + i), float(v * gain * fade), pan);
    }
}

static void hat(Bus& bus, Rng& rng, int64_t start, float gain, bool open, float pan)
{
    int64_t n = open ? 7000 : 1800;
    double prev = 0;
    for (int64_t i = 0; i < n; ++i) {
        double t = double(i) / sample_rate;
        double noise = rng.uni() * 2 - 1;
        double hp = noise - prev;  // crude high-pass: keeps the fizz
        prev = noise;
        double env = std::exp(-t * (open ? 14 : 70));
        if (i > n - 300) env *= double(n - i) / 300.0;
        bus.add(size_t(start + i), float(hp * env * gain * 0.5), pan);
    }
}

static void crash(Bus& bus, Rng& rng, int64_t start, float gain)
{
    int64_t n = 52000;
    double p1 = 0, p2 = 0;
    for (int64_t i = 0; i < n; ++i) {
        double t = double(i) / sample_rate;
        double nl = rng.uni() * 2 - 1, nr = rng.uni() * 2 - 1;
        double hl = nl - p1, hr = nr - p2;
        p1 = nl, p2 = nr;
        double env = std::exp(-t * 3.2) * (i > n - 4000 ? double(n - i) / 4000.0 : 1.0);
        bus.add(size_t(start + i), float(hl * env * gain * 0.35), -0.5f);
        bus.add(size_t(start + i), float(hr * env * gain * 0.35), 0.5f);
    }
}

// Ping-pong echo, dotted eighth, darkening on each repeat.
static void echo(const Bus& in, Bus& out, int delay, float feedback, float mix)
{
    size_t n = in.l.size();
    std::vector<float> dl(n, 0.f), dr(n, 0.f);
    float lp_l = 0, lp_r = 0;
    for (size_t i = 0; i < n; ++i) {
        float from_l = i >= size_t(delay) ? dl[i - delay] : 0.f;
        float from_r = i >= size_t(delay) ? dr[i - delay] : 0.f;
        lp_l += 0.35f * (from_r - lp_l);
        lp_r += 0.35f * (from_l - lp_r);
        dl[i] = in.l[i] * 0.7f + in.r[i] * 0.3f + lp_l * feedback;  // cross-fed
        dr[i] = lp_r * feedback;
        out.l[i] += in.l[i] + from_l * mix;
        out.r[i] += in.r[i] + from_r * mix;
    }
}

std::vector<int16_t> render_music()
{
    const size_t n = size_t(loop_samples);
    Bus drums(n), bass_bus(n), synth(n), leads(n), pads(n);
    Rng rng(20240611u);

    for (int bar = 0; bar < loop_bars; ++bar) {
        const bool intro = bar < 4, bridge = bar >= 12 && bar < 20, reprise = bar >= 20 && bar < 28;
        const bool outro = bar >= 28, last = bar == loop_bars - 1;
        const int root = chord_roots[bar];
        const std::vector<int> tones = chord_tones(root);

        // Drums.
        for (int beat = 0; beat < 4; ++beat) {
            int64_t b = at(bar, beat * 4);
            if (last && beat == 3) break;  // the fill takes over
            kick(drums, b, 0.95f);
            if (beat % 2 == 1 && (!intro || bar >= 2)) snare(drums, rng, b, 0.55f, 0.05f);
        }
        for (int s = 0; s < 16; s += 2) {
            if (last && s >= 12) break;
            bool off = s % 4 == 2;
            hat(drums, rng, at(bar, s), off ? 0.42f : 0.26f, reprise && off, 0.3f);
            if ((reprise || bridge) && !intro) hat(drums, rng, at(bar, s + 1), 0.14f, false, 0.35f);
        }
        if (bar == 4 || bar == 12 || bar == 20) crash(drums, rng, at(bar, 0), 0.9f);
        if (bar == 11 || bar == 19 || bar == 27)  // short snare roll into the next section
            for (int s = 12; s < 16; ++s) snare(drums, rng, at(bar, s), 0.25f + 0.08f * float(s - 12), -0.1f);
        if (last) {
            // Fill, a final stab on the "and" of four, then a breath before
            // the loop comes round (that is where the codec's gap hides).
            for (int s = 12; s < 14; ++s) snare(drums, rng, at(bar, s), 0.45f, 0.f);
            kick(drums, at(bar, 12), 0.9f);
            kick(drums, at(bar, 14), 0.9f);
            snare(drums, rng, at(bar, 14), 0.6f, 0.f);
        }

        // Bass: driving eighths, octave jump on the offbeat.
        for (int s = 0; s < 16; s += 2) {
            if (last && s > 14 - 2) {
                if (s == 14) bass(bass_bus, at(bar, 14), 1, root - 24, 0.5f, 1.f);
                continue;
            }
            int m = root - 24 + ((s % 4 == 2) ? 12 : 0);
            bass(bass_bus, at(bar, s), 2, m, 0.5f, intro ? 0.3f + 0.2f * bar : 1.f);
        }

        // Arpeggio: chord tones up and down in sixteenths.
        {
            static const int pattern[16] = {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 4, 3, 2, 1, 2, 3};
            for (int s = 0; s < (last ? 12 : 16); ++s) {
                int k = pattern[s];
                int m = root + 12 + tones[size_t(k % 3)] + 12 * (k / 3);
                float g = (s % 4 == 0 ? 0.16f : 0.11f) * (intro ? 0.6f + 0.13f * bar : 1.f);
                pluck(synth, at(bar, s), m, g, (s % 2) ? 0.45f : 0.2f);
            }
        }

        // Pad under the bridge and the reprise.
        if (bridge || reprise || outro) {
            int64_t len = last ? sixteenths(12) : bar_samples;
            for (int t : tones) pad(pads, at(bar, 0), len, root + t, 0.05f);
        }
    }

    // Lead: hook, variation, bridge, hook with a harmony a third below.
    auto phrase = [&](const std::vector<Note>& notes, int bar0, float gain, float pan, int transpose,
                      int cents) {
        for (const Note& nt : notes)
            lead(leads, at(bar0 + nt.bar, nt.pos), nt.len, nt.midi + transpose, gain, pan, cents);
    };
    phrase(hook_a, 4, 0.2f, -0.15f, 0, 7);
    phrase(hook_b, 8, 0.2f, -0.15f, 0, 7);
    phrase(bridge_melody, 12, 0.19f, -0.1f, 0, 9);
    phrase(hook_a, 20, 0.2f, -0.2f, 0, 7);
    phrase(hook_a, 20, 0.09f, 0.35f, -5, -6);  // a fourth below, answering on the right
    phrase(hook_b, 24, 0.2f, -0.2f, 0, 7);
    phrase(hook_b, 24, 0.09f, 0.35f, -5, -6);
    // The turnaround quotes the opening of the hook an octave down.
    for (const Note& nt : hook_a)
        if (nt.bar < 3) lead(leads, at(28 + nt.bar, nt.pos), nt.len, nt.midi - 12, 0.14f, 0.f, 5);

    Bus wet(n);
    echo(leads, wet, 3 * sixteenth_samples, 0.38f, 0.32f);
    Bus arp_wet(n);
    echo(synth, arp_wet, 3 * sixteenth_samples, 0.25f, 0.2f);

    // Mix with a little kick ducking on the melodic parts, then a soft clip.
    std::vector<float> duck(n, 1.f);
    for (int bar = 0; bar < loop_bars; ++bar)
        for (int beat = 0; beat < 4; ++beat) {
            int64_t b = at(bar, beat * 4);
            for (int64_t i = 0; i < 7000 && b + i < int64_t(n); ++i)
                duck[size_t(b + i)] =
                    std::min(duck[size_t(b + i)], float(1.0 - 0.35 * std::exp(-double(i) / 2500.0)));
        }
    std::vector<float> left(n), right(n);
    float peak = 0;
    for (size_t i = 0; i < n; ++i) {
        float d = duck[i];
        float l = drums.l[i] * 0.8f + bass_bus.l[i] * d + (wet.l[i] + arp_wet.l[i] + pads.l[i]) * d;
        float r = drums.r[i] * 0.8f + bass_bus.r[i] * d + (wet.r[i] + arp_wet.r[i] + pads.r[i]) * d;
        left[i] = std::tanh(l * 0.9f);
        right[i] = std::tanh(r * 0.9f);
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    }

    // Everything after the stab fades to true silence before the end of what
    // lame gets, and the very first samples ramp up from zero, so the wrap
    // never jumps however much padding the decoder adds.
    const int64_t out = encoded_samples;
    const int64_t fade_end = out - 200, fade_start = fade_end - 3 * sixteenth_samples / 2;
    std::vector<int16_t> pcm(size_t(out) * 2);
    float norm = peak > 0 ? 0.89f / peak : 1.f;
    for (int64_t i = 0; i < out; ++i) {
        double g = 1.0;
        if (i >= fade_end)
            g = 0.0;
        else if (i > fade_start)
            g = 0.5 + 0.5 * std::cos(pi * double(i - fade_start) / double(fade_end - fade_start));
        if (i < 64) g *= double(i) / 64.0;
        for (int c = 0; c < 2; ++c) {
            double v = (c ? right : left)[size_t(i)] * norm * g;
            pcm[size_t(i) * 2 + c] = int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        }
    }
    return pcm;
}

std::vector<uint8_t> wav_bytes(const std::vector<int16_t>& s)
{
    std::vector<uint8_t> w;
    auto u32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k) w.push_back(uint8_t(v >> (8 * k)));
    };
    auto u16 = [&](uint16_t v) {
        w.push_back(uint8_t(v));
        w.push_back(uint8_t(v >> 8));
    };
    uint32_t bytes = uint32_t(s.size() * 2);
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    u32(36 + bytes);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    u32(16);
    u16(1);  // PCM
    u16(2);  // stereo
    u32(sample_rate);
    u32(sample_rate * 4);
    u16(4);
    u16(16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    u32(bytes);
    for (int16_t v : s) u16(uint16_t(v));
    return w;
}

bool make_music(const std::string& mp3_path, const std::string& lame, std::string& err)
{
    std::string wav = mp3_path + ".tmp.wav";
    if (!write_file(wav, wav_bytes(render_music()))) {
        err = "cannot write " + wav;
        return false;
    }
    // CBR keeps the frame count fixed; -t leaves out the Xing/LAME header
    // frame, which the game's decoder would play as a burst of silence.
    std::vector<std::string> args = {lame, "--quiet", "-t", "--cbr", "-b", "128",
                                     "-m", "j",       "-q", "2",     wav,  mp3_path};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, lame.c_str(), nullptr, nullptr, argv.data(), environ);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
    std::remove(wav.c_str());
    if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        err = "lame failed to encode " + mp3_path;
        return false;
    }
    return true;
}
