// A headless run of the real executable that opens a level: what the game logged reaches the
// analytics agent's stored sessions (saved blocks, the current session, the sender's blocks).
#include <gtest/gtest.h>

#include <csignal>

#include "analytics/agent/tests/StoredEvents.h"
#include "os/shell/tests/ZelvProcess.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

std::vector<std::string> loggedEvents(std::filesystem::path const& folder) {
    std::vector<std::string> names;
    for (auto const& e : block_reader::storedEvents(folder)) names.push_back(e.name);
    return names;
}

TEST(Shell, AHeadlessRunsLevelStartLandsInTheStoredSessions) {
    testing_support::TempDir home;
    // A save in which the first level is open, so the run can start it from its address.
    std::filesystem::path const documents = home.path() / "documents";
    std::filesystem::create_directories(documents);
    setenv("ZELV_DOCUMENTS_DIR", documents.c_str(), 1);
    {
        RoamingDataFile save("roamingData");
        save.data.levelEntry(0);
    }
    zelv_run::Options o;
    o.home = home.path();
    o.env["ZELV_DOCUMENTS_DIR"] = documents.string();
    o.args = {"0"};
    o.signalAfter = "Reachability";
    o.settle = std::chrono::milliseconds(3000);
    o.signal = SIGTERM;
    o.deadline = std::chrono::seconds(90);
    auto r = zelv_run::run(o);
    ASSERT_TRUE(r.exited && r.status == 0) << r.describe();
    auto names = loggedEvents(home.path() / "data" / "zelv" / "TallyFiles");
    EXPECT_NE(std::find(names.begin(), names.end(), "STARTED_LEVEL_WITH_PATH: levels/level01.pxl"), names.end())
        << r.describe();
}

}  // namespace
