#include "testing/GameWindow.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "testing/TestPaths.h"

#include <X11/Xlib.h>

extern char** environ;

namespace game_window {

namespace {

using Clock = std::chrono::steady_clock;

// Runs a helper program and returns what it printed; killed after `bound`.
std::vector<uint8_t> run(std::vector<std::string> const& args, Ms bound = Ms(10000)) {
    std::vector<uint8_t> out;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return out;
    pid_t const pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        int const null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDERR_FILENO);
        std::vector<char*> argv;
        for (auto const& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    auto const end = Clock::now() + bound;
    uint8_t buffer[65536];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        int const wait = int(std::chrono::duration_cast<Ms>(end - Clock::now()).count());
        if (wait <= 0 || poll(&p, 1, wait) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        ssize_t const n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
}

std::string text(std::vector<uint8_t> const& bytes) { return std::string(bytes.begin(), bytes.end()); }

uint32_t be32(std::vector<uint8_t> const& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

int shiftOf(uint32_t mask) {
    int s = 0;
    while (mask && !(mask & 1)) mask >>= 1, ++s;
    return s;
}

}  // namespace

double Picture::litShare() const {
    size_t const n = rgb.size() / 3;
    if (n == 0) return 0.0;
    size_t lit = 0;
    for (size_t i = 0; i < n; ++i)
        if (rgb[3 * i] > 64 || rgb[3 * i + 1] > 64 || rgb[3 * i + 2] > 64) ++lit;
    return double(lit) / double(n);
}

double Picture::differenceFrom(Picture const& other, int by) const {
    if (width != other.width || height != other.height || rgb.size() != other.rgb.size() || rgb.empty()) return 1.0;
    size_t differing = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        for (size_t c = 0; c < 3; ++c) {
            if (std::abs(int(rgb[i + c]) - int(other.rgb[i + c])) > by) {
                ++differing;
                break;
            }
        }
    }
    return double(differing) / double(rgb.size() / 3);
}

double Picture::shareIn(float x0, float y0, float x1, float y1,
                        std::function<bool(uint8_t, uint8_t, uint8_t)> const& test) const {
    if (width == 0) return 0.0;
    auto px = [&](float x) { return std::clamp(int(x / 1280.0f * float(width)), 0, width - 1); };
    auto py = [&](float y) { return std::clamp(int((1.0f - y / 720.0f) * float(height)), 0, height - 1); };
    size_t hits = 0, all = 0;
    for (int y = py(y1); y <= py(y0); ++y) {
        for (int x = px(x0); x <= px(x1); ++x) {
            uint8_t const* c = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            ++all;
            if (test(c[0], c[1], c[2])) ++hits;
        }
    }
    return all ? double(hits) / double(all) : 0.0;
}

size_t Picture::coarseColours() const {
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < rgb.size() && colours.size() < 1000; i += 3)
        colours.insert(uint32_t(rgb[i] >> 4) << 8 | uint32_t(rgb[i + 1] >> 4) << 4 | uint32_t(rgb[i + 2] >> 4));
    return colours.size();
}

// The header is 25 big-endian words, then the window name up to the header size, then one
// 12-byte entry per colour, then the rows.
Picture readXwd(std::vector<uint8_t> const& b) {
    Picture p;
    if (b.size() < 100) return p;
    uint32_t const headerSize = be32(b, 0), version = be32(b, 4), format = be32(b, 8);
    uint32_t const width = be32(b, 16), height = be32(b, 20), byteOrder = be32(b, 28);
    uint32_t const bitsPerPixel = be32(b, 44), bytesPerLine = be32(b, 48);
    uint32_t const red = be32(b, 56), green = be32(b, 60), blue = be32(b, 64), colours = be32(b, 76);
    if (version != 7 || format != 2 || (bitsPerPixel != 32 && bitsPerPixel != 24) || width == 0 || height == 0 ||
        width > 16384 || height > 16384 || bytesPerLine < width * (bitsPerPixel / 8) || headerSize < 100 ||
        colours > 65536)
        return p;
    size_t const start = size_t(headerSize) + size_t(colours) * 12;
    if (b.size() < start + size_t(bytesPerLine) * height) return p;
    p.width = int(width);
    p.height = int(height);
    p.rgb.reserve(size_t(width) * height * 3);
    size_t const step = bitsPerPixel / 8;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t const* row = b.data() + start + size_t(y) * bytesPerLine;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t const* q = row + x * step;
            uint32_t v = 0;
            for (size_t i = 0; i < step; ++i) v |= uint32_t(q[byteOrder == 0 ? i : step - 1 - i]) << (8 * i);
            p.rgb.push_back(uint8_t((v & red) >> shiftOf(red)));
            p.rgb.push_back(uint8_t((v & green) >> shiftOf(green)));
            p.rgb.push_back(uint8_t((v & blue) >> shiftOf(blue)));
        }
    }
    return p;
}

