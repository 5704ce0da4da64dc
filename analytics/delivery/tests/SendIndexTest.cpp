// The send index on disk: what survives a restart, what a discard or a foreign key removes, and
// that an index file which cannot be read right now is never wiped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>

#include <fstream>

#include "analytics/delivery/tests/SenderFixture.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/NoteSet.h"

namespace {

using namespace delivery_test;
using Index = TallyDataSenderIndex;

class SendIndexTest : public SenderFixture {
protected:
    std::shared_ptr<Index> load() { return Index::instantiatedIndexWithIndexFile("test.index"); }
    std::vector<std::string> ids(std::shared_ptr<Index> const& index, std::string const& key) {
        std::vector<std::string> out;
        for (auto const& b : index->notSentBlocksForDataKey(key)) out.push_back(b->identifier());
        return out;
    }
    std::shared_ptr<TallyDataSenderBlockInfo> add(std::shared_ptr<Index> const& index, std::string const& key, uint8_t fill) {
        auto block = TallyDataSenderBlockInfo::initWithData(platform::Data(10, fill));
        index->addBlockInfo(block, key);
        return block;
    }
    bool exists(std::shared_ptr<TallyDataSenderBlockInfo> const& b) { return std::filesystem::exists(b->path()); }
};

TEST_F(SendIndexTest, BlocksSurviveRestartsAndDiscardsKeepTheNewest) {
    auto index = load();
    EXPECT_TRUE(index->notSentBlocksForDataKey("absent").empty());
    std::vector<std::shared_ptr<TallyDataSenderBlockInfo>> blocks;
    for (int i = 0; i < 50; ++i) blocks.push_back(add(index, "k", uint8_t(i)));
    EXPECT_FALSE(index->discardOutdatedBlocksForDataKey("k"));
    for (int i = 50; i < 53; ++i) blocks.push_back(add(index, "k", uint8_t(i)));
    blocks[7]->setGroupIdentifier("G");
    blocks[9]->setGroupIdentifier("G");
    index->setSentReportSuccessfully(true);
    EXPECT_TRUE(index->discardOutdatedBlocksForDataKey("k"));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(exists(blocks[size_t(i)]));
    std::vector<std::string> expected;
    for (size_t i = 3; i < 53; ++i) expected.push_back(blocks[i]->identifier());
    EXPECT_EQ(ids(index, "k"), expected);

    // Removing by group takes every block carrying it; no match still rewrites the file.
    index->removeBlockInfoWithIdentifier("G", "k");
    index->indexMapQueue().waitUntilIdle();
    EXPECT_FALSE(exists(blocks[7]));
    EXPECT_FALSE(exists(blocks[9]));
    std::filesystem::remove(index->filePath());
    index->removeBlockInfoWithIdentifier("nothing", "k");
    index->indexMapQueue().waitUntilIdle();
    EXPECT_TRUE(std::filesystem::exists(index->filePath()));

    auto again = load();
    expected.erase(std::remove(expected.begin(), expected.end(), blocks[7]->identifier()), expected.end());
    expected.erase(std::remove(expected.begin(), expected.end(), blocks[9]->identifier()), expected.end());
    EXPECT_EQ(ids(again, "k"), expected);
    EXPECT_TRUE(again->sentReportSuccessfully());
    for (auto const& b : again->notSentBlocksForDataKey("k")) {
        EXPECT_EQ(b->groupIdentifier(), "");
        EXPECT_EQ(b->dataSize(), 10u);
        EXPECT_TRUE(b->data());
    }
}

TEST_F(SendIndexTest, ForeignKeysCorruptAndUnreadableFiles) {
    // Blocks filed under another API key go at set-up, files included.
    auto index = load();
    auto mine = add(index, "mine", 1);
    auto theirs = add(index, "theirs", 2);
    index->indexMapQueue().waitUntilIdle();
    auto reloaded = load();
    reloaded->setupForCurrentDataKey("mine");
    EXPECT_FALSE(exists(theirs));
    EXPECT_TRUE(exists(mine));
    EXPECT_EQ(load()->indexMap().count("theirs"), 0u);

    // A file read whole that does not decode is dropped; the blocks' own files stay.
    std::string const junk = "not an archive";
    ASSERT_TRUE(platform::writeFileAtomically(reloaded->filePath(), reinterpret_cast<uint8_t const*>(junk.data()), junk.size()));
    EXPECT_TRUE(load()->indexMap().empty());
    EXPECT_FALSE(std::filesystem::exists(reloaded->filePath()));
    EXPECT_TRUE(exists(mine));

    // A file that cannot be read now (here: past the size limit) is neither deleted nor
    // overwritten, and its blocks come back once it reads again.
    auto first = load();
    auto kept = add(first, "mine", 3);
    first->indexMapQueue().waitUntilIdle();
    std::filesystem::path const path = first->filePath();
    std::filesystem::path const aside = dir / "aside";
    std::filesystem::copy_file(path, aside);
    std::filesystem::resize_file(path, platform::KeyedArchive::kMaxSize + 1);
    auto blind = load();
    EXPECT_TRUE(blind->notSentBlocksForDataKey("mine").empty());
    auto later = add(blind, "mine", 4);
    blind->indexMapQueue().waitUntilIdle();
    EXPECT_EQ(std::filesystem::file_size(path), platform::KeyedArchive::kMaxSize + 1);
    std::filesystem::copy_file(aside, path, std::filesystem::copy_options::overwrite_existing);
    add(blind, "mine", 5);
    blind->indexMapQueue().waitUntilIdle();
    auto recovered = ids(load(), "mine");
    ASSERT_EQ(recovered.size(), 3u);
    EXPECT_EQ(recovered[0], kept->identifier());
    EXPECT_EQ(recovered[1], later->identifier());

    // A stored block without an identifier, or one naming a path, is no block.
    EXPECT_FALSE(TallyDataSenderBlockInfo::initWithCoder(platform::ArchiveDecoder(platform::Value::Dict{{"identifier", ""}})));
    EXPECT_FALSE(TallyDataSenderBlockInfo::initWithCoder(platform::ArchiveDecoder(platform::Value::Dict{{"identifier", "../../x"}})));
}

// Blocks that a writer which found the index's lock held put in notes are listed exactly once,
// whatever step of the next write's fold a kill strikes. Each such write makes a new note, so a
// folder never removes more than it read.
TEST_F(SendIndexTest, NotedBlocksAreListedOnceWhereverAKillStrikesTheFold) {
    if (testing_support::kThreadChecked) GTEST_SKIP() << "the forked copies start threads";
    using Fills = std::vector<int>;
    auto fills = [](std::shared_ptr<Index> const& index) {
        Fills out;
        for (auto const& b : index->notSentBlocksForDataKey("k")) out.push_back(b->data() ? (*b->data())[0] : -1);
        return out;
    };
    for (int kill = 1;; ++kill) {
        ASSERT_LT(kill, 50);
        std::string const file = "kill" + std::to_string(kill) + ".index";
        auto const load = [&] { return Index::instantiatedIndexWithIndexFile(file); };
        auto first = load();
        add(first, "k", 1);
        first->indexMapQueue().waitUntilIdle();
        std::filesystem::path const lockFile = first->filePath().parent_path() / ("." + file + ".lock");
        auto const isNote = [&](std::string const& n) { return n.starts_with("." + file + ".") && n.ends_with(".added"); };
        auto notes = [&] { return platform::regularFilesIn(lockFile.parent_path(), isNote); };
        int const held = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        ASSERT_TRUE(testing_support::inProcessesAtOnce(1, [&](int) {
            auto noting = load();
            for (uint8_t fill : {2, 3}) add(noting, "k", fill), noting->indexMapQueue().waitUntilIdle();
            return true;
        }));
        ::close(held);
        ASSERT_EQ(notes().size(), 2u);
        bool const finished = testing_support::inProcessesAtOnce(1, [&](int) {
            int step = 0;
            platform::NoteSet::setFaultHook([&](std::string const& notes) {
                if (notes.ends_with("/." + file + ".") && ++step == kill) ::raise(SIGKILL);
            });
            auto folding = load();
            add(folding, "k", 4);
            folding->indexMapQueue().waitUntilIdle();
            return true;
        });
        // The third step comes once the index is written.
        bool const written = kill >= 3;
        EXPECT_EQ(finished, kill > 5) << kill;
        EXPECT_EQ(fills(load()), written ? (Fills{1, 2, 3, 4}) : Fills{1}) << kill;
        // The next write folds what is left.
        auto next = load();
        next->indexMapQueue().sync([&] { next->saveState(); });
        EXPECT_EQ(fills(load()), written ? (Fills{1, 2, 3, 4}) : (Fills{1, 2, 3})) << kill;
        EXPECT_TRUE(notes().empty()) << kill;
        if (finished) break;
    }
}

TEST_F(SendIndexTest, SenderDropsVanishedBlocksAndTrimsToFifty) {
    server.on("/aas.do", testing_support::HttpTestServer::Reply::answer(503));
    auto s = make();
    for (int i = 0; i < 53; ++i) hand(s, platform::Data(100, uint8_t(i)));
    ASSERT_TRUE(idle(s));
    // Every request failed; once none runs, only the 50 newest remain.
    EXPECT_EQ(stored(s), 50u);
    EXPECT_EQ(blockFiles(), 50u);
    auto blocks = s->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey());
    std::filesystem::remove(blocks[0]->path());
    server.on("/aas.do", testing_support::HttpTestServer::Reply::answer(200));
    size_t const before = delegate->groups().size();
    networkBecameReachable();
    ASSERT_TRUE(idle(s));
    EXPECT_EQ(stored(s), 0u);
    EXPECT_EQ(blockFiles(), 0u);
    auto const groups = delegate->groups();
    size_t carried = 0;
    for (size_t i = before; i < groups.size(); ++i) carried += groups[i];
    EXPECT_EQ(carried, 49u);
    s.reset();
    drop();

