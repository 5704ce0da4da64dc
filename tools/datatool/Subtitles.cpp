// Subtitles of the cut-scenes, music/<name>_<locale>.srt, from tools/data/subtitles/<name>_<locale>.srt.
// A language without its own file shows the English subtitles.
#include <cstdio>
#include <set>

#include "fonts/Subtitles.h"
#include "tools/datatool/DataTool.h"
#include "tools/datatool/Locales.h"

namespace {

std::string const englishSuffix = "_" + std::string(datatool::baseLocale) + ".srt";

void build(datatool::Context& ctx) {
    auto dir = ctx.data / "subtitles";
    // Each cut-scene is named by its English file.
    std::set<std::string> names;
    if (std::filesystem::is_directory(dir)) {
        for (auto const& file : std::filesystem::directory_iterator(dir)) {
            std::string const leaf = file.path().filename().string();
            if (leaf.size() > englishSuffix.size() &&
                leaf.compare(leaf.size() - englishSuffix.size(), englishSuffix.size(), englishSuffix) == 0)
                names.insert(leaf.substr(0, leaf.size() - englishSuffix.size()));
        }
    }
    if (!names.count("intro")) {
        ctx.error("subtitles: no English subtitles of the intro in " + dir.string());
        return;
    }
    for (std::string const& name : names) {
        auto source = [&](std::string_view locale) { return dir / (name + "_" + std::string(locale) + ".srt"); };
        for (auto locale : datatool::shippedLocales) {
            auto file = std::filesystem::exists(source(locale)) ? source(locale) : source(datatool::baseLocale);
            if (file != source(locale))
                std::printf("datatool: subtitles: %s in %.*s has none; English stands in\n", name.c_str(),
                            int(locale.size()), locale.data());
            std::string text = datatool::readText(file);
            std::string lf = text;
            for (char& c : lf)
                if (c == '\r') c = '\n';
            if (Subtitles::parse(lf).entries().empty()) ctx.error("subtitles: " + file.string() + " holds no cue");
            ctx.pak0.add("music/" + name + "_" + std::string(locale) + ".srt", text);
        }
    }
}

datatool::Register reg("subtitles", 10, build);

}  // namespace