namespace {

// The draw record the options name, drawn.txt in the home unless they name one.
std::filesystem::path drawRecordOf(GameWindow::Options& options) {
    auto& record = options.env["ZELV_DRAW_RECORD"];
    if (record.empty()) record = (options.home / "drawn.txt").string();
    return record;
}

}  // namespace

GameWindow::GameWindow(Options o) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string const entry(*e);
        size_t const eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (char const* name : {"ZELV_DOCUMENTS_DIR", "ZELV_CLOUD_DIR", "ZELV_PAK1_URL"}) env.erase(name);
    // A record left by an earlier run in the same home would count its frames.
    std::filesystem::path const record = drawRecordOf(o);
    std::error_code gone;
    std::filesystem::remove(record, gone);
    env["HOME"] = o.home.string();
    env["XDG_CACHE_HOME"] = (o.home / "cache").string();
    env["XDG_CONFIG_HOME"] = (o.home / "config").string();
    env["XDG_DATA_HOME"] = (o.home / "data").string();
    env["SDL_VIDEODRIVER"] = "x11";
    env["ZELV_FIXED_STEP"] = "1";
    // The game takes its language from the machine's: ask for the English the walks read, and
    // the C library's own messages and formats, whatever the machine is set to.
    env["LANGUAGE"] = "en";
    env["LC_ALL"] = "C.UTF-8";
    for (auto const& [name, value] : o.env) env[name] = value;
    std::vector<std::string> envText;
    for (auto const& [name, value] : env) envText.push_back(name + "=" + value);

    std::filesystem::create_directories(o.home);
    std::string const exe = (testing_support::binaryDir() / "zelv").string();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    deadlineFrame_ = framesIn(o.deadline);
    watch_ = testing_support::FrameWatch(record, o.stall);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto const& a : o.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto const& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);

    // The window appears once the game has mounted its data, before its first frame; it is found
    // by the game's pid.
    waitUntil(
        [&] {
            std::istringstream ids(text(run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid_)})));
            ids >> window_;
            return window_ != 0;
        },
        Ms(60000));
    if (!window_) return;
    std::istringstream geometry(text(run({"xdotool", "getwindowgeometry", "--shell", std::to_string(window_)})));
    for (std::string line; std::getline(geometry, line);) {
        if (line.rfind("WIDTH=", 0) == 0) width_ = std::atoi(line.c_str() + 6);
        if (line.rfind("HEIGHT=", 0) == 0) height_ = std::atoi(line.c_str() + 7);
    }
    // No window manager: keys go to the focused window.
    run({"xdotool", "windowfocus", std::to_string(window_)});
}

GameWindow::~GameWindow() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

void GameWindow::pump() {
    char buffer[8192];
    ssize_t n;
    while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) > 0) log_.append(buffer, size_t(n));
}

long GameWindow::lastFrame() { return watch_.frame(); }

bool GameWindow::alive() {
    pump();
    if (pid_ <= 0 || exited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        status_ = status;
        pump();
        return false;
    }
    if (lastFrame() > deadlineFrame_ || watch_.stalled()) {
        std::fprintf(stderr, "game_window: the game ran past its deadline or stopped drawing; killed\n");
        kill(pid_, SIGKILL);
    }
    return true;
}

bool GameWindow::waitUntil(std::function<bool()> const& done, Ms bound) {
    long const end = lastFrame() + framesIn(bound);
    auto const start = Clock::now();
    for (;;) {
        pump();
        if (done()) return true;
        if (!alive()) return done();
        if (lastFrame() >= end || watch_.stalled(start)) return false;
        std::this_thread::sleep_for(Ms(50));
    }
}

bool GameWindow::pass(Ms gameTime) {
    long const end = lastFrame() + framesIn(gameTime);
    return waitUntil([&] { return lastFrame() >= end; }, gameTime + Ms(1000));
}

bool GameWindow::waitForStill(long frames, Ms bound) {
    long const from = lastFrame();
    return waitUntil(
        [&] {
            // "frame N" then "still N", the record replaced whole each frame.
            std::ifstream in(watch_.record());
            std::string frameWord, stillWord;
            long frame = -1, still = -1;
            in >> frameWord >> frame >> stillWord >> still;
            return in && frameWord == "frame" && stillWord == "still" && frame > from && still >= frames;
        },
        bound);
}

