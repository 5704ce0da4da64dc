// A headless run of the real executable that opens a level: what the game logged reaches the
// analytics agent's stored sessions (saved blocks, the current session, the sender's blocks).
#include <gtest/gtest.h>

#include <csignal>

#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "os/shell/tests/ZelvProcess.h"
#include "platform/base/AtomicFile.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

std::vector<std::string> loggedEvents(std::filesystem::path const& folder) {
    std::vector<std::string> names;
    auto take = [&](Data const& block) {
        try {
            for (auto const& e : block_reader::readBlock(block).events) names.push_back(e.name);
        } catch (std::exception const&) {
        }
    };
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string const name = entry.path().filename().string();
        if (name.rfind(".tallyStored", 0) == 0) {
            if (auto v = TallyUtil::safeUnarchiveObjectWithFile(entry.path()); v && v->array())
                for (auto const& b : *v->array())
                    if (b.data()) take(*b.data());
        } else if (name.rfind(".tallyCurrent", 0) == 0) {
            if (auto v = TallyUtil::safeUnarchiveObjectWithFile(entry.path()))
                if (auto s = v->objectAs<TallySession>())
                    for (auto const& e : s->eventLog()) names.push_back(e->name());
        } else if (name[0] != '.' && entry.is_regular_file()) {
            platform::WholeFile f = platform::readWholeFile(entry.path(), 16u << 20);
            if (f.status == platform::WholeFile::Read) take(f.bytes);
        }
    }
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
