// The built music lasts as long as the game plays it once: time attack starts its track with the
// race and stops it at the photo finish, so a shorter track leaves the race silent.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <fstream>

#include "game/BonusModeParts.h"
#include "game/TimeAttackGameModeStateMachine.h"
#include "os/Assets.h"
#include "os/FileSystem.h"
#include "os/services/Music.h"
#include "testing/TestPaths.h"

namespace {

// Seconds of an entry of pak0, as the game's decoder reads its container; -1 when it cannot.
double secondsOf(std::string const& path) {
    FileSystem fs;
    if (!fs.mount((testing_support::binaryDir() / "pak0.pak").string())) return -1;
    auto file = fs.open(path);
    if (!file) return -1;
    testing_support::TempDir dir;
    std::filesystem::path const copy = dir.path() / "track.m4a";
    std::ofstream(copy, std::ios::binary).write(reinterpret_cast<char const*>(file->data()), std::streamsize(file->size()));
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, copy.c_str(), nullptr, nullptr) < 0) return -1;
    double seconds = -1;
    if (avformat_find_stream_info(format, nullptr) >= 0 && format->duration > 0)
        seconds = double(format->duration) / AV_TIME_BASE;
    avformat_close_input(&format);
    return seconds;
}

TEST(MusicTracks, TheBonusTrackOutlastsTheTimeAttackRace) {
    double const race = (TimeAttackGameModeStateMachine::raceEnd - bonus_mode::countdownEnd) / 1000.0;
    double const track = secondsOf(FileSystem::replaceExtension(Assets::musicBonusGame, musicExtension()));
    ASSERT_GT(track, 0) << "the bonus track is missing from pak0 or does not decode";
    // A fifth to spare: on a machine that draws fewer frames the race lasts longer in real time.
    EXPECT_GT(track, race * 1.2) << "a " << race << " s race to a " << track << " s track";
}

}  // namespace
