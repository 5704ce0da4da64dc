// Music tracks from tools/data/music/*.txt: sections of melody, bass, chords and drums played in
// the order of the track's form, synthesised and encoded as AAC in an MPEG-4 container by the
// ffmpeg command line. The game asks for a track by its table name with the platform's music
// extension in place of ".wav", so that is the name packed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "os/Assets.h"
#include "os/FileSystem.h"
#include "os/services/Music.h"
#include "tools/datatool/DataTool.h"

namespace {

constexpr int rate = 44100;
constexpr double pi = 3.14159265358979323846;

// The parts of a track, each with its own sound.
enum Voice { melody, bass, pad, arp, drums, voiceCount };
char const* const voiceNames[voiceCount] = {"melody", "bass", "pad", "arp", "drums"};

// Drum hits, as bits of a note's `hits`.
constexpr unsigned kick = 1, snare = 2, hat = 4;

struct Note {
    std::vector<double> tones;  // Hz; none: a rest (or, for drums, the hits below)
    unsigned hits = 0;
    double beats = 1;
};

struct Section {
    std::vector<Note> voices[voiceCount];
    double beats() const {
        double most = 0;
        for (auto const& v : voices) {
            double sum = 0;
            for (auto const& n : v) sum += n.beats;
            most = std::max(most, sum);
        }
        return most;
    }
};

// A section as the form plays it: its name and a shift in semitones.
struct Part {
    std::string section;
    int semitones = 0;
};

struct Track {
    std::string path;
    double tempo = 120;
    std::map<std::string, Section> sections;  // "" holds the lines before any "section"
    std::vector<Part> form;                    // none: the lines before any section, once
};

// The pitch class of a note or chord name's letter and accidental, in semitones from A; `i` is
// left after them.
std::optional<int> semitoneOf(std::string const& name, size_t& i) {
    static std::map<char, int> const steps{{'C', -9}, {'D', -7}, {'E', -5}, {'F', -4}, {'G', -2}, {'A', 0}, {'B', 2}};
    if (name.empty() || !steps.count(name[0])) return std::nullopt;
    int semitone = steps.at(name[0]);
    i = 1;
    if (i < name.size() && name[i] == '#') semitone++, i++;
    else if (i < name.size() && name[i] == 'b') semitone--, i++;
    return semitone;
}

double hz(int semitonesFromA4) { return 440.0 * std::pow(2.0, semitonesFromA4 / 12.0); }

// "A4", "C#5", "Bb3" -> Hz; anything else -> -1.
double frequencyOf(std::string const& name) {
    size_t i = 0;
    std::optional<int> const semitone = semitoneOf(name, i);
    if (!semitone || i + 1 != name.size() || name[i] < '0' || name[i] > '8') return -1;
    return hz(*semitone + (name[i] - '4') * 12);
}

// "C", "Am", "G7", "Fmaj7", "Dm7", "Esus4", "Bdim" -> its tones, the root between C3 and B3.
std::vector<double> chordOf(std::string const& name) {
    static std::map<std::string, std::vector<int>> const qualities{
        {"", {0, 4, 7}},         {"m", {0, 3, 7}},     {"7", {0, 4, 7, 10}}, {"m7", {0, 3, 7, 10}},
        {"maj7", {0, 4, 7, 11}}, {"sus4", {0, 5, 7}}, {"dim", {0, 3, 6}}};
    size_t i = 0;
    std::optional<int> const root = semitoneOf(name, i);
    if (!root) return {};
    auto const quality = qualities.find(name.substr(i));
    if (quality == qualities.end()) return {};
    int const fromA3 = (*root + 9 + 12) % 12 - 9 - 12;
    std::vector<double> tones;
    for (int step : quality->second) tones.push_back(hz(fromA3 + step));
    return tones;
}

unsigned hitsOf(std::string const& name) {
    unsigned hits = 0;
    for (char c : name) {
        unsigned const bit = c == 'k' ? kick : c == 's' ? snare : c == 'h' ? hat : 0;
        if (bit == 0 || (hits & bit)) return 0;
        hits |= bit;
    }
    return hits;
}

// note[:beats] words; "-" is a rest. Tones are notes, chords or drum hits by the voice.
bool readNotes(std::istringstream& words, Voice voice, std::vector<Note>& out) {
    for (std::string word; words >> word;) {
        auto colon = word.find(':');
        std::string const name = word.substr(0, colon);
        Note n;
        n.beats = colon == std::string::npos ? 1.0 : std::atof(word.c_str() + colon + 1);
        if (!(n.beats > 0)) return false;
        if (name != "-") {
            if (voice == drums) {
                n.hits = hitsOf(name);
                if (n.hits == 0) return false;
            } else if (voice == pad || voice == arp) {
                n.tones = chordOf(name);
                if (n.tones.empty()) return false;
            } else {
                double const f = frequencyOf(name);
                if (f < 0) return false;
                n.tones.push_back(f);
            }
        }
        out.push_back(std::move(n));
    }
    return true;
}

bool readForm(std::istringstream& words, std::vector<Part>& form) {
    for (std::string word; words >> word;) {
        auto sign = word.find_first_of("+-");
        Part part{word.substr(0, sign), sign == std::string::npos ? 0 : std::atoi(word.c_str() + sign)};
        if (part.section.empty()) return false;
        form.push_back(part);
    }
    return !form.empty();
}

bool readTrack(std::filesystem::path const& file, Track& t, std::string& error) {
    std::istringstream in(datatool::readText(file));
    std::string line, section;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        auto const voice =
            std::find_if(std::begin(voiceNames), std::end(voiceNames), [&](char const* n) { return key == n; });
        bool ok = true;
        if (key == "path") ok = bool(words >> t.path);
        else if (key == "tempo") ok = bool(words >> t.tempo) && t.tempo > 0;
        else if (key == "section") ok = bool(words >> section) && !t.sections.count(section);
        else if (key == "form") ok = t.form.empty() && readForm(words, t.form);
        else if (voice != std::end(voiceNames))
            ok = readNotes(words, Voice(voice - voiceNames), t.sections[section].voices[voice - voiceNames]);
        else ok = false;
        if (key == "section" && ok) t.sections[section] = Section{};
        if (!ok) {
            error = "bad line: " + line;
            return false;
        }
    }
    if (t.form.empty()) t.form.push_back(Part{"", 0});
    for (auto const& part : t.form)
        if (!t.sections.count(part.section)) error = "the form names no section " + part.section;
    // Every voice of a section runs its whole length, so that no part drifts against the others.
    for (auto const& [name, s] : t.sections)
        for (int v = 0; v < voiceCount; ++v) {
            double sum = 0;
            for (auto const& n : s.voices[v]) sum += n.beats;
            if (sum > 0 && std::abs(sum - s.beats()) > 1e-6)
                error = "section " + name + ": the " + voiceNames[v] + " is " + std::to_string(sum) + " beats of " +
                        std::to_string(s.beats());
        }
    if (error.empty() && (t.path.empty() || t.sections[t.form.front().section].beats() <= 0))
        error = "needs a path and notes";
    return error.empty();
}

