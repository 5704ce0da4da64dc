#include "save/RoamingDataFile.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "os/services/Documents.h"
#include "os/services/ICloud.h"
#include "platform/AtomicFile.h"
#include "platform/base/ReportOnce.h"

namespace {

std::mutex& saveFileMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::string RoamingDataFile::damageKey(std::vector<uint8_t> const& bytes) {
    return std::to_string(bytes.size()) + " " +
           std::to_string(crc32(0, bytes.data(), static_cast<uInt>(std::min<size_t>(bytes.size(), UINT32_MAX))));
}

std::string RoamingDataFile::fingerprint(std::string const& name) {
    std::string const path = std::string(documentsPath()) + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::string("missing ") + std::strerror(errno);
    return std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
           "." + std::to_string(st.st_mtim.tv_nsec);
}

size_t RoamingDataFile::maxFileSize() { return 4 + compressBound(RoamingData::kMaxArchiveSize); }

RoamingDataFile::RoamingDataFile(std::string const& name)
    : data(false), path_(std::string(documentsPath()) + name), lock_(saveFileMutex()) {
    open();
}

RoamingDataFile::~RoamingDataFile() {
    close();
    lock_.unlock();
}

void RoamingDataFile::open() {
    platform::WholeFile file = platform::readWholeFile(path_, maxFileSize());
    switch (file.status) {
    case platform::WholeFile::Missing:
        return;
    case platform::WholeFile::Failed:
        if (platform::ReportOnce::first(path_ + " " + file.error))
            std::fprintf(stderr, "save: cannot read %s (%s); starting from defaults\n", path_.c_str(),
                         file.error.c_str());
        damaged_ = true;
        return;
    case platform::WholeFile::TooLarge:
        if (platform::ReportOnce::first(path_ + " " + std::to_string(file.size)))
            std::fprintf(stderr, "save: %s is not a save file (%llu bytes); starting from defaults\n",
                         path_.c_str(), static_cast<unsigned long long>(file.size));
        damaged_ = true;
        return;
    case platform::WholeFile::Read:
        break;
    }
    if (!file.bytes.empty() && !data.load(file.bytes.data(), file.bytes.size())) {
        if (platform::ReportOnce::first(path_ + " " + damageKey(file.bytes)))
            std::fprintf(stderr, "save: %s is damaged; loaded as far as it reads\n", path_.c_str());
        damaged_ = true;
        damagedBytes_ = std::move(file.bytes);
    } else if (data.fromNewerVersion()) {
        // Read as far as this version understands; what it does not would be lost by a rewrite.
        damaged_ = true;
        asideSuffix_ = ".newer";
        damagedBytes_ = std::move(file.bytes);
    }
}

void RoamingDataFile::removeStaleTempFiles() {
    std::lock_guard<std::mutex> lock(saveFileMutex());
    platform::removeStaleAtomicWriteTemps(documentsPath(), 0);
    platform::removeStaleAtomicWriteTemps(cloudStorePath(), 0);
}

// Before a damaged file (or one from a newer version) is replaced, its bytes go to "<name>.bad"
// (or "<name>.newer") so nothing is lost for good.
void RoamingDataFile::keepDamagedAside() {
    std::string const aside = path_ + asideSuffix_;
    if (std::strcmp(asideSuffix_, ".newer") == 0) {
        std::fprintf(stderr, "save: %s was written by a newer version; its bytes are kept as %s\n", path_.c_str(),
                     aside.c_str());
    }
    std::string error;
    if (platform::keepFileAside(path_, asideSuffix_, &error)) {
        return;
    }
    if (!damagedBytes_.empty() &&
        platform::writeFileAtomically(aside, damagedBytes_.data(), damagedBytes_.size(), &error)) {
        return;
    }
    std::fprintf(stderr, "save: cannot keep the damaged %s aside: %s\n", path_.c_str(),
                 error.empty() ? std::strerror(errno) : error.c_str());
}

void RoamingDataFile::close() {
    bool const changed = data.commit();
    if (!changed && !data.needsSave()) {
        return;
    }
    std::vector<uint8_t> blob;
    try {
        blob = data.save();
    } catch (std::exception const& e) {
        std::fprintf(stderr, "save: cannot encode the save record: %s\n", e.what());
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    if (damaged_) {
        keepDamagedAside();
    }
    std::string error;
    if (!platform::writeFileAtomically(path_, blob.data(), blob.size(), &error)) {
        // A folder that could not be made (a read-only disk) is the reason, not its absence.
        if (ec) {
            error = "cannot create " + std::filesystem::path(path_).parent_path().string() + ": " + ec.message();
        }
        std::fprintf(stderr, "save: progress not saved: %s\n", error.c_str());
    }
}
