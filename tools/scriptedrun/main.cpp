// Plays a level from a controller script and prints the arrival, the result and the per-frame
// hashes. Regenerating the golden file, from the build folder (one command):
//   tools/scripted_run levels/level01.pxl ../game/tests/data/hold_right_jump.txt
//       > ../game/tests/data/level01_hold_right_jump.golden
// The level comes from pak0.pak in the current folder.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/scriptedrun/ScriptedRun.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scripted_run LEVEL SCRIPT\n");
        return 2;
    }
    std::ifstream in(argv[2]);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<scripted_run::Stretch> script;
    std::string error;
    if (!in || !scripted_run::parseScript(text.str(), script, error)) {
        std::fprintf(stderr, "scripted_run: %s: %s\n", argv[2], error.empty() ? "cannot read" : error.c_str());
        return 2;
    }
    if (!Singleton<FileSystem>::instance().mount("pak0.pak")) {
        std::fprintf(stderr, "scripted_run: no pak0.pak in the current folder\n");
        return 2;
    }
    std::fputs(scripted_run::describe(scripted_run::run(argv[1], script, 60 * 120)).c_str(), stdout);
    return 0;
}
