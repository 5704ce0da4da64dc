#pragma once
// Generic-password items by (service, account), in place of the phone's keychain: one archive
// file per service under <application support>/keychain, the folder 0700 and the files 0600,
// written atomically; processes on one home take turns at changes through a lock file there. A
// change made while another process holds it goes at once to a note beside the file (see NoteSet),
// which every process sees and a holder of the lock folds in: of a pile of them, as many as a
// fold's round takes (whatever their size) while a fold can go on, every one while another process
// holds the lock, and its own always. A change that returned success is on disk. The items are not
// encrypted; only the file modes keep other users out.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/Value.h"

namespace platform {

class Keychain {
public:
    enum class Accessibility { WhenUnlocked, AlwaysThisDeviceOnly };
    // The phone's status codes.
    static constexpr int kSuccess = 0;
    static constexpr int kItemNotFound = -25300;
    static constexpr int kDuplicateItem = -25299;
    static constexpr int kParam = -50;
    static constexpr int kIoError = -36;

    // A change that would make a service's items, beside every note there, larger than
    // kMaxItemsSize encoded is refused with kIoError; one that makes them no larger is taken. An
    // item whose bytes alone pass kMaxItemsSize is refused at once, before it is copied. A
    // note larger than kMaxNoteSize is none of this version's: it is damaged. Items stay small, so
    // a fold's round, which writes them whole, stays short. What returned success is kept: copies
    // that changed items at once may take them past kMaxItemsSize, and a fold takes their notes
    // all the same; only a note that would take them past kMaxFoldedSize, half of what a reader
    // takes, waits unfolded, kept on disk, with a log line.
    static constexpr uint64_t kMaxNoteSize = 1u << 20;
    static constexpr uint64_t kMaxItemsSize = kMaxNoteSize - 64 * 1024;
    static constexpr uint64_t kMaxFoldedSize = 32u << 20;

    static std::filesystem::path directory();

    // kDuplicateItem when the account already has an item.
    static int add(std::string const& service, Data const& account, Data const& generic, Data const& value,
                   Accessibility accessible);
    static int copyMatching(std::string const& service, Data const& account, Data& value);
    // Changes the value only; the item keeps its accessibility.
    static int update(std::string const& service, Data const& account, Data const& value);
    // An empty account deletes every item of the service.
    static int remove(std::string const& service, Data const& account);
    static std::optional<Accessibility> accessibility(std::string const& service, Data const& account);
    // Folds the notes in folder into their items while its lock is free (for a start, off the
    // threads that draw); false when another process holds it and notes are left.
    static bool foldNotes(std::filesystem::path const& folder = directory());
};

}  // namespace platform
