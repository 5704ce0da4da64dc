// datatool --data DIR --out DIR [--work DIR] [--only NAME]
// Runs every registered generator and writes pak0.pak and pak1.pak into the output folder.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/datatool/DataTool.h"

int main(int argc, char** argv) {
    datatool::Context ctx;
    std::filesystem::path out = ".";
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--data")) ctx.data = argv[i + 1];
        else if (!std::strcmp(argv[i], "--out")) out = argv[i + 1];
        else if (!std::strcmp(argv[i], "--work")) ctx.work = argv[i + 1];
        else if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
    }
    if (ctx.work.empty()) ctx.work = out / "datatool-work";
    std::filesystem::create_directories(ctx.work);
    std::filesystem::create_directories(out);
    auto gens = datatool::generators();
    std::sort(gens.begin(), gens.end(),
              [](auto const& a, auto const& b) { return a.order != b.order ? a.order < b.order : a.name < b.name; });
    for (auto const& g : gens) {
        if (!only.empty() && g.name != only) continue;
        std::printf("datatool: %s\n", g.name.c_str());
        std::fflush(stdout);
        g.run(ctx);
    }
    if (ctx.errors) {
        std::fprintf(stderr, "datatool: %d error(s)\n", ctx.errors);
        return 1;
    }
    if (!ctx.pak0.write(out / "pak0.pak") || !ctx.pak1.write(out / "pak1.pak")) {
        std::fprintf(stderr, "datatool: cannot write the archives into %s\n", out.c_str());
        return 1;
    }
    std::printf("datatool: pak0.pak %zu entries, pak1.pak %zu entries\n", ctx.pak0.entries().size(),
                ctx.pak1.entries().size());
    return 0;
}
