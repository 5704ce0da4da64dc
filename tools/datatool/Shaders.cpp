// Shader sources into pak0 under "shaders/". The engine puts its variant lines before a file's
// text, so no file may start with #version, and the blur fragment shader, whose prefix ends
// without a newline, must start with one.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "tools/datatool/DataTool.h"

namespace {

datatool::Register reg("shaders", 10, [](datatool::Context& ctx) {
    auto const dir = ctx.data / "shaders";
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator(dir, ec)) {
        auto const ext = entry.path().extension();
        if (entry.is_regular_file() && (ext == ".vert" || ext == ".frag")) files.push_back(entry.path());
    }
    if (ec || files.empty()) {
        ctx.error("no shader sources in " + dir.string());
        return;
    }
    std::sort(files.begin(), files.end());
    for (auto const& file : files) {
        std::string const text = datatool::readText(file);
        std::string const name = file.filename().string();
        if (text.rfind("#version", 0) == 0) {
            ctx.error("shader " + name + " starts with #version; the engine's prefix must come first");
            continue;
        }
        if (name == "blurpass1.frag" && (text.empty() || text[0] != '\n')) {
            ctx.error("shader " + name + " must start with a newline: its prefix ends without one");
            continue;
        }
        ctx.pak0.add("shaders/" + name, text);
    }
});

}  // namespace