bool GameWindow::waitForExit(Ms bound) {
    auto const end = Clock::now() + bound;
    while (alive() && Clock::now() < end) std::this_thread::sleep_for(Ms(50));
    return !alive();
}

void GameWindow::hold(long frames, Ms atLeast) {
    auto const from = Clock::now();
    long const end = lastFrame() + frames;
    waitUntil([&] { return lastFrame() >= end && Clock::now() - from >= atLeast; }, Ms(60000));
}

bool GameWindow::waitForScreen(std::string const& name, Ms bound) {
    return actUntilScreen(name, nullptr, bound, bound);
}

bool GameWindow::actUntilScreen(std::string const& name, std::function<void()> const& act, Ms every, Ms bound) {
    return actUntilLine("zelv: screen " + name, act, every, bound);
}

bool GameWindow::actUntilLine(std::string const& text, std::function<void()> const& act, Ms every, Ms bound) {
    std::string const line = text + "\n";
    long next = -2;
    return waitUntil(
        [&] {
            size_t const at = log_.find(line, taken_);
            if (at != std::string::npos) {
                taken_ = at + line.size();
                return true;
            }
            if (act && lastFrame() >= next) {
                act();
                next = lastFrame() + framesIn(every);
            }
            return false;
        },
        bound);
}

std::string GameWindow::nextScreen(Ms bound) {
    std::string const marker = "zelv: screen ";
    std::string name;
    waitUntil(
        [&] {
            size_t const at = log_.find(marker, taken_);
            size_t const end = at == std::string::npos ? at : log_.find('\n', at);
            if (end != std::string::npos) {
                name = log_.substr(at + marker.size(), end - at - marker.size());
                taken_ = end + 1;
                return true;
            }
            return false;
        },
        bound);
    return name;
}

std::string GameWindow::currentScreen() {
    pump();
    std::string const marker = "zelv: screen ";
    size_t const at = log_.rfind(marker);
    if (at == std::string::npos) return std::string();
    size_t const end = log_.find('\n', at);
    return log_.substr(at + marker.size(), end == std::string::npos ? std::string::npos : end - at - marker.size());
}

void GameWindow::keyDown(std::string const& key) { run({"xdotool", "keydown", key}); }
void GameWindow::keyUp(std::string const& key) { run({"xdotool", "keyup", key}); }

// Two frames after the press has come, the game has drawn a whole frame with it held: it samples
// held keys once a frame.
void GameWindow::tap(std::string const& key) {
    keyDown(key);
    hold(2, Ms(80));
    keyUp(key);
}

void GameWindow::click(float x, float y) {
    mouseDown(x, y);
    hold(2, Ms(80));
    mouseUp();
}

void GameWindow::mouseDown(float x, float y) {
    int const px = int(x / 1280.0f * float(width_)), py = int((1.0f - y / 720.0f) * float(height_));
    run({"xdotool", "mousemove", "--window", std::to_string(window_), std::to_string(px), std::to_string(py),
         "mousedown", "1"});
}

void GameWindow::mouseUp() { run({"xdotool", "mouseup", "1"}); }

