#include "analytics/delivery/TallyDataSenderBlockInfo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

#include "analytics/delivery/TallyDeliveryAgent.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/ForkedChild.h"

namespace {
// A block holds one payload; anything larger than the archive limit is not one of ours.
constexpr uint64_t kMaxBlockBytes = 64ull << 20;
}

std::filesystem::path TallyDataSenderBlockInfo::path() const {
    if (identifier_.empty()) return {};
    return tally_delivery::filesFolder() / identifier_;
}

std::shared_ptr<TallyDataSenderBlockInfo> TallyDataSenderBlockInfo::initWithData(std::optional<platform::Data> const& data,
                                                                                std::string identifier) {
    auto block = std::make_shared<TallyDataSenderBlockInfo>();
    block->identifier_ = identifier.empty() ? tally_delivery::generateCFUUID() : std::move(identifier);
    std::filesystem::path const file = block->path();
    bool ok = !block->identifier_.empty() && !file.empty();
    if (ok && data) ok = platform::writeFileAtomically(file, data->data(), data->size());
    if (!ok) {
        tally_delivery::log(2, "Failed to create TallyDataSenderBlockInfo for data size " +
                                   std::to_string(data ? data->size() : 0));
        return nullptr;
    }
    block->dataSize_ = data ? data->size() : 0;
    block->creationDate_ = platform::Date::now();
    return block;
}

std::shared_ptr<TallyDataSenderBlockInfo> TallyDataSenderBlockInfo::initWithCoder(platform::ArchiveDecoder const& decoder) {
    auto identifier = decoder.decodeString("identifier");
    if (!identifier || identifier->empty()) return nullptr;
    // A foreign or damaged index must not name a file outside the folder.
    if (identifier->find('/') != std::string::npos || *identifier == "." || *identifier == "..") return nullptr;
    auto block = std::make_shared<TallyDataSenderBlockInfo>();
    block->identifier_ = *identifier;
    block->dataSize_ = uint64_t(decoder.decodeInt("dataSize").value_or(0));
    block->creationDate_ = decoder.decodeDate("creationDate").value_or(platform::Date{});
    return block;
}

std::shared_ptr<TallyDataSenderBlockInfo> TallyDataSenderBlockInfo::forStoredFile(std::string const& identifier,
                                                                                  uint64_t size, platform::Date created) {
    auto block = std::make_shared<TallyDataSenderBlockInfo>();
    block->identifier_ = identifier;
    block->dataSize_ = size;
    block->creationDate_ = created;
    return block;
}

void TallyDataSenderBlockInfo::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

void TallyDataSenderBlockInfo::encodeWith(platform::ArchiveEncoder& encoder) const {
    std::lock_guard lock(mutex_);
    encoder.encode("identifier", identifier_);
    encoder.encode("dataSize", platform::Value(int64_t(dataSize_)));
    encoder.encode("creationDate", creationDate_);
}

std::optional<platform::Data> TallyDataSenderBlockInfo::data() const {
    std::filesystem::path const file = path();
    if (file.empty()) return std::nullopt;
    platform::WholeFile read = platform::readWholeFile(file, kMaxBlockBytes);
    if (read.status != platform::WholeFile::Read) return std::nullopt;
    return std::move(read.bytes);
}

bool TallyDataSenderBlockInfo::setData(std::optional<platform::Data> const& data) {
    if (!data) return false;
    std::filesystem::path const file = path();
    if (file.empty() || !platform::writeFileAtomically(file, data->data(), data->size())) {
        tally_delivery::log(2, "Tally: Failed store block with id [" + identifier_ + "]");
        return false;
    }
    std::lock_guard lock(mutex_);
    dataSize_ = data->size();
    creationDate_ = platform::Date::now();
    return true;
}

bool TallyDataSenderBlockInfo::deletePersistentData() const {
    std::filesystem::path const file = path();
    if (file.empty()) return false;
    std::error_code ignored;
    return std::filesystem::remove(file, ignored);
}

bool TallyDataSenderBlockInfo::isFileMissing() const {
    std::filesystem::path const file = path();
    if (file.empty()) return true;
    std::error_code error;
    bool const exists = std::filesystem::exists(file, error);
    return !exists && !error;
}

