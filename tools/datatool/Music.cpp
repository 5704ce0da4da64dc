// Music tracks: short melodies from tools/data/music/*.txt, synthesised and encoded as AAC in an
// MPEG-4 container by the ffmpeg command line. The game asks for a track by its table name with
// the platform's music extension in place of ".wav", so that is the name packed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
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

struct Note {
    double frequency;  // 0: rest
    double beats;
};

struct Track {
    std::string path;
    double tempo = 120;
    std::vector<Note> melody, bass;
};

// "A4", "C#5", "Bb3" -> Hz; "-" -> 0; anything else -> -1.
double frequencyOf(std::string const& name) {
    if (name == "-") return 0;
    static std::map<char, int> const steps{{'C', -9}, {'D', -7}, {'E', -5}, {'F', -4}, {'G', -2}, {'A', 0}, {'B', 2}};
    if (name.size() < 2 || !steps.count(name[0])) return -1;
    int semitone = steps.at(name[0]);
    size_t i = 1;
    if (name[i] == '#') semitone++, i++;
    else if (name[i] == 'b') semitone--, i++;
    if (i + 1 != name.size() || name[i] < '0' || name[i] > '8') return -1;
    semitone += (name[i] - '4') * 12;
    return 440.0 * std::pow(2.0, semitone / 12.0);
}

bool readNotes(std::istringstream& words, std::vector<Note>& out) {
    for (std::string word; words >> word;) {
        auto colon = word.find(':');
        Note n{frequencyOf(word.substr(0, colon)), colon == std::string::npos ? 1.0 : std::atof(word.c_str() + colon + 1)};
        if (n.frequency < 0 || !(n.beats > 0)) return false;
        out.push_back(n);
    }
    return true;
}

bool readTrack(std::filesystem::path const& file, Track& t, std::string& error) {
    std::istringstream in(datatool::readText(file));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        bool ok = true;
        if (key == "path") ok = bool(words >> t.path);
        else if (key == "tempo") ok = bool(words >> t.tempo) && t.tempo > 0;
        else if (key == "melody") ok = readNotes(words, t.melody);
        else if (key == "bass") ok = readNotes(words, t.bass);
        else ok = false;
        if (!ok) {
            error = "bad line: " + line;
            return false;
        }
    }
    if (t.path.empty() || t.melody.empty()) error = "needs a path and a melody";
    return error.empty();
}

// Adds one voice into the stereo buffer: a plucked tone with a few harmonics.
void render(std::vector<Note> const& notes, double tempo, double gain, double pan, std::vector<float>& pcm) {
    double t = 0;
    for (auto const& n : notes) {
        double seconds = n.beats * 60.0 / tempo;
        size_t start = size_t(t * rate), count = size_t(seconds * rate);
        if (n.frequency > 0) {
            for (size_t i = 0; i < count && (start + i) * 2 + 1 < pcm.size(); ++i) {
                double s = double(i) / rate;
                double envelope = std::min(1.0, s * 200) * std::exp(-3.0 * s / seconds) * std::min(1.0, (count - i) / 400.0);
                double w = 2 * pi * n.frequency * s;
                double v = gain * envelope * (std::sin(w) + 0.3 * std::sin(2 * w) + 0.1 * std::sin(3 * w));
                pcm[(start + i) * 2] += float(v * (1 - pan));
                pcm[(start + i) * 2 + 1] += float(v * pan);
            }
        }
        t += seconds;
    }
}

double lengthOf(std::vector<Note> const& notes, double tempo) {
    double beats = 0;
    for (auto const& n : notes) beats += n.beats;
    return beats * 60.0 / tempo;
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
        double seconds = std::max(lengthOf(track.melody, track.tempo), lengthOf(track.bass, track.tempo)) + 0.5;
        std::vector<float> pcm(size_t(seconds * rate) * 2, 0.0f);
        render(track.melody, track.tempo, 0.35, 0.6, pcm);
        render(track.bass, track.tempo, 0.3, 0.4, pcm);
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
