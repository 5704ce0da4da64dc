#pragma once
// One stored payload of a sender: its file in the files folder, named by its identifier, holds
// the data byte for byte until a request carrying it has been accepted.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"
#include "platform/base/Value.h"

class TallyDataSenderBlockInfo : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyDataSenderBlockInfo";

    // A hold on the block's file while one request carries it. Every process on the home lists
    // every block, so a sender (of this process or another) that finds the block held leaves it
    // be. The hold goes with its holder, a killed one too, and the block then goes out with
    // whoever sends next. Never waited for.
    class Claim {
    public:
        enum State {
            Held,
            Taken,     // held by another request
            Gone,      // the file is no more: sent by another sender, or dropped
            Unlocked,  // there, but it cannot be held (a file system without locks): sent as before
        };
        Claim() = default;
        Claim(Claim&& other) noexcept;
        Claim& operator=(Claim&& other) noexcept;
        ~Claim();
        State state() const { return state_; }
        // Its request was answered: the file goes before the hold does, so nobody takes it up again.
        void sent();

    private:
        friend class TallyDataSenderBlockInfo;
        State state_ = Gone;
        int fd_ = -1;
        std::filesystem::path path_;
    };

    // Writes the data to a new block file, named by identifier when one is given; nothing when the
    // file cannot be written. An absent data writes no file and makes a block of size 0.
    static std::shared_ptr<TallyDataSenderBlockInfo> initWithData(std::optional<platform::Data> const& data,
                                                                  std::string identifier = {});
    // Nothing when "identifier" is missing or empty.
    static std::shared_ptr<TallyDataSenderBlockInfo> initWithCoder(platform::ArchiveDecoder const& decoder);
    static void registerArchiveClass();
    // A block for a file already in the folder under that identifier.
    static std::shared_ptr<TallyDataSenderBlockInfo> forStoredFile(std::string const& identifier, uint64_t size,
                                                                   platform::Date created);

    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

    // The file's content, or nothing when it cannot be read.
    std::optional<platform::Data> data() const;
    bool setData(std::optional<platform::Data> const& data);
    bool deletePersistentData() const;
    // True only when the block's file is known not to exist (not when it merely cannot be read).
    bool isFileMissing() const;
    Claim claim() const;
    std::string description() const;

    std::string identifier() const { return identifier_; }
    // The group is written by the sender's queue while the index queue archives the block.
    std::string groupIdentifier() const;
    void setGroupIdentifier(std::string group);
    uint64_t dataSize() const;
    platform::Date creationDate() const;
    std::filesystem::path path() const;

    TallyDataSenderBlockInfo() = default;

private:
    std::string identifier_;
    mutable std::mutex mutex_;
    std::string groupIdentifier_;
    uint64_t dataSize_ = 0;
    platform::Date creationDate_;
};
