#include <cstdio>
#include <exception>
#include <memory>

#include "os/shell/AppDelegate.h"
#include "os/shell/DesktopShellPlatform.h"
#include "os/shell/Impl.h"

int main(int argc, char** argv) {
    // An engine failure ends the game with a clear message rather than an abort.
    try {
        os::DesktopShellPlatform platform;
        os::AppDelegate delegate(platform, [] { return std::make_unique<os::AppFrameOf<os::App>>(); });
        return delegate.run(argc, argv);
    } catch (std::exception const& e) {
        std::fprintf(stderr, "zelv: stopped by an error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zelv: stopped by an unknown error\n");
    }
    return 1;
}
