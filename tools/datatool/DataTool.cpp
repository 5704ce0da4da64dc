#include "tools/datatool/DataTool.h"

#include <minizip/zip.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

extern char** environ;

namespace datatool {

void ArchiveBuilder::add(std::string const& path, Bytes bytes) { entries_[path] = std::move(bytes); }

void ArchiveBuilder::add(std::string const& path, std::string const& text) {
    entries_[path] = Bytes(text.begin(), text.end());
}

bool ArchiveBuilder::write(std::filesystem::path const& file) const {
    std::filesystem::path tmp = file;
    tmp += ".tmp";
    zipFile zf = zipOpen64(tmp.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;
    bool ok = true;
    for (auto const& [path, bytes] : entries_) {
        if (bytes.empty()) {
            std::fprintf(stderr, "datatool: refusing empty entry %s\n", path.c_str());
            ok = false;
            continue;
        }
        zip_fileinfo info{};
        info.tmz_date = {0, 0, 12, 1, 0, 2016};
        if (zipOpenNewFileInZip64(zf, path.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0) != ZIP_OK ||
            zipWriteInFileInZip(zf, bytes.data(), unsigned(bytes.size())) != ZIP_OK ||
            zipCloseFileInZip(zf) != ZIP_OK) {
            ok = false;
        }
    }
    if (zipClose(zf, nullptr) != ZIP_OK) ok = false;
    if (ok) {
        std::error_code ec;
        std::filesystem::rename(tmp, file, ec);
        ok = !ec;
    }
    if (!ok) std::filesystem::remove(tmp);
    return ok;
}

void Context::error(std::string const& message) {
    std::fprintf(stderr, "datatool: error: %s\n", message.c_str());
    ++errors;
}

std::vector<Generator>& generators() {
    static std::vector<Generator> all;
    return all;
}

Register::Register(std::string name, int order, std::function<void(Context&)> run) {
    generators().push_back({std::move(name), order, std::move(run)});
}

int runCommand(std::vector<std::string> const& argv) {
    std::vector<char*> args;
    for (auto const& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes readFile(std::filesystem::path const& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(std::filesystem::path const& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace datatool
