#pragma once
// The persistent list of a sender's unsent blocks, by data key, oldest first, in one index file
// in the files folder. Changes run on the index's own serial queue and rewrite the file.
//
// An index file that exists but cannot be read (as opposed to one read whole that does not
// decode) is neither deleted nor overwritten: its blocks are merged back in once it reads again.
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analytics/delivery/TallyDataSenderBlockInfo.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/WorkQueue.h"

class TallyDataSenderIndex : public platform::Archivable, public std::enable_shared_from_this<TallyDataSenderIndex> {
public:
    static constexpr char const* kClassName = "TallyDataSenderIndex";
    static constexpr size_t kMaxBlocksPerKey = 50;
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

    // A copy of the map, read on the index queue.
    IndexMap indexMap();
    bool sentReportSuccessfully() const { return sentReportSuccessfully_.load(); }
    void setSentReportSuccessfully(bool sent) { sentReportSuccessfully_ = sent; }
    std::string const& fileName() const { return fileName_; }
    platform::WorkQueue& indexMapQueue() { return *indexMapQueue_; }
    std::filesystem::path filePath() const;

private:
    static std::shared_ptr<platform::Archivable> initWithCoder(platform::ArchiveDecoder const& decoder);
    bool recoverUnreadFile();

    IndexMap indexMap_;
    std::atomic<bool> sentReportSuccessfully_{false};
    std::string fileName_;
    bool fileUnread_ = false;  // the file was there but could not be read
    std::shared_ptr<platform::WorkQueue> indexMapQueue_;
};
