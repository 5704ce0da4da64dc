#pragma once
// A level played headless from a script of controller states, one frame at a time with a fixed
// dt of 1000/60 ms and a clock of frame x dt, and the state of the player and the bodies hashed
// after every frame.
//
// Script: one line per stretch, "<frames> <keys>", keys from L R J D (left, right, jump, dive)
// or "-" for none; "#" starts a comment. After the last line its keys stay held. A popup the
// level shows is answered with its affirmative button at the start of the next frame.
#include <cstdint>
#include <string>
#include <vector>

namespace scripted_run {

struct Stretch {
    uint32_t frames = 0;
    std::string keys;
};

// False when a line does not read; `error` says which.
bool parseScript(std::string const& text, std::vector<Stretch>& script, std::string& error);

struct Result {
    std::vector<uint64_t> hashes;  // one per frame
    int arrivalFrame = -1;         // the frame whose dispatch delivered the first level end
    int levelEndSignals = 0;       // deliveries of the level-end signal
    int results = 0;               // calls of the end-of-level callback
    int alternative = -1;
    uint64_t coins = 0, coinTotal = 0, deaths = 0, levelIndex = 0;
    uint64_t playerCoins = 0;      // the player's own count when the level ended
    int checkPoints = 0;           // check points after the start
    int checkPointsReached = 0;    // of those, how many raised their reach signal
    float time = 0.0f;
    float worldTime = 0.0f;      // the world's clock when the level end arrived
    float laps = 0.0f;           // time attack
    float remainingTime = 0.0f;  // collect time
    int popups = 0;              // bonus-mode popups, each answered with its affirmative button
};

// Plays the level file at path (from the mounted archives) for at most maxFrames, stopping a
// second after the level ended. The process-wide movement state and run total are reset first.
Result run(std::string const& path, std::vector<Stretch> const& script, int maxFrames);

// Text of a result: the arrival, the result (a bonus result on a line of its own) and one line
// per frame hash.
std::string describe(Result const& result);

}  // namespace scripted_run
