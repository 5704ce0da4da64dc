// Sound effects for every path of the sound table: short synthesized Ogg Opus streams (named
// .wav as the table names them), each with its own pitch, timbre and envelope so they can be
// told apart by ear. Loops hold a steady level and a whole number of cycles so they repeat
// without a click; positional sounds are mono so the mixer can place them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "os/Assets.h"
#include "tools/datatool/DataTool.h"

namespace {

constexpr int rate = 48000;
constexpr double pi = 3.14159265358979323846;

enum class Voice { Sine, Square, SweepUp, SweepDown, Noise, Rumble, Countdown };

struct Recipe {
    Voice voice;
    double frequency;
    double seconds;
    int channels;
    bool loop;
};

bool has(std::string const& path, char const* word) { return path.find(word) != std::string::npos; }

Recipe recipeFor(size_t index, SoundDescriptor const& d) {
    Recipe r;
    r.loop = d.params.isLooping();
    // Semitone steps through four octaves; the ouches climb one by one.
    r.frequency = 196.0 * std::pow(2.0, double(index % 48) / 12.0);
    r.seconds = 0.12 + 0.04 * double(index % 7);
    r.voice = Voice(index % 4);
    r.channels = 1;
    if (has(d.path, "Splash") || has(d.path, "Shutter") || has(d.path, "Land")) {
        r.voice = Voice::Noise;
    } else if (has(d.path, "Lava") || has(d.path, "underwater")) {
        r.voice = Voice::Rumble;
        r.frequency = 55.0 + 5.0 * double(index % 4);
    } else if (has(d.path, "CountDown")) {
        // The bonus games' "3, 2, 1, go": a beep each second, the last an octave up and longer.
        r.voice = Voice::Countdown;
        r.frequency = 660.0;
        r.seconds = 4.0;
    } else if (has(d.path, "ouch")) {
        r.voice = Voice::SweepDown;
        r.seconds = 0.25;
    } else if (has(d.path, "Jump") || has(d.path, "Inflate")) {
        r.voice = Voice::SweepUp;
    } else if (has(d.path, "StarReward") || has(d.path, "LevelComplete") || has(d.path, "achievement")) {
        r.channels = 2;
        r.seconds = 0.6;
    }
    if (r.loop) {
        r.seconds = 1.0;
        r.frequency = std::round(r.frequency);  // whole cycles in one second
        if (r.voice == Voice::SweepUp || r.voice == Voice::SweepDown) r.voice = Voice::Sine;
    }
    if (d.params.flags & SoundParams::positional) r.channels = 1;
    return r;
}

std::vector<int16_t> synthesize(Recipe const& r, uint32_t seed) {
    size_t const frames = size_t(r.seconds * rate);
    std::vector<int16_t> pcm(frames * r.channels);
    uint32_t noise = seed * 2654435761u + 1;
    double phase = 0, low = 0;
    for (size_t i = 0; i < frames; ++i) {
        double const t = double(i) / rate;
        double const progress = double(i) / double(frames);
        double f = r.frequency;
        int const beep = int(t);
        if (r.voice == Voice::Countdown && beep >= 3) f *= 2.0;
        if (r.voice == Voice::SweepUp) f *= 1.0 + progress;
        if (r.voice == Voice::SweepDown) f *= 1.5 - 0.75 * progress;
        phase += 2 * pi * f / rate;
        noise = noise * 1664525u + 1013904223u;
        double const white = double(int32_t(noise)) / 2147483648.0;
        double v = 0;
        switch (r.voice) {
            case Voice::Sine:
            case Voice::Countdown:
            case Voice::SweepUp:
            case Voice::SweepDown: v = std::sin(phase); break;
            case Voice::Square: v = (std::sin(phase) + std::sin(3 * phase) / 3 + std::sin(5 * phase) / 5) * 0.8; break;
            case Voice::Noise: low += (white - low) * 0.2; v = low * 2.5; break;
            case Voice::Rumble:
                low += (white - low) * 0.05;
                v = 0.6 * std::sin(phase) + 3.0 * low;
                break;
        }
        // One-shots: 5 ms attack, then an exponential decay; loops stay level with a slow
        // whole-period tremolo.
        double env = r.loop ? 0.8 + 0.2 * std::sin(2 * pi * 2 * t)
                            : std::min(1.0, t / 0.005) * std::exp(-4.0 * progress);
        if (r.voice == Voice::Countdown) {
            double const into = t - beep, length = beep >= 3 ? 0.6 : 0.2;
            env = into < length ? std::min(1.0, into / 0.005) * (1.0 - into / length) : 0.0;
        }
        v = std::clamp(v * env * 0.6, -1.0, 1.0);
        for (int c = 0; c < r.channels; ++c) {
            // The second channel of a stereo sound is a fifth above, so stereo is audible.
            double const s = c == 0 ? v : std::clamp(std::sin(phase * 1.5) * env * 0.6, -1.0, 1.0);
            pcm[i * r.channels + c] = int16_t(std::lround(s * 32767));
        }
    }
    return pcm;
}

datatool::Register reg("sounds", 20, [](datatool::Context& ctx) {
    std::filesystem::path const dir = ctx.work / "sounds";
    std::filesystem::create_directories(dir);
    for (size_t i = 0; i < Assets::soundCount; ++i) {
        SoundDescriptor const& d = Assets::sounds[i];
        Recipe const r = recipeFor(i, d);
        std::vector<int16_t> const pcm = synthesize(r, uint32_t(i + 1));
        auto const raw = dir / (std::to_string(i) + ".raw");
        auto const opus = dir / (std::to_string(i) + ".opus");
        {
            std::ofstream out(raw, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<char const*>(pcm.data()), std::streamsize(pcm.size() * sizeof(int16_t)));
        }
        int const status = datatool::runCommand(
            {"opusenc", "--quiet", "--raw", "--raw-bits", "16", "--raw-rate", std::to_string(rate), "--raw-chan",
             std::to_string(r.channels), "--raw-endianness", "0", "--serial", std::to_string(i + 1), "--padding",
             "0", "--bitrate", std::to_string(32 * r.channels), raw.string(), opus.string()});
        datatool::Bytes bytes = status == 0 ? datatool::readFile(opus) : datatool::Bytes{};
        if (bytes.empty()) {
            ctx.error("sounds: opusenc failed for " + d.path + " (status " + std::to_string(status) + ")");
            continue;
        }
        ctx.pak0.add(d.path, std::move(bytes));
    }
});

}  // namespace
