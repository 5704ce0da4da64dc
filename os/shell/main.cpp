#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "analytics/agent/Tally.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/DesktopShellPlatform.h"
#include "os/shell/Impl.h"
#include "platform/EventPump.h"
#include "platform/base/NotificationCenter.h"

namespace {

// Runs before any static initialiser of the game opens a file. A standard stream that was closed
// (zelv >&- 2>&-) would otherwise be the number the next open file gets, and the log would go
// into it: with the display's socket on 2 the window hangs. /dev/null takes its place.
// A write past a file-size limit (ulimit -f) fails with EFBIG, like a full disk, instead of
// ending the game by SIGXFSZ.
__attribute__((constructor(101))) void guardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        int const null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

// The software GL driver alone takes hundreds of MB of address space and ends the process by a
// signal when it runs out; under a tighter limit the game says so rather than starting.
constexpr uint64_t kAddressSpaceNeeded = 1500ull * 1000 * 1000;

// False, with the message printed, when an address-space limit is too tight to start under.
bool addressSpaceSuffices() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    if (uint64_t(limit.rlim_cur) < kAddressSpaceNeeded) {
        std::fprintf(stderr, "zelv: the address space is limited to %llu MB; the game needs %llu MB\n",
                     static_cast<unsigned long long>(limit.rlim_cur / 1000000),
                     static_cast<unsigned long long>(kAddressSpaceNeeded / 1000000));
        return false;
    }
    // Each thread's malloc arena reserves 64 MiB of address space; under a limit a few are shared.
    mallopt(M_ARENA_MAX, 2);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // First of all: a SIGTERM or a hang-up from here on ends the game cleanly, and a log pipe that
    // closes (zelv | head) leaves the game running with its log lost.
    platform::EventPump::installTerminationHandler();
    std::signal(SIGPIPE, SIG_IGN);
    if (!addressSpaceSuffices()) return 1;
    // An engine failure ends the game with a clear message rather than an abort.
    std::string stop = "zelv: stopped by an unknown error";
    try {
        os::DesktopShellPlatform platform;
        os::AppDelegate delegate(platform, [] { return std::make_unique<os::AppFrameOf<os::App>>(); });
        return delegate.run(argc, argv);
    } catch (std::exception const& e) {
        stop = std::string("zelv: stopped by an error: ") + e.what();
    } catch (...) {
    }
    // The agent may be halfway through its start: it ends as on a normal exit, so that none of
    // its work still runs while the process's statics and libraries are torn down.
    platform::NotificationCenter::shared().post(Tally::kWillTerminate);
    std::fprintf(stderr, "%s\n", stop.c_str());
    return 1;
}