    // Another API key's blocks are dropped when the sender is made.
    setApiKey("key");
    auto first = make();
    TallyNetworkUtil::setServerURL("http://127.0.0.1:1/closed");
    hand(first, platform::Data{1});
    ASSERT_TRUE(idle(first));
    first.reset();
    drop();
    setApiKey("another key");
    auto second = make();
    EXPECT_EQ(stored(second), 0u);
    EXPECT_EQ(blockFiles(), 0u);
}

// A full disk (writes past a file-size limit fail) loses only what could not be written: the
// index on disk keeps its blocks, and they go out once the endpoint answers.
TEST_F(SendIndexTest, AFullDiskDeletesNothingUnaccepted) {
    server.on("/aas.do", testing_support::HttpTestServer::Reply::answer(503));
    auto s = make();
    for (int i = 0; i < 3; ++i) hand(s, platform::Data(2000, uint8_t(i)));
    ASSERT_TRUE(idle(s));
    ASSERT_EQ(stored(s), 3u);
    auto const listed = std::filesystem::file_size(s->dataIndex()->filePath());

    auto const previous = signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    for (int i = 0; i < 2; ++i) hand(s, platform::Data(2000, uint8_t(10 + i)));
    ASSERT_TRUE(idle(s));
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);

    EXPECT_EQ(std::filesystem::file_size(s->dataIndex()->filePath()), listed);
    EXPECT_EQ(blockFiles(), 3u);
    s.reset();
    drop();
    server.on("/aas.do", testing_support::HttpTestServer::Reply::answer(200));
    auto again = make();
    EXPECT_EQ(stored(again), 3u);
    networkBecameReachable();
    ASSERT_TRUE(idle(again));
    EXPECT_EQ(stored(again), 0u);
    EXPECT_EQ(blockFiles(), 0u);
    size_t accepted = 0;
    for (auto const& r : server.requests())
        if (r.answeredStatus == 200) accepted += r.body.size() > 6000 ? 3 : 0;
    EXPECT_EQ(accepted, 3u);
}

}  // namespace