namespace {

// The descriptors that hold claims. A child forked without exec shares their locks with its
// parent and would keep them while it lives, sending nothing: there each is pointed at /dev/null,
// so the parent's and the other senders' claims go on as if the child were not there.
struct OpenClaims {
    std::mutex mutex;
    std::set<int> fds;
};
// Made on first use with no guard (one a fork finds half taken would keep its child waiting for
// good) and never destroyed; the fork handlers are added once it is there.
std::atomic<OpenClaims*> claims{nullptr};
std::atomic<bool> forkHandled{false};

OpenClaims& openClaims() {
    OpenClaims* open = claims.load(std::memory_order_acquire);
    if (!open) {
        auto* const made = new OpenClaims;
        if (claims.compare_exchange_strong(open, made, std::memory_order_acq_rel))
            open = made;
        else
            delete made;
    }
    platform::atFork(forkHandled, [] { claims.load(std::memory_order_relaxed)->mutex.lock(); },
                     [] { claims.load(std::memory_order_relaxed)->mutex.unlock(); },
                     [] {
                         OpenClaims& held = *claims.load(std::memory_order_relaxed);
                         int const null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                         for (int fd : held.fds)
                             if (null >= 0) ::dup3(null, fd, O_CLOEXEC);
                         if (null >= 0) ::close(null);
                         held.mutex.unlock();
                     });
    return *open;
}

void closeClaim(int& fd) {
    if (fd < 0) return;
    std::lock_guard lock(openClaims().mutex);
    openClaims().fds.erase(fd);
    ::close(fd);
    fd = -1;
}

}  // namespace

TallyDataSenderBlockInfo::Claim::Claim(Claim&& other) noexcept
    : state_(other.state_), fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

TallyDataSenderBlockInfo::Claim& TallyDataSenderBlockInfo::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        closeClaim(fd_);
        state_ = other.state_;
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

TallyDataSenderBlockInfo::Claim::~Claim() { closeClaim(fd_); }

void TallyDataSenderBlockInfo::Claim::sent() {
    if (state_ == Held || state_ == Unlocked) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    closeClaim(fd_);
    state_ = Gone;
}

TallyDataSenderBlockInfo::Claim TallyDataSenderBlockInfo::claim() const {
    Claim claim;
    claim.path_ = path();
    if (claim.path_.empty()) return claim;
    // The lock belongs to the open file: a holder that sent the block unlinks it before letting
    // go, so a hold had on a file no longer under the name is on a block already gone.
    std::unique_lock guard(openClaims().mutex);
    int const fd = ::open(claim.path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        claim.state_ = errno == ENOENT ? Claim::Gone : Claim::Unlocked;
        return claim;
    }
    struct stat held {}, named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        claim.state_ = errno == EWOULDBLOCK ? Claim::Taken : Claim::Unlocked;
    } else if (::fstat(fd, &held) != 0 || ::lstat(claim.path_.c_str(), &named) != 0) {
        claim.state_ = errno == ENOENT ? Claim::Gone : Claim::Unlocked;
    } else if (held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
        claim.state_ = Claim::Taken;  // written again under its name meanwhile: tried with the next send
    } else {
        claim.state_ = Claim::Held;
        claim.fd_ = fd;
        openClaims().fds.insert(fd);
        return claim;
    }
    ::close(fd);
    return claim;
}

std::string TallyDataSenderBlockInfo::description() const {
    return "Block [" + identifier_ + ", " + groupIdentifier() + ", " + std::to_string(creationDate().secondsSince1970) + "]";
}

std::string TallyDataSenderBlockInfo::groupIdentifier() const {
    std::lock_guard lock(mutex_);
    return groupIdentifier_;
}

void TallyDataSenderBlockInfo::setGroupIdentifier(std::string group) {
    std::lock_guard lock(mutex_);
    groupIdentifier_ = std::move(group);
}

uint64_t TallyDataSenderBlockInfo::dataSize() const {
    std::lock_guard lock(mutex_);
    return dataSize_;
}

platform::Date TallyDataSenderBlockInfo::creationDate() const {
    std::lock_guard lock(mutex_);
    return creationDate_;
}
