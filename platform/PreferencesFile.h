#pragma once
// A small settings file: one "key=value" line per entry, read whole at construction and written
// back atomically after every change. Lines that do not read as an entry are skipped, so a
// damaged file loses only its damaged lines. Safe from any thread.
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class PreferencesFile {
public:
    explicit PreferencesFile(std::filesystem::path path);

    // Parses file text into entries (what the constructor does with the file).
    static std::map<std::string, std::string> parse(std::string_view text);

    std::optional<std::string> string(std::string const& key) const;
    int64_t integer(std::string const& key) const;  // 0 when absent or not a number
    double real(std::string const& key) const;      // 0 when absent or not a number
    bool boolean(std::string const& key) const;     // false unless "1"

    // Keys and values may not hold line breaks, and keys no '='; such changes are refused.
    bool set(std::string const& key, std::string const& value);
    bool setInteger(std::string const& key, int64_t value);
    bool setReal(std::string const& key, double value);
    bool setBoolean(std::string const& key, bool value);
    // Writes the entries; false (and a log line) when the file cannot be written.
    bool synchronize();

    std::map<std::string, std::string> entries() const;
    std::filesystem::path const& path() const { return path_; }

private:
    std::filesystem::path path_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> entries_;
};

}  // namespace platform
