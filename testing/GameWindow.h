#pragma once
// The real `zelv` executable in a window on the test's X display, driven as a person would drive
// it: keys and clicks through the XTest extension (xdotool), the window's picture grabbed with
// xwd, and its error stream read line by line to know which screen is up ("zelv: screen NAME").
// Its save, settings, cache and analytics data live in a folder of its own, and the game clock
// moves one 1/60 s step per frame.
//
// What the game does takes the game's own time, which on a loaded machine runs slower than the
// wall clock: every wait is bounded by the game's time (the frames its draw record counts, 1/60 s
// each), and the wall clock only catches a game that stopped moving (no new frame for `stall`).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "testing/FrameWatch.h"

namespace game_window {

using Ms = std::chrono::milliseconds;

// An X image grab, RGB, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    // Share of pixels with a channel above 64 (0 for an empty picture).
    double litShare() const;
    // Colours after dropping the low 4 bits of each channel: 1 for a flat picture.
    size_t coarseColours() const;
    // Share of pixels in a box of the 1280 x 720 virtual screen (y up) whose colour passes.
    double shareIn(float x0, float y0, float x1, float y1,
                   std::function<bool(uint8_t r, uint8_t g, uint8_t b)> const& test) const;
    // Something drawn: a fifth of the window lit, in more than a few colours.
    bool showsContent() const { return litShare() > 0.2 && coarseColours() > 8; }
    // Share of pixels where a channel differs by more than `by` from the other picture's (1 when
    // the sizes differ).
    double differenceFrom(Picture const& other, int by = 32) const;
};

// Reads xwd's dump of a true-colour window (24 or 32 bits a pixel); an empty picture otherwise.
Picture readXwd(std::vector<uint8_t> const& bytes);

// The number of the last frame the game wrote to its draw record (the file ZELV_DRAW_RECORD
// names), -1 before the first: for pacing input by the game's frames rather than the clock.
using testing_support::recordedFrame;
using testing_support::framesIn;

class GameWindow {
public:
    struct Options {
        // HOME; the XDG folders are cache/, config/ and data/ inside. The save is in
        // data/zelv/ and the analytics files in data/zelv/TallyFiles/.
        std::filesystem::path home;
        std::vector<std::string> args;
        // ZELV_DRAW_RECORD, the game's count of its frames, is drawn.txt in the home unless set.
        // The game is asked for English (LANGUAGE=en, LC_ALL=C.UTF-8) unless these say otherwise.
        std::map<std::string, std::string> env;
        // The whole run in the game's time: the game is killed once it has drawn this much, or
        // once it has drawn no new frame for `stall`.
        Ms deadline{180000};
        // Wall-clock time without a new frame after which the game counts as stopped: longer than
        // the longest frame (a level read, the first frame's shaders) on a loaded machine.
        Ms stall{60000};
    };

    explicit GameWindow(Options options);
    // Kills the game if it still runs.
    ~GameWindow();
    GameWindow(GameWindow const&) = delete;
    GameWindow& operator=(GameWindow const&) = delete;

    // The game started and its window was found.
    bool ok() const { return window_ != 0; }

    // Every wait below fails once `bound` of the game's time has passed, once the game has drawn
    // no new frame for `stall`, or once it has ended.
    // Waits for the next "zelv: screen NAME" line after the last line a wait took.
    bool waitForScreen(std::string const& name, Ms bound);
    // Runs act, then again every `every` of the game's time, until the next line for NAME shows.
    bool actUntilScreen(std::string const& name, std::function<void()> const& act, Ms every, Ms bound);
    // The same for a whole line of the game's output (without its newline).
    bool actUntilLine(std::string const& line, std::function<void()> const& act, Ms every, Ms bound);
    // Polls done() every 50 ms while reading the game's output.
    bool waitUntil(std::function<bool()> const& done, Ms bound);
    // Until this much more of the game's time has passed.
    bool pass(Ms gameTime);
    // Until the game has drawn the same texts and buttons for `frames` frames (its draw record's
    // count), the last of them drawn after this call: a screen that has come up and stopped moving
    // takes input.
    bool waitForStill(long frames, Ms bound);
    // The number of the last frame the game drew, -1 before the first.
    long lastFrame();
    // The screen of the next "zelv: screen" line after the last line a wait took (taking it), or
    // empty when none comes within the bound.
    std::string nextScreen(Ms bound);
    // The screen of the last "zelv: screen" line so far.
    std::string currentScreen();

    // X key names ("Right", "space", "p").
    void keyDown(std::string const& key);
    void keyUp(std::string const& key);
    // Held over a few of the game's frames, as a finger would.
    void tap(std::string const& key);
    // A press and release at a point of the game's 1280 x 720 virtual screen, y up, held as a tap.
    void click(float x, float y);
    // The button pressed at a point and held, as a finger resting on the screen; then let go.
    void mouseDown(float x, float y);
    void mouseUp();
    Picture screenshot();
    // Takes the input focus away from the window (to no window at all, as when another program's
    // window is clicked) or gives it back.
    void setFocus(bool focused);
    // Waits for a settled picture (a grab within 1 % of the one before) that shows content and,
    // given `unlike`, differs from it in at least a tenth of its pixels; the last grab in `last`.
    bool waitForContent(Ms bound, Picture* last = nullptr, Picture const* unlike = nullptr);

    // Ends the game as the desktop does (SIGTERM) and waits, `bound` of the wall clock (the game
    // draws no more); true when it exited with status 0 and found every asset it asked for.
    bool stop(Ms bound = Ms(60000));
    // Destroys the game's window as another program can (xdotool windowclose) and waits; true
    // when the game then exited with status 0 and found every asset it asked for.
    bool closeFromOutside(Ms bound = Ms(60000));
    // The paths the game asked for and found in no archive, as its file system logged them.
    std::vector<std::string> missedAssets() const;
    std::string const& log() const { return log_; }
    // The frames the game drew, from its "zelv: ended after N frames" line; -1 before that.
    long frames() const;
    // The output so far, for failure messages.
    std::string describe() const;

private:
    void pump();
    bool alive();
    // Until the game is gone or `bound` of the wall clock has passed.
    bool waitForExit(Ms bound);
    // Until the game has drawn n more frames, at least `atLeast` of the wall clock.
    void hold(long frames, Ms atLeast);

    int pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    int status_ = -1;
    testing_support::FrameWatch watch_{{}, Ms(0)};
    long deadlineFrame_ = 0;
    unsigned long window_ = 0;
    int width_ = 0, height_ = 0;
    std::string log_;
    size_t taken_ = 0;  // how far screen waits have read the log
};

// What the game plays, as the sound library's wave driver writes it to a file while it plays
// (one channel, 16 bits, 22050 Hz, in real time): the file grows as the sound goes on. The game's
// clock moves a 1/60 s step a frame, so on a slow machine a stretch of play outlasts its music in
// real time; the game's own frames tell how much of it a player at full speed would hear.
class SoundRecording {
public:
    // Points the options' sound output at a file in the run's home, and has the game write its
    // draw record (for its frame number) unless the options already ask for one.
    explicit SoundRecording(GameWindow::Options& options);
    struct Mark {
        double seconds;  // of the recording
        long frame;      // the game's last drawn
    };
    Mark mark() const;
    // The loudness (root mean square, 1 = full scale) of each whole second between two marks, as
    // long as a player at 60 frames a second would have heard it, `trim` seconds left off each end.
    std::vector<double> heardBetween(Mark from, Mark to, double trim) const;

private:
    std::filesystem::path file_, record_;
};

}  // namespace game_window
