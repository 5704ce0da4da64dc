#pragma once
// The data tool's shared vocabulary: archives being built and self-registering generators.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace datatool {

using Bytes = std::vector<uint8_t>;

// Entries of one archive, by path. Adding a path twice replaces the bytes (the last generator wins).
class ArchiveBuilder {
public:
    void add(std::string const& path, Bytes bytes);
    void add(std::string const& path, std::string const& text);
    bool contains(std::string const& path) const { return entries_.count(path) != 0; }
    std::map<std::string, Bytes> const& entries() const { return entries_; }
    // Writes a standard zip with every entry stored (method 0), no directory entries.
    // Written to a temporary file and renamed, so a failed run leaves no half archive.
    bool write(std::filesystem::path const& file) const;

private:
    std::map<std::string, Bytes> entries_;
};

struct Context {
    std::filesystem::path data;  // tools/data in the repository
    std::filesystem::path work;  // scratch folder for intermediate files
    ArchiveBuilder pak0;
    ArchiveBuilder pak1;  // the on-demand archive; overrides some pak0 entries
    int errors = 0;
    void error(std::string const& message);
};

struct Generator {
    std::string name;
    int order;  // generators run by ascending order, then name
    std::function<void(Context&)> run;
};

std::vector<Generator>& generators();

struct Register {
    Register(std::string name, int order, std::function<void(Context&)> run);
};

// Runs a program and returns its exit status; stdout and stderr pass through.
int runCommand(std::vector<std::string> const& argv);
Bytes readFile(std::filesystem::path const& file);
std::string readText(std::filesystem::path const& file);

}  // namespace datatool