void GameWindow::setFocus(bool focused) {
    if (focused) {
        run({"xdotool", "windowfocus", std::to_string(window_)});
        return;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    XSetInputFocus(display, None, RevertToNone, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
}

Picture GameWindow::screenshot() {
    std::vector<uint8_t> const dump = run({"xwd", "-silent", "-id", std::to_string(window_)});
    // ZELV_SHOTS_DIR keeps every grab for a person to look at (ffmpeg turns xwd into png).
    if (char const* dir = std::getenv("ZELV_SHOTS_DIR"); dir && *dir) {
        static int count = 0;
        char name[64];
        std::snprintf(name, sizeof name, "/shot%03d.xwd", count++);
        if (FILE* f = std::fopen((std::string(dir) + name).c_str(), "wb")) {
            std::fwrite(dump.data(), 1, dump.size(), f);
            std::fclose(f);
        }
    }
    return readXwd(dump);
}

bool GameWindow::waitForContent(Ms bound, Picture* last, Picture const* unlike) {
    // A fade moves a few levels a frame, too little to see between two grabs: the picture has
    // settled only once it matches, closely, one grabbed at least a second of the game's time
    // before. A fade moves the whole picture; a spinning gear or twinkling stars, a few per cent
    // of it.
    Picture p, before, settledFrom;
    long settledAt = 0;
    bool const shown = waitUntil(
        [&] {
            before = std::move(p);
            long const now = lastFrame();
            p = screenshot();
            if (settledFrom.rgb.empty() || p.differenceFrom(settledFrom, 6) >= 0.05) {
                settledFrom = p;
                settledAt = now;
            }
            return p.showsContent() && p.differenceFrom(before) < 0.01 && now - settledAt >= framesIn(Ms(1000)) &&
                   (!unlike || p.differenceFrom(*unlike) > 0.1);
        },
        bound);
    if (last) *last = std::move(p);
    return shown;
}

bool GameWindow::stop(Ms bound) {
    if (pid_ > 0 && !exited_) kill(pid_, SIGTERM);
    return waitForExit(bound) && WIFEXITED(status_) && WEXITSTATUS(status_) == 0 && missedAssets().empty();
}

bool GameWindow::closeFromOutside(Ms bound) {
    if (window_ != 0) run({"xdotool", "windowclose", std::to_string(window_)});
    return waitForExit(bound) && WIFEXITED(status_) && WEXITSTATUS(status_) == 0 && missedAssets().empty();
}

std::vector<std::string> GameWindow::missedAssets() const {
    std::string const marker = "FileSystem: no \"", tail = "\" in the archives or on disk\n";
    std::vector<std::string> paths;
    for (size_t at = log_.find(marker); at != std::string::npos; at = log_.find(marker, at + 1)) {
        size_t const end = log_.find(tail, at + marker.size());
        if (end != std::string::npos) paths.push_back(log_.substr(at + marker.size(), end - at - marker.size()));
    }
    return paths;
}

long GameWindow::frames() const {
    std::string const mark = "zelv: ended after ";
    size_t const at = log_.rfind(mark);
    return at == std::string::npos ? -1 : std::strtol(log_.c_str() + at + mark.size(), nullptr, 10);
}

std::string GameWindow::describe() const {
    std::string const tail = log_.size() > 6000 ? "..." + log_.substr(log_.size() - 6000) : log_;
    std::string ending;
    if (exited_ && WIFEXITED(status_)) ending = "--- exited with status " + std::to_string(WEXITSTATUS(status_)) + "\n";
    if (exited_ && WIFSIGNALED(status_)) ending = "--- ended by signal " + std::to_string(WTERMSIG(status_)) + "\n";
    std::string missed;
    for (std::string const& path : missedAssets()) missed += "--- missing from the archives: " + path + "\n";
    return "--- game output\n" + tail + ending + missed;
}

namespace {

constexpr int kSoundRate = 22050;

// The samples written so far, after the "data" chunk's header (whose size the driver fills in
// only when it closes the file).
std::vector<int16_t> samplesIn(std::filesystem::path const& file) {
    std::ifstream in(file, std::ios::binary);
    std::string const bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t const at = bytes.find("data", 12);
    if (at == std::string::npos) return {};
    std::vector<int16_t> samples((bytes.size() - at - 8) / 2);
    std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 2);
    return samples;
}

}  // namespace

SoundRecording::SoundRecording(GameWindow::Options& options)
    : file_(options.home / "sound.wav"), record_(drawRecordOf(options)) {
    std::filesystem::create_directories(options.home);
    std::filesystem::path const conf = options.home / "alsoft.conf";
    std::ofstream(conf) << "[general]\ndrivers=wave\nfrequency=" << kSoundRate
                        << "\nchannels=mono\nsample-type=int16\n[wave]\nfile=" << file_.string() << "\n";
    options.env["ALSOFT_DRIVERS"] = "wave";
    options.env["ALSOFT_CONF"] = conf.string();
}

SoundRecording::Mark SoundRecording::mark() const {
    return {double(samplesIn(file_).size()) / kSoundRate, recordedFrame(record_)};
}

std::vector<double> SoundRecording::heardBetween(Mark from, Mark to, double trim) const {
    double const played = std::min(to.seconds - from.seconds, double(to.frame - from.frame) / 60.0);
    std::vector<int16_t> const samples = samplesIn(file_);
    std::vector<double> out;
    constexpr double step = 1.0;
    for (double t = std::max(from.seconds + trim, 0.0); t + step <= from.seconds + played - trim; t += step) {
        size_t const first = size_t(t * kSoundRate), last = std::min(samples.size(), size_t((t + step) * kSoundRate));
        double sum = 0;
        for (size_t i = first; i < last; ++i) sum += double(samples[i]) * samples[i];
        out.push_back(last > first ? std::sqrt(sum / double(last - first)) / 32768.0 : 0.0);
    }
    return out;
}

}  // namespace game_window
