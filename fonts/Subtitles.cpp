#include "fonts/Subtitles.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/algorithm/string/split.hpp>

#include <algorithm>
#include <cctype>
#include <optional>
#include <stdexcept>

#include "fonts/ReadTextFile.h"

namespace {

bool isCueNumber(std::string const& line) {
    return !line.empty() && std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// h:m:s,ms in milliseconds; a field that is not a number makes the whole time 0. A time of
// fewer than four fields has no answer.
std::optional<float> parseTime(std::string const& part) {
    std::vector<std::string> fields;
    boost::split(fields, part, boost::is_any_of(":,"));
    if (fields.size() < 4) return std::nullopt;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        std::string f = fields[i];
        f.erase(std::remove(f.begin(), f.end(), ' '), f.end());
        try {
            v[i] = std::stoi(f);
        } catch (std::logic_error const&) {
            return 0.0f;
        }
    }
    return float(v[0]) * 1000.0f * 60.0f * 60.0f + float(v[1]) * 1000.0f * 60.0f + float(v[2]) * 1000.0f +
           float(v[3]);
}

}  // namespace

Subtitles::Subtitles(std::string const& path) { *this = parse(readTextFile(path)); }

Subtitles Subtitles::parse(std::string text) {
    Subtitles result;
    boost::replace_all(text, "-->", "^");
    std::vector<std::string> lines;
    boost::split(lines, text, boost::is_any_of("\n"));
    lines.erase(std::remove_if(lines.begin(), lines.end(), isCueNumber), lines.end());

    auto timingParts = [](std::string const& line) {
        std::vector<std::string> parts;
        boost::split(parts, line, boost::is_any_of("^"));
        return parts;
    };

    std::size_t i = 0;
    while (i < lines.size()) {
        auto parts = timingParts(lines[i]);
        if (parts.size() < 2) {
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        Entry entry;
        while (next < lines.size() && lines[next].find('^') == std::string::npos) {
            if (!lines[next].empty()) entry.lines.push_back(lines[next]);
            ++next;
        }
        auto start = parseTime(parts[0]);
        auto end = parseTime(parts[1]);
        // A timing without two whole times is a damaged cue: it is skipped.
        if (start && end) {
            entry.end = *end;
            result.entries_.emplace(*start, std::move(entry));
        }
        i = next;
    }
    return result;
}

std::vector<std::string> const* Subtitles::textAt(float timeMs) const {
    auto it = entries_.upper_bound(timeMs);  // first start strictly below timeMs
    if (it == entries_.end() || !(it->second.end > timeMs)) return nullptr;
    return &it->second.lines;
}
