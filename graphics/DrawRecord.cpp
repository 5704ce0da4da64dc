#include "graphics/DrawRecord.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include <glm/common.hpp>


namespace Graphics {

namespace {

char const* recordPath() {
    static char const* const path = [] {
        char const* p = std::getenv("ZELV_DRAW_RECORD");
        return p && *p ? p : nullptr;
    }();
    return path;
}

enum class Kind { text, button, panel, behind };
char const* const kindNames[] = {"text", "button", "panel", "behind"};

struct Item {
    Kind kind;
    int id;
    glm::vec2 lo, hi;  // clip space
    glm::vec4 colour;
    std::string words;
};

struct Frame {
    std::vector<Item> items;
    std::vector<Item> captured;  // the texts in the last picture kept of a frame
    std::map<void const*, int> ids;  // stable small numbers for owners within a frame
    std::string drawn;
    uint64_t still = 0;
    uint64_t number = 0;  // frames recorded before this one
};

Frame& frame() {
    static Frame f;
    return f;
}

void const* currentOwner = nullptr;

int idOf(void const* p) {
    if (!p) return 0;
    auto& ids = frame().ids;
    auto it = ids.find(p);
    if (it == ids.end()) it = ids.emplace(p, int(ids.size()) + 1).first;
    return it->second;
}

// Clip-space box of the rectangle lo..hi under pvm.
std::pair<glm::vec2, glm::vec2> clipBox(glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm) {
    glm::vec2 a(1e30f), b(-1e30f);
    for (glm::vec2 c : {lo, hi, glm::vec2(lo.x, hi.y), glm::vec2(hi.x, lo.y)}) {
        glm::vec4 const p = pvm * glm::vec4(c, 0.0f, 1.0f);
        glm::vec2 const q(p.x / p.w, p.y / p.w);
        a = glm::min(a, q);
        b = glm::max(b, q);
    }
    return {a, b};
}

}  // namespace

bool DrawRecord::on() { return recordPath() != nullptr; }

void DrawRecord::text(std::string const& words, glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm,
                      glm::vec4 const& colour, void const* owner) {
    if (!on()) return;
    auto const [a, b] = clipBox(lo, hi, pvm);
    frame().items.push_back({Kind::text, idOf(owner), a, b, colour, words});
}

void DrawRecord::button(glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm, void const* id) {
    if (!on()) return;
    auto const [a, b] = clipBox(lo, hi, pvm);
    frame().items.push_back({Kind::button, idOf(id), a, b, glm::vec4(0.0f), {}});
}

void DrawRecord::panel(glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm) {
    if (!on()) return;
    auto const [a, b] = clipBox(lo, hi, pvm);
    frame().items.push_back({Kind::panel, 0, a, b, glm::vec4(0.0f), {}});
}

void DrawRecord::captured() {
    if (!on()) return;
    Frame& f = frame();
    f.captured.clear();
    for (Item const& i : f.items)
        if (i.kind == Kind::text || i.kind == Kind::behind)
            f.captured.push_back({Kind::behind, 0, i.lo, i.hi, i.colour, i.words});
}

void DrawRecord::backdrop() {
    if (!on()) return;
    Frame& f = frame();
    f.items.insert(f.items.end(), f.captured.begin(), f.captured.end());
}

void DrawRecord::cover() {
    if (on()) frame().items.clear();
}

DrawRecord::Owner::Owner(void const* button) : previous_(currentOwner) { currentOwner = button; }
DrawRecord::Owner::~Owner() { currentOwner = previous_; }
void const* DrawRecord::owner() { return currentOwner; }

void DrawRecord::endFrame(int width, int height, glm::ivec4 picture) {
    if (!on()) return;
    if (picture.z <= 0 || picture.w <= 0) picture = glm::ivec4(0, 0, width, height);
    // Clip space to window pixels, top-left origin.
    auto px = [&](float x) { return float(picture.x) + (x + 1.0f) * 0.5f * float(picture.z); };
    auto py = [&](float y) { return float(height - picture.y) - (y + 1.0f) * 0.5f * float(picture.w); };
    Frame& f = frame();
    std::ostringstream out;
    out << "window\t" << width << ' ' << height << '\n';
    for (Item const& i : f.items) {
        bool const text = i.kind == Kind::text || i.kind == Kind::behind;
        out << kindNames[int(i.kind)] << '\t' << i.id << '\t' << px(i.lo.x) << ' ' << py(i.hi.y) << ' ' << px(i.hi.x)
            << ' ' << py(i.lo.y);
        if (text) {
            out << '\t' << i.colour.r << ' ' << i.colour.g << ' ' << i.colour.b << ' ' << i.colour.a << '\t';
            for (char c : i.words) out << (c == '\n' ? std::string("\\n") : c == '\t' ? std::string(" ") : std::string(1, c));
        }
        out << '\n';
    }
    std::string const now = out.str();
    f.items.clear();
    f.ids.clear();
    // How many frames in a row drew the same: a reader waits on it, not on the clock.
    f.still = now == f.drawn ? f.still + 1 : 0;
    f.drawn = now;
    // Written beside and renamed over, so a reader never sees half a frame.
    std::string const temporary = std::string(recordPath()) + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << "frame\t" << f.number++ << "\nstill\t" << f.still << '\n' << now;
        if (!file) return;
    }
    std::error_code error;
    std::filesystem::rename(temporary, recordPath(), error);
}

}  // namespace Graphics
