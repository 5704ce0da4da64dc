#pragma once
// The persistent list of a sender's unsent blocks, by data key, oldest first, in one index file
// in the files folder. Changes run on the index's own serial queue and rewrite the file.
//
// An index file that exists but cannot be read (as opposed to one read whole that does not
// decode) is neither deleted nor overwritten: its blocks are merged back in once it reads again.
//
// Another process on the same home may keep the same index file: every write holds a lock file
// beside it, reads the file again and applies this index's additions and removals since its last
// write to what is there, so neither process's blocks drop out of the list. A write that finds the
// lock held by another process does not wait for it: the additions not in a note yet go at once to
// a new note beside the index (see NoteSet), which the next write under the lock (of any process)
// folds in, and the write is tried again a little later. The index file records the notes folded
// into it that may still be there.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analytics/delivery/TallyDataSenderBlockInfo.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/NoteSet.h"
#include "platform/base/WorkQueue.h"

class TallyDataSenderIndex : public platform::Archivable, public std::enable_shared_from_this<TallyDataSenderIndex> {
public:
    static constexpr char const* kClassName = "TallyDataSenderIndex";
    static constexpr size_t kMaxBlocksPerKey = 50;
    static constexpr int64_t kRetryMs = 1000;  // after a write found the lock held elsewhere
    using Blocks = std::vector<std::shared_ptr<TallyDataSenderBlockInfo>>;
    using IndexMap = std::map<std::string, Blocks>;

    static std::shared_ptr<TallyDataSenderIndex> instantiatedIndexWithIndexFile(std::string const& fileName);
    static void registerArchiveClasses();

    TallyDataSenderIndex();
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

    void saveState();
    void addBlockInfo(std::shared_ptr<TallyDataSenderBlockInfo> block, std::string const& dataKey);
    void removeBlockInfoWithIdentifier(std::string const& identifier, std::string const& dataKey);
    Blocks notSentBlocksForDataKey(std::string const& dataKey);
    bool discardOutdatedBlocksForDataKey(std::string const& dataKey);
    bool discardOldBlocksForDataKey(std::string const& dataKey);
    void setupForCurrentDataKey(std::string const& dataKey);
    // Lists under dataKey the block files in the folder that neither this index nor any of
    // otherIndexFiles lists and that were last changed at least minAgeSeconds ago, or are dated at
    // least that far ahead (a block left by an index written over, or by a process that stopped
    // between writing a block and listing it). Returns how many were taken back.
    size_t adoptUnlistedBlocks(std::string const& dataKey, std::vector<std::string> const& otherIndexFiles,
                               int64_t minAgeSeconds);

    // A copy of the map, read on the index queue.
    IndexMap indexMap();
    bool sentReportSuccessfully() const { return sentReportSuccessfully_.load(); }
    void setSentReportSuccessfully(bool sent) { sentReportSuccessfully_ = sent; }
    std::string const& fileName() const { return fileName_; }
    platform::WorkQueue& indexMapQueue() { return *indexMapQueue_; }
    std::filesystem::path filePath() const;

private:
    static std::shared_ptr<platform::Archivable> initWithCoder(platform::ArchiveDecoder const& decoder);
    // Under the file's lock: merges the file's list with this index's changes, lets extra
    // change the result, and writes it. False when the file could not be read or written; the
    // changes then wait for the next save.
    bool saveMerged(std::function<void()> const& extra = {});
    void mergeWith(TallyDataSenderIndex const& onDisk);
    // The notes beside the index file named so.
    static std::unique_ptr<platform::NoteSet> notesOf(std::string const& indexFileName);
    // Calls f with each block a note of that index lists; false when the note is no list.
    static platform::NoteSet::Apply eachNoted(std::function<void(std::string const&, std::shared_ptr<TallyDataSenderBlockInfo> const&)> f);
    void writeNote();
    void scheduleRetry();
    void noteRemoved(std::shared_ptr<TallyDataSenderBlockInfo> const& block);

    IndexMap indexMap_;
    std::atomic<bool> sentReportSuccessfully_{false};
    std::string fileName_;
    bool fileUnread_ = false;  // the file was there but could not be read
    // Changes since the last write, applied to the file's list at the next one.
    std::vector<std::pair<std::string, std::shared_ptr<TallyDataSenderBlockInfo>>> added_;
    std::set<std::string> removed_;
    std::set<std::string> removedKeys_;
    std::set<std::string> noted_;    // identifiers of the additions in a note of this process
    std::set<std::string> folded_;   // notes folded into the file that may still be there
    std::unique_ptr<platform::NoteSet> notes_;
    bool unsaved_ = false;         // a write found the lock held by another process
    bool retryScheduled_ = false;  // both on the index queue
    std::shared_ptr<platform::WorkQueue> indexMapQueue_;
};
