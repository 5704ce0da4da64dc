#include "os/shell/tests/ZelvProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "testing/FrameWatch.h"
#include "testing/TestPaths.h"

namespace zelv_run {

namespace {
// Whether the process has a handler of its own for the signal (SigCgt in its status).
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Sends the signal to the run: the process, its group, or the group's processes running `only`.
void signalRun(pid_t pid, Options const& o) {
    if (!o.group) {
        kill(pid, o.signal);
        return;
    }
    if (o.signalOnly.empty()) {
        kill(-pid, o.signal);
        return;
    }
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator("/proc", ec)) {
        pid_t const other = pid_t(std::strtol(entry.path().filename().c_str(), nullptr, 10));
        if (other <= 0 || getpgid(other) != pid) continue;
        if (std::filesystem::read_symlink(entry.path() / "exe", ec) == std::filesystem::weakly_canonical(o.signalOnly, ec))
            kill(other, o.signal);
    }
}
}  // namespace

long Result::frames() const {
    auto at = err.find("ended after ");
    return at == std::string::npos ? -1 : std::strtol(err.c_str() + at + 12, nullptr, 10);
}

size_t Result::countInErr(std::string const& text) const {
    size_t n = 0;
    for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + text.size())) ++n;
    return n;
}

std::string Result::describe() const {
    return std::string(timedOut ? "timed out at frame " + std::to_string(lastFrame) + "; " : "") +
           (exited ? "exit " : "signal ") + std::to_string(status) + "\n--- stdout\n" + out + "--- stderr\n" + err;
}

std::filesystem::path executableIn(std::filesystem::path const& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::path const exe = folder / "zelv";
    std::error_code ec;
    std::filesystem::create_hard_link(testing_support::binaryDir() / "zelv", exe, ec);
    if (ec) std::filesystem::copy_file(testing_support::binaryDir() / "zelv", exe, ec);
    return exe;
}

Result run(Options const& o) {
    std::filesystem::path const exe = o.executable.empty() ? testing_support::binaryDir() / "zelv" : o.executable;
    std::map<std::string, std::optional<std::string>> env = {
        {"SDL_VIDEODRIVER", "offscreen"},
        // English and the C library's own messages, not the machine's language.
        {"LANGUAGE", "en"},
        {"LC_ALL", "C.UTF-8"},
        {"HOME", o.home.string()},
        {"XDG_CACHE_HOME", (o.home / "cache").string()},
        {"XDG_CONFIG_HOME", (o.home / "config").string()},
        {"XDG_DATA_HOME", (o.home / "data").string()},
        {"ZELV_DOCUMENTS_DIR", std::nullopt},
        {"ZELV_CLOUD_DIR", std::nullopt},
        {"ZELV_PAK1_URL", std::nullopt},
    };
    for (auto const& [name, value] : o.env) env[name] = value;
    // The record lies outside the home, in a folder any account the run takes can write.
    testing_support::TempDir records;
    std::filesystem::permissions(records.path(), std::filesystem::perms::all);
    testing_support::FrameWatch watch(records / "drawn.txt", o.stall);
    env["ZELV_DRAW_RECORD"] = watch.record().string();

    int outPipe[2], errPipe[2];
    Result r;
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        r.err = "pipe failed";
        return r;
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (o.group) setpgid(0, 0);
        if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0) _exit(125);
        if (o.addressSpace) {
            rlimit const limit{rlim_t(*o.addressSpace), rlim_t(*o.addressSpace)};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        for (auto const& [name, value] : env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (o.inChild && !o.inChild()) _exit(124);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto const& a : o.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    using Clock = std::chrono::steady_clock;
    std::optional<long> signalAt;  // the frame to send the signal after
    std::optional<Clock::time_point> markedAt;
    bool signalled = false;
    int status = 0;
    bool done = false;
    bool acted = false;
    for (;;) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        bool const watchingHandlers = o.signalWhenCaught && !signalled;
        poll(fds, errPipe[0] >= 0 ? 2 : 1, watchingHandlers ? 1 : 50);
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) (i ? r.err : r.out).append(buf, size_t(n));
            }
        }
        if (o.closeErrAfterLines && errPipe[0] >= 0 &&
            size_t(std::count(r.err.begin(), r.err.end(), '\n')) >= *o.closeErrAfterLines) {
            close(errPipe[0]);
            errPipe[0] = -1;
            signalAt = watch.frame() + testing_support::framesIn(o.settle);
        }
        if (!acted && o.act && !o.actAfter.empty() && r.err.find(o.actAfter) != std::string::npos) {
            o.act();
            acted = true;
        }
        if (!o.killAfter.empty() && r.err.find(o.killAfter) != std::string::npos) kill(pid, SIGKILL);
        if (watchingHandlers && catches(pid, o.signal)) {
            kill(pid, o.signal);
            signalled = true;
        }
        if (!done && waitpid(pid, &status, WNOHANG) == pid) done = true;
        if (done) {
            // Drain what is left once the process is gone.
            fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
            ssize_t n;
            while ((n = read(outPipe[0], buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
            if (errPipe[0] >= 0) {
                fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
                while ((n = read(errPipe[0], buf, sizeof buf)) > 0) r.err.append(buf, size_t(n));
            }
            break;
        }
        auto const now = Clock::now();
        long const frame = watch.frame();
        bool const marked = (!o.signalAfter.empty() && r.err.find(o.signalAfter) != std::string::npos) ||
                            (o.signalWhen && o.signalWhen());
        if (!signalled && !signalAt && (!o.signalAfter.empty() || o.signalWhen) &&
            (marked || frame + 1 >= testing_support::framesIn(o.markerWait))) {
            signalAt = frame + testing_support::framesIn(o.settle);
            markedAt = now;
        }
        if (!signalled && signalAt && frame >= *signalAt) {
            signalRun(pid, o);
            signalled = true;
            if (markedAt) r.signalledAfter = std::chrono::duration_cast<std::chrono::milliseconds>(now - *markedAt);
        }
        if (frame > testing_support::framesIn(o.deadline) || watch.stalled()) {
            kill(o.group ? -pid : pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.timedOut = true;
            done = true;
        }
    }
    close(outPipe[0]);
    if (errPipe[0] >= 0) close(errPipe[0]);
    r.lastFrame = watch.frame();
    r.exited = WIFEXITED(status);
    r.status = r.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return r;
}

}  // namespace zelv_run
