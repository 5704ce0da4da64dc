// A small text entry so the archives are never empty while the generators are being written.
#include "tools/datatool/DataTool.h"

namespace {
datatool::Register reg("readme", 0, [](datatool::Context& ctx) {
    ctx.pak0.add("README.txt", std::string("zelv sample data archive\n"));
    ctx.pak1.add("README.txt", std::string("zelv sample data archive (on-demand part)\n"));
});
}  // namespace
