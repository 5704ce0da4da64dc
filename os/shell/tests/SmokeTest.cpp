// Runs the real executable headless for a few hundred frames, then asks it to end as the system
// would, and expects a clean exit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "testing/TestPaths.h"

namespace {

TEST(Shell, RunsHeadlessAndEndsCleanlyOnSigterm) {
    std::string exe = (testing_support::binaryDir() / "zelv").string();
    ASSERT_EQ(access(exe.c_str(), X_OK), 0) << exe;
    // The run keeps its settings, downloads and saves away from the user's own.
    testing_support::TempDir home;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("HOME", home.path().c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        unsetenv("ZELV_DOCUMENTS_DIR");
        unsetenv("ZELV_CLOUD_DIR");
        unsetenv("ZELV_PAK1_URL");
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // 300 frames at 60 a second, with room for a slow start.
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));
    ASSERT_EQ(kill(pid, SIGTERM), 0);

    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 300 && done == 0; ++i) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "zelv did not end within 30 s of SIGTERM";
    }
    std::string log;
    char buf[4096];
    ssize_t n;
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    while ((n = read(out[0], buf, sizeof buf)) > 0) log.append(buf, size_t(n));
    close(out[0]);

    ASSERT_TRUE(WIFEXITED(status)) << log;
    EXPECT_EQ(WEXITSTATUS(status), 0) << log;
    auto at = log.find("ended after ");
    ASSERT_NE(at, std::string::npos) << log;
    long frames = std::stol(log.substr(at + 12));
    EXPECT_GE(frames, 200) << log;
    EXPECT_LE(frames, 6000 * 60 / 1000 + 60) << "more than 60 frames a second: " << log;
    // The second archive was fetched into the run's own cache.
    EXPECT_TRUE(std::filesystem::exists(home / "cache" / "zelv" / "pak1.pak")) << log;
}

}  // namespace
