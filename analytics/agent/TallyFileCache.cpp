#include "analytics/agent/TallyFileCache.h"

#include <mutex>

#include "analytics/agent/TallyUtil.h"
#include "platform/base/KeyedArchive.h"

namespace {
std::mutex& classLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<TallyFileCache>& shared() {
    static auto* s = new std::shared_ptr<TallyFileCache>;  // outlives the other statics
    return *s;
}
}  // namespace

std::shared_ptr<TallyFileCache> TallyFileCache::createInstanceWithApiKey(std::string const& apiKey,
                                                                         std::string const& agentVersion) {
    std::lock_guard<std::mutex> lock(classLock());
    if (!shared()) shared() = std::shared_ptr<TallyFileCache>(new TallyFileCache(apiKey, agentVersion));
    return shared();
}

std::shared_ptr<TallyFileCache> TallyFileCache::instance() {
    std::lock_guard<std::mutex> lock(classLock());
    return shared();
}

void TallyFileCache::cleanup() {
    std::lock_guard<std::mutex> lock(classLock());
    shared().reset();
}

// Names and keys come from callers: a separator in them must not lead out of the data folder.
static std::string fileNamePart(std::string s) {
    for (char& c : s)
        if (c == '/' || c == '\0') c = '_';
    return s;
}

std::filesystem::path TallyFileCache::createFilePath(std::string const& name, bool forCurrentAgentVersion) const {
    return TallyUtil::filePathDirectory() / fileNamePart("tallyCache_" + name + "_" + apiKey_ + "_" +
                                                         (forCurrentAgentVersion ? agentVersion_ : "") + ".archive");
}

std::optional<std::filesystem::path> TallyFileCache::save(platform::Value const& object, std::string const& name,
                                                          bool forCurrentAgentVersion) {
    std::filesystem::path const path = createFilePath(name, forCurrentAgentVersion);
    if (!platform::KeyedArchive::writeToFile(object, path)) {
        TallyUtil::log(2, "TallyFileCache: object[" + object.describe() + "] cannot be saved to disk");
        return std::nullopt;
    }
    return path;
}

std::optional<platform::Value> TallyFileCache::get(std::string const& name, bool forCurrentAgentVersion) const {
    std::filesystem::path const path = createFilePath(name, forCurrentAgentVersion);
    if (!TallyUtil::dataExistsAtPath(path)) return std::nullopt;
    return TallyUtil::safeUnarchiveObjectWithFile(path);
}

bool TallyFileCache::remove(std::string const& name, bool forCurrentAgentVersion) {
    std::error_code ec;
    return std::filesystem::remove(createFilePath(name, forCurrentAgentVersion), ec) && !ec;
}
