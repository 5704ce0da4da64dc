#pragma once
// Single objects of the agent as keyed archives in the data folder, one file per name, kept apart
// by API key and, in the current-version form, by agent version.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class TallyFileCache {
public:
    // The first call makes the shared cache; later calls keep it as it is.
    static std::shared_ptr<TallyFileCache> createInstanceWithApiKey(std::string const& apiKey,
                                                                    std::string const& agentVersion);
    static std::shared_ptr<TallyFileCache> instance();
    static void cleanup();

    std::filesystem::path createFilePath(std::string const& name, bool forCurrentAgentVersion) const;
    // The path written, or nothing when the object could not be saved.
    std::optional<std::filesystem::path> save(platform::Value const& object, std::string const& name,
                                              bool forCurrentAgentVersion = true);
    std::optional<platform::Value> get(std::string const& name, bool forCurrentAgentVersion = true) const;
    bool remove(std::string const& name, bool forCurrentAgentVersion = true);

    std::string const& apiKey() const { return apiKey_; }
    std::string const& agentVersion() const { return agentVersion_; }

private:
    TallyFileCache(std::string apiKey, std::string agentVersion)
        : apiKey_(std::move(apiKey)), agentVersion_(std::move(agentVersion)) {}
    std::string apiKey_, agentVersion_;
};
