#pragma once
// Timed subtitle lines read from a SubRip file.
#include <functional>
#include <map>
#include <string>
#include <vector>

class Subtitles {
public:
    struct Entry {
        float end = 0;
        std::vector<std::string> lines;
    };

    // Reads and parses the file; a missing file gives no entries.
    explicit Subtitles(std::string const& path);
    static Subtitles parse(std::string text);

    // The lines of the latest entry starting before `timeMs`, while it lasts; else null.
    std::vector<std::string> const* textAt(float timeMs) const;

    // Start time in ms to entry, latest start first.
    std::map<float, Entry, std::greater<float>> const& entries() const { return entries_; }

private:
    Subtitles() = default;
    std::map<float, Entry, std::greater<float>> entries_;
};
