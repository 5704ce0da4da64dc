#pragma once
// A small settings file: one "key=value" line per entry, read whole at construction and written
// back atomically after every change. Lines that do not read as an entry are skipped, so a
// damaged file loses only its damaged lines. What cannot be a settings file (no regular file,
// larger than kMaxSize, unreadable) is read as empty and kept aside as "<name>.bad" before the
// first write replaces it; while it cannot be kept aside it is not replaced. Safe from any thread.
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class PreferencesFile {
public:
    static constexpr uint64_t kMaxSize = 1u << 20;

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
    // The file was there but could not be read as a settings file.
    bool damaged() const;

private:
    std::filesystem::path path_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> entries_;
    bool damaged_ = false;

    bool keepDamagedAside();  // with mutex_ held
};

}  // namespace platform
