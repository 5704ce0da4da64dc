// Placeholder art for every image of the texture table, the frames of the loading gear and the
// buttons' hit-area files. How each image looks comes from tools/data/art/art.txt.
#include <cstring>
#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "os/Assets.h"
#include "tools/datatool/ArtCanvas.h"
#include "tools/datatool/DataTool.h"

namespace {

using datatool::ArtCanvas;
using datatool::Bytes;
using datatool::Rgba;

struct Rule {
    std::string pattern;
    int width = 0, height = 0;
    std::string shape;
    std::string colour;
    bool webp = false;
    bool label = true;
    std::string text;  // empty: from the file name
};

struct Rules {
    std::vector<Rule> rules;
    std::vector<std::string> pak1;
};

Rules readRules(datatool::Context& ctx) {
    Rules out;
    std::istringstream in(datatool::readText(ctx.data / "art" / "art.txt"));
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string first;
        if (!(words >> first)) continue;
        if (first == "pak1") {
            std::string path;
            words >> path;
            out.pak1.push_back(path);
            continue;
        }
        Rule r;
        r.pattern = first;
        if (!(words >> r.width >> r.height >> r.shape >> r.colour) || r.width <= 0 || r.height <= 0) {
            ctx.error("art.txt line " + std::to_string(number) + ": expected pattern width height shape colour");
            continue;
        }
        for (std::string option; words >> option;) {
            if (option == "webp") r.webp = true;
            else if (option == "nolabel") r.label = false;
            else if (option.rfind("label=", 0) == 0) r.text = option.substr(6);
            else ctx.error("art.txt line " + std::to_string(number) + ": unknown option " + option);
        }
        out.rules.push_back(r);
    }
    if (out.rules.empty()) ctx.error("art.txt has no rules");
    return out;
}

Rule const* ruleFor(Rules const& rules, std::string const& path) {
    for (auto const& r : rules.rules)
        if (fnmatch(r.pattern.c_str(), path.c_str(), 0) == 0) return &r;
    return nullptr;
}