struct Mix {
    std::vector<float> pcm;  // stereo
    void add(size_t frame, double v, double pan) {
        if (frame * 2 + 1 >= pcm.size()) return;
        pcm[frame * 2] += float(v * (1 - pan));
        pcm[frame * 2 + 1] += float(v * pan);
    }
};

// A plucked tone with a few harmonics, fading over its note.
void pluck(Mix& mix, size_t start, double seconds, double f, double gain, double pan) {
    size_t const count = size_t(seconds * rate);
    for (size_t i = 0; i < count; ++i) {
        double const s = double(i) / rate;
        double const envelope =
            std::min(1.0, s * 200) * std::exp(-3.0 * s / seconds) * std::min(1.0, (count - i) / 400.0);
        double const w = 2 * pi * f * s;
        mix.add(start + i, gain * envelope * (std::sin(w) + 0.3 * std::sin(2 * w) + 0.1 * std::sin(3 * w)), pan);
    }
}

// A held chord: slow in and out, each tone doubled a little apart so that it breathes.
void swell(Mix& mix, size_t start, double seconds, std::vector<double> const& tones, double gain) {
    size_t const count = size_t(seconds * rate);
    for (size_t i = 0; i < count; ++i) {
        double const s = double(i) / rate;
        double const envelope = std::min(1.0, s / 0.12) * std::min(1.0, (count - i) / (0.15 * rate));
        double v = 0;
        for (double f : tones)
            v += std::sin(2 * pi * f * s) + std::sin(2 * pi * f * 1.003 * s) + 0.3 * std::sin(4 * pi * f * s);
        mix.add(start + i, gain * envelope * v, 0.5);
    }
}

