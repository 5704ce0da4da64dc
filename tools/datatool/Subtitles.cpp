// Subtitles of the intro cut-scene, music/intro_<locale>.srt, from tools/data/subtitles. A
// language without its own file shows the English subtitles.
#include <cstdio>

#include "fonts/Subtitles.h"
#include "tools/datatool/DataTool.h"
#include "tools/datatool/Locales.h"

namespace {

void build(datatool::Context& ctx) {
    auto dir = ctx.data / "subtitles";
    auto source = [&](std::string_view locale) { return dir / ("intro_" + std::string(locale) + ".srt"); };
    if (!std::filesystem::exists(source(datatool::baseLocale))) {
        ctx.error("subtitles: no English subtitles in " + dir.string());
        return;
    }
    for (auto locale : datatool::shippedLocales) {
        auto file = std::filesystem::exists(source(locale)) ? source(locale) : source(datatool::baseLocale);
        if (file != source(locale))
            std::printf("datatool: subtitles: %.*s has none; English stands in\n", int(locale.size()), locale.data());
        std::string text = datatool::readText(file);
        std::string lf = text;
        for (char& c : lf)
            if (c == '\r') c = '\n';
        if (Subtitles::parse(lf).entries().empty()) ctx.error("subtitles: " + file.string() + " holds no cue");
        ctx.pak0.add("music/intro_" + std::string(locale) + ".srt", text);
    }
}

datatool::Register reg("subtitles", 10, build);

}  // namespace
