#include <memory>

#include "os/shell/AppDelegate.h"
#include "os/shell/DesktopShellPlatform.h"
#include "os/shell/Impl.h"

int main(int argc, char** argv) {
    os::DesktopShellPlatform platform;
    os::AppDelegate delegate(platform, [] { return std::make_unique<os::AppFrameOf<os::App>>(); });
    return delegate.run(argc, argv);
}