// Drums from a fixed noise sequence, so that every build makes the same bytes.
void drum(Mix& mix, size_t start, unsigned hits, uint32_t& noise) {
    auto next = [&noise] {
        noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
        return double(noise) / 2147483648.0 - 1.0;
    };
    double last = 0;
    for (size_t i = 0; i < size_t(0.3 * rate); ++i) {
        double const s = double(i) / rate, white = next(), bright = white - last;
        last = white;
        double v = 0;
        if (hits & kick) v += 0.55 * std::exp(-s / 0.12) * std::sin(2 * pi * (45 * s + 12 * (1 - std::exp(-s / 0.03))));
        if (hits & snare)
            v += 0.22 * std::exp(-s / 0.07) * white + 0.12 * std::exp(-s / 0.05) * std::sin(2 * pi * 190 * s);
        if (hits & hat) v += 0.05 * std::exp(-s / 0.025) * bright;
        mix.add(start + i, v, 0.5);
    }
}

void render(std::vector<Note> const& notes, Voice voice, double tempo, double transpose, double at, Mix& mix,
            uint32_t& noise) {
    double t = at;
    for (auto const& n : notes) {
        double const seconds = n.beats * 60.0 / tempo;
        size_t const start = size_t(t * rate);
        std::vector<double> tones = n.tones;
        for (double& f : tones) f *= transpose;
        if (voice == melody && !tones.empty()) pluck(mix, start, seconds, tones[0], 0.35, 0.6);
        if (voice == bass && !tones.empty()) pluck(mix, start, seconds, tones[0], 0.3, 0.4);
        if (voice == pad && !tones.empty()) swell(mix, start, seconds, tones, 0.022);
        if (voice == arp && !tones.empty()) {
            // Up the chord and its octave in eighths.
            double const step = 30.0 / tempo;
            for (int k = 0; k * step < seconds - 1e-9; ++k) {
                size_t const j = size_t(k) % (tones.size() + 1);
                double const f = j < tones.size() ? tones[j] * 2 : tones[0] * 4;
                pluck(mix, start + size_t(k * step * rate), std::min(step, seconds - k * step), f, 0.09, 0.7);
            }
        }
        if (voice == drums && n.hits != 0) drum(mix, start, n.hits, noise);
        t += seconds;
    }
}

void writeWav(std::filesystem::path const& file, std::vector<float> const& pcm) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<char const*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<char const*>(&v), 2); };
    uint32_t bytes = uint32_t(pcm.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (float v : pcm) u16(uint16_t(int16_t(std::lround(std::max(-1.0f, std::min(1.0f, v)) * 32000))));
}

void generate(datatool::Context& ctx) {
    std::vector<std::string> made;
    for (auto const& file : std::filesystem::directory_iterator(ctx.data / "music")) {
        if (file.path().extension() != ".txt") continue;
        Track track;
        std::string error;
        if (!readTrack(file.path(), track, error)) {
            ctx.error(file.path().string() + ": " + error);
            continue;
        }
        double seconds = 0.5;
        for (auto const& part : track.form) seconds += track.sections[part.section].beats() * 60.0 / track.tempo;
        Mix mix{std::vector<float>(size_t(seconds * rate) * 2, 0.0f)};
        uint32_t noise = 0x9e3779b9u;
        double at = 0;
        for (auto const& part : track.form) {
            Section const& section = track.sections[part.section];
            for (int v = 0; v < voiceCount; ++v)
                render(section.voices[v], Voice(v), track.tempo, std::pow(2.0, part.semitones / 12.0), at, mix, noise);
            at += section.beats() * 60.0 / track.tempo;
        }
        // Loud passages are scaled down rather than clipped.
        float peak = 0;
        for (float v : mix.pcm) peak = std::max(peak, std::abs(v));
        if (peak > 0.98f)
            for (float& v : mix.pcm) v *= 0.98f / peak;
        std::vector<float> const& pcm = mix.pcm;
        auto wav = ctx.work / (file.path().stem().string() + ".wav");
        auto m4a = ctx.work / (file.path().stem().string() + ".m4a");
        writeWav(wav, pcm);
        std::filesystem::remove(m4a);
        int status = datatool::runCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i",
                                           wav.string(), "-c:a", "aac", "-b:a", "96k", "-map_metadata", "-1",
                                           "-fflags", "+bitexact", "-flags:a", "+bitexact", "-movflags", "+faststart",
                                           m4a.string()});
        datatool::Bytes bytes = datatool::readFile(m4a);
        if (status != 0 || bytes.empty()) {
            ctx.error("ffmpeg could not encode " + wav.string());
            continue;
        }
        ctx.pak0.add(track.path, std::move(bytes));
        made.push_back(track.path);
    }
    for (auto const* path : Assets::musicTracks) {
        std::string const played = FileSystem::replaceExtension(*path, musicExtension());
        if (std::find(made.begin(), made.end(), played) == made.end()) ctx.error("no music source for " + played);
    }
}

datatool::Register reg("music", 10, generate);

}  // namespace