std::string stemOf(std::string const& path) {
    auto slash = path.rfind('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    return name.substr(0, name.rfind('.'));
}

bool endsWith(std::string const& s, std::string const& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

Rgba parseColour(std::string const& text, std::string const& path) {
    if (text == "auto") {
        // A stable colour per file (button families differ, their states share a hue).
        std::string family = path.substr(0, path.rfind('_'));
        uint32_t h = uint32_t(std::hash<std::string>()(family));
        return {uint8_t(60 + h % 140), uint8_t(60 + (h >> 8) % 140), uint8_t(60 + (h >> 16) % 140), 255};
    }
    unsigned r = 0, g = 0, b = 0, a = 255;
    if (text.size() == 9) std::sscanf(text.c_str(), "#%2x%2x%2x%2x", &r, &g, &b, &a);
    else std::sscanf(text.c_str(), "#%2x%2x%2x", &r, &g, &b);
    return {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
}

Rgba brighter(Rgba c) {
    auto up = [](uint8_t v) { return uint8_t(v + (255 - v) * 2 / 5); };
    return {up(c.r), up(c.g), up(c.b), c.a};
}

Rgba tinted(Rgba c) { return {uint8_t(255 - c.r / 2), uint8_t(c.g / 2), uint8_t(c.b / 2 + 80), c.a}; }

// The character's parts. The body's fan is drawn 1.425 times the physics circle, so its disc
// fills only 1/1.425 of the texture. The face textures are strips of frames (16 for the eyes,
// looking right in frame 0 and left in frame 15, and for the brows; 4 for a blink, closing)
// that cover the face area round the body's centre: 1.45 m wide, 1.6 m tall for the eyes, the
// brows' frames standing on the centre.
void drawCharacter(ArtCanvas& canvas, std::string const& shape, Rgba c) {
    float const w = float(canvas.width()), h = float(canvas.height());
    if (shape == "body") {
        float const r = std::min(w, h) / 2 / 1.425f;
        canvas.ellipse(w / 2, h / 2, r, r, c);
        Rgba const light{uint8_t(c.r + (255 - c.r) / 5), uint8_t(c.g + (255 - c.g) / 5), uint8_t(c.b + (255 - c.b) / 5),
                         c.a};
        canvas.ellipse(w / 2 - r * 0.2f, h / 2 - r * 0.2f, r * 0.7f, r * 0.7f, light);
        return;
    }
    bool const blink = shape == "blinkright" || shape == "blinkleft";
    int const frames = blink ? 4 : 16;
    float const fw = w / float(frames);
    bool const big = shape == "bigeyes";
    Rgba const pupilColour{26, 26, 30, 255};
    // Per frame: where the pupils look and how open the eyes are.
    auto look = [&](int i) {
        if (blink) return shape == "blinkright" ? 4.0f : -4.0f;
        return 4.0f - 8.0f * float(i) / 15.0f;
    };
    auto open = [&](int i) { return blink ? std::max(1.0f - float(i) / 3.0f, 0.12f) : 1.0f; };
    float const rx = big ? 12.0f : 9.0f, ry = big ? 14.0f : 11.0f, pupil = big ? 6.0f : 4.5f;
    auto frameOf = [&](float x) { return std::clamp(int(x / fw), 0, frames - 1); };
    if (shape == "brows") {
        // Standing on the centre line: above the eyes' tops.
        float const y = h - 26.0f;
        canvas.fill(
            [&](float x, float yy) {
                int const i = frameOf(x);
                float const cx = fw * (float(i) + 0.5f) + look(i) * 0.5f;
                for (float side : {-13.0f, 13.0f})
                    if (std::pow((x - cx - side) / 8.0f, 2.0f) + std::pow((yy - y) / 3.0f, 2.0f) <= 1) return true;
                return false;
            },
            c);
        return;
    }
    float const y = h / 2 - 8.0f;
    auto inEye = [&](float x, float yy, float dx, float r, float rY) {
        int const i = frameOf(x);
        float const cx = fw * (float(i) + 0.5f);
        for (float side : {-13.0f, 13.0f})
            if (std::pow((x - cx - side - dx) / r, 2.0f) + std::pow((yy - y) / (rY * open(i)), 2.0f) <= 1) return true;
        return false;
    };
    canvas.fill([&](float x, float yy) { return inEye(x, yy, 0.0f, rx, ry); }, c);
    canvas.fill(
        [&](float x, float yy) {
            int const i = frameOf(x);
            return inEye(x, yy, 0.0f, rx, ry) && inEye(x, yy, look(i), pupil, pupil);
        },
        pupilColour);
}

void drawShape(ArtCanvas& canvas, std::string const& shape, Rgba c, float turn) {
    float w = float(canvas.width()), h = float(canvas.height());
    float r = std::min(w, h) / 2;
    if (shape == "rect" || shape == "solid") canvas.rect(0, 0, w, h, c);
    else if (shape == "round") canvas.roundRect(0, 0, w, h, std::min(w, h) / 4, c);
    else if (shape == "circle") canvas.ellipse(w / 2, h / 2, w / 2, h / 2, c);
    else if (shape == "ring") canvas.ring(w / 2, h / 2, r, r * 0.75f, c);
    else if (shape == "star") canvas.star(w / 2, h / 2, r, r * 0.45f, c);
    else if (shape == "gear") canvas.gear(w / 2, h / 2, r, 8, turn, c);
    else if (shape == "arrowleft") canvas.triangle(w * 0.9f, h * 0.1f, w * 0.9f, h * 0.9f, w * 0.1f, h / 2, c);
    else if (shape == "arrowright") canvas.triangle(w * 0.1f, h * 0.1f, w * 0.1f, h * 0.9f, w * 0.9f, h / 2, c);
    else if (shape == "gradient") canvas.gradient({c.r, c.g, c.b, 0}, c);
    else if (shape == "body" || shape == "eyes" || shape == "bigeyes" || shape == "blinkright" ||
             shape == "blinkleft" || shape == "brows")
        drawCharacter(canvas, shape, c);
    else if (shape == "glint") canvas.glint(c);
    // "label": text only, on a transparent ground.
}

// Draws the label as large as fits, in black or white against the shape's colour.
void drawLabel(ArtCanvas& canvas, std::string text, Rgba ground, bool onClear) {
    std::replace(text.begin(), text.end(), '_', ' ');
    int scale = 8;
    while (scale > 0 && (ArtCanvas::textWidth(text, scale) > canvas.width() - 4 ||
                         ArtCanvas::textHeight(scale) > canvas.height() - 4))
        --scale;
    if (scale == 0) return;
    float luminance = 0.3f * ground.r + 0.59f * ground.g + 0.11f * ground.b;
    Rgba ink = onClear ? ground : (luminance > 140 || ground.a < 128 ? Rgba{20, 20, 20, 255} : Rgba{250, 250, 250, 255});
    canvas.text(text, canvas.width() / 2.0f, canvas.height() / 2.0f, scale, ink);
}

Bytes drawImage(Rule const& rule, std::string const& path, bool pak1, float turn = 0) {
    Rgba colour = parseColour(rule.colour, path);
    std::string stem = stemOf(path);
    for (char const* lit : {"_lit", "_highlight", "_highlighted", "_checked", "_light"})
        if (endsWith(stem, lit)) colour = brighter(colour);
    if (pak1) colour = tinted(colour);
    ArtCanvas canvas(rule.width, rule.height);
    drawShape(canvas, rule.shape, colour, turn);
    std::string text = rule.text;
    if (text.empty()) {
        // A button's states share its label: the state shows in the colour.
        std::string name = stem;
        for (char const* state : {"_normal", "_lit", "_highlighted", "_highlight", "_pressed", "_light"})
            if (endsWith(name, state) && name.size() > std::strlen(state)) {
                name.resize(name.size() - std::strlen(state));
                break;
            }
        text = rule.shape == "label" ? name.substr(name.rfind('_') + 1) : name;
    }
    if (pak1) text = "PAK1 " + text;
    if (rule.label || pak1) drawLabel(canvas, text, colour, rule.shape == "label");
    return rule.webp ? canvas.webp() : canvas.png();
}

// The button's touch rectangle covers its whole image: "1 XR", the move-to line, then the
// corners top-right, bottom-right, bottom-left, top-left, measured from the lower-left corner.
std::string hitArea(int width, int height) {
    std::ostringstream out;
    out << "%!PS-Adobe-3.0\n%%Creator: zelv datatool\n1 XR\n"
        << 0 << ' ' << height << " m\n"
        << width << ' ' << height << " L\n"
        << width << ' ' << 0 << " L\n"
        << 0 << ' ' << 0 << " L\n"
        << 0 << ' ' << height << " L\n";
    return out.str();
}

// The image a hit-area file belongs to: its "_normal" state, else the image of the same name.
std::string imageForHitArea(std::string const& hit) {
    std::string base = hit.substr(0, hit.size() - std::string("_bb.ai").size());
    for (std::string candidate : {base + "_normal.png", base + ".png", base + "_unchecked.png"})
        for (size_t i = 1; i < Assets::textureCount; ++i)
            if (Assets::textures[i].path == candidate) return candidate;
    for (size_t i = 1; i < Assets::textureCount; ++i)
        if (Assets::textures[i].path.rfind(base + "_", 0) == 0) return Assets::textures[i].path;
    return {};
}

void generate(datatool::Context& ctx) {
    Rules rules = readRules(ctx);
    auto add = [&](std::string const& path, bool pak1, float turn = 0) {
        Rule const* rule = ruleFor(rules, path);
        if (!rule) return ctx.error("art.txt has no rule for " + path);
        Bytes bytes = drawImage(*rule, path, pak1, turn);
        if (bytes.empty()) return ctx.error("cannot encode " + path);
        (pak1 ? ctx.pak1 : ctx.pak0).add(path, std::move(bytes));
    };
    for (size_t i = 1; i < Assets::textureCount; ++i) add(Assets::textures[i].path, false);

    // The loading screen's gear turns through 30 numbered frames.
    std::string const gear = Assets::texMenusLevelselectGear00000.path;
    std::string const prefix = gear.substr(0, gear.size() - std::string("00000.png").size());
    for (int i = 1; i < 30; ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%05d", i);
        add(prefix + digits + ".png", false, float(i) / 30.0f / 8.0f);
    }

    for (auto const& hit : Assets::hitAreas) {
        std::string image = imageForHitArea(hit);
        Rule const* rule = image.empty() ? nullptr : ruleFor(rules, image);
        if (!rule) {
            ctx.error("no image for the hit area " + hit);
            continue;
        }
        ctx.pak0.add(hit, hitArea(rule->width, rule->height));
    }

    for (auto const& path : rules.pak1) {
        if (!ctx.pak0.contains(path)) ctx.error("art.txt overrides " + path + ", which pak0 lacks");
        add(path, true);
    }
}

datatool::Register reg("art", 10, generate);

}  // namespace
