// The sample art for every image of the texture table, the frames of the loading gear and the
// buttons' hit-area files: flat shapes with soft shading in one palette. What each image is and
// its size come from tools/data/art/art.txt.
#include <cstring>
#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "level/LevelCatalog.h"
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
    std::string text;  // words painted on a button or a tile, spaces as _
};

struct Rules {
    std::vector<Rule> rules;
    std::vector<std::string> pak1;
    std::vector<std::string> levelArt;  // images only levels use: the engine's table lacks them
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
        if (first == "pak1" || first == "level") {
            std::string path;
            words >> path;
            (first == "pak1" ? out.pak1 : out.levelArt).push_back(path);
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
            else if (option.rfind("text=", 0) == 0) r.text = option.substr(5);
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

Rgba parseColour(std::string const& text) {
    unsigned r = 0, g = 0, b = 0, a = 255;
    if (text.size() == 9) std::sscanf(text.c_str(), "#%2x%2x%2x%2x", &r, &g, &b, &a);
    else std::sscanf(text.c_str(), "#%2x%2x%2x", &r, &g, &b);
    return {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
}

// Towards white (amount > 0) or black (amount < 0), alpha kept.
Rgba shade(Rgba c, float amount) {
    auto f = [amount](uint8_t v) {
        float const x = amount >= 0 ? v + (255 - v) * amount : v * (1 + amount);
        return uint8_t(std::clamp(std::lround(x), 0L, 255L));
    };
    return {f(c.r), f(c.g), f(c.b), c.a};
}

Rgba withAlpha(Rgba c, uint8_t a) { return {c.r, c.g, c.b, a}; }

// The palette every image draws from.
namespace palette {
Rgba const sky{142, 201, 232, 255}, skyHigh{92, 160, 212, 255}, hillFar{126, 178, 120, 255},
    hillNear{88, 150, 78, 255}, ground{70, 122, 60, 255}, soil{122, 86, 52, 255}, cream{246, 236, 212, 255},
    ink{43, 33, 24, 255}, gold{255, 210, 63, 255}, focus{255, 214, 74, 255}, white{255, 255, 255, 255},
    wood{138, 90, 52, 255}, cloud{250, 252, 255, 235}, sun{255, 226, 120, 255}, path{226, 196, 142, 255};
}  // namespace palette

double luminance(Rgba c) {
    auto lin = [](uint8_t v) {
        double const s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}

// Cream or ink, whichever reads better on the ground.
Rgba inkFor(Rgba ground) {
    double const l = luminance(ground);
    double const onCream = (luminance(palette::cream) + 0.05) / (l + 0.05);
    double const onInk = (l + 0.05) / (luminance(palette::ink) + 0.05);
    return onCream >= onInk ? palette::cream : palette::ink;
}

// The ground shaded by `amount` away from the ink on it: darker under cream, lighter under ink.
Rgba awayFrom(Rgba ground, Rgba ink, float amount) { return shade(ground, ink == palette::cream ? -amount : amount); }

// Words as large as fit the box, centred at (cx, cy).
void paintWords(ArtCanvas& canvas, std::string text, float cx, float cy, float boxW, float boxH, Rgba ink) {
    std::replace(text.begin(), text.end(), '_', ' ');
    int scale = 8;
    while (scale > 1 && (ArtCanvas::textWidth(text, scale) > boxW || ArtCanvas::textHeight(scale) > boxH)) --scale;
    canvas.text(text, cx, cy, scale, ink);
}

// A rounded body lit from above: a darker rim, a lighter top, a soft sheen. The sheen ends at
// sheenEnd (the top half when not given): words painted under it would lose their contrast.
void shadedRoundRect(ArtCanvas& canvas, float x0, float y0, float x1, float y1, float radius, Rgba c,
                     float sheenEnd = -1) {
    canvas.roundRect(x0, y0, x1, y1, radius, shade(c, -0.35f));
    float const rim = std::max(2.0f, std::min(x1 - x0, y1 - y0) * 0.05f);
    canvas.roundRect(x0 + rim, y0 + rim, x1 - rim, y1 - rim, std::max(1.0f, radius - rim), c);
    float const end = sheenEnd < 0 ? (y0 + y1) / 2 : sheenEnd;
    canvas.roundRect(x0 + rim * 2, y0 + rim * 1.5f, x1 - rim * 2, end, std::max(1.0f, std::min(radius - rim * 2, (end - y0 - rim * 1.5f) / 2)),
                     withAlpha(shade(c, 0.25f), 110));
}

void shadedCircle(ArtCanvas& canvas, float cx, float cy, float r, Rgba c) {
    canvas.ellipse(cx, cy, r, r, shade(c, -0.35f));
    canvas.ellipse(cx, cy, r * 0.92f, r * 0.92f, c);
    canvas.ellipse(cx - r * 0.25f, cy - r * 0.3f, r * 0.45f, r * 0.35f, withAlpha(shade(c, 0.45f), 120));
}

// A focused control: a thick gold ring around a brighter body, so focus never reads as disabled.
void focusRing(ArtCanvas& canvas, float x0, float y0, float x1, float y1, float radius) {
    float const t = std::max(4.0f, std::min(x1 - x0, y1 - y0) * 0.08f);
    canvas.fill(
        [=](float x, float y) {
            auto inside = [&](float a0, float b0, float a1, float b1, float r) {
                if (x < a0 || x >= a1 || y < b0 || y >= b1) return false;
                float const dx = std::max({a0 + r - x, 0.0f, x - (a1 - r)});
                float const dy = std::max({b0 + r - y, 0.0f, y - (b1 - r)});
                return dx * dx + dy * dy <= r * r;
            };
            return inside(x0, y0, x1, y1, radius) && !inside(x0 + t, y0 + t, x1 - t, y1 - t, std::max(1.0f, radius - t));
        },
        palette::focus);
}

bool isLit(std::string const& stem) {
    for (char const* lit : {"_lit", "_highlight", "_highlighted", "_light", "_selected"})
        if (endsWith(stem, lit)) return true;
    return false;
}

// The sky, a sun, clouds, two rows of hills and the ground: the game's outdoors. At night the sky
// is deep blue with a moon and stars, dark enough for light words over it.
void paintScene(ArtCanvas& canvas, float dusk, bool night) {
    float const w = float(canvas.width()), h = float(canvas.height());
    if (night) dusk = 0.6f;
    Rgba const top = night ? Rgba{18, 30, 58, 255} : shade(palette::skyHigh, -0.3f * dusk),
               low = night ? Rgba{40, 62, 96, 255} : shade(palette::sky, -0.2f * dusk);
    for (int y = 0; y < canvas.height(); ++y) {
        float const t = std::min(1.0f, float(y) / (h * 0.7f));
        Rgba const c{uint8_t(top.r + (low.r - top.r) * t), uint8_t(top.g + (low.g - top.g) * t),
                     uint8_t(top.b + (low.b - top.b) * t), 255};
        canvas.rect(0, float(y), w, float(y + 1), c);
    }
    if (night) {
        for (int i = 0; i < 60; ++i) {
            float const x = std::fmod(float(i) * 0.618034f, 1.0f) * w, y = std::fmod(float(i) * 0.41421f, 1.0f) * h * 0.55f;
            canvas.ellipse(x, y, 1.6f, 1.6f, Rgba{255, 250, 225, uint8_t(120 + (i * 37) % 120)});
        }
        // A crescent low on the right (the main menu's top corners hold buttons), painted as one
        // shape so that the sky shows through its hollow.
        float const moonX = w * 0.86f, moonY = h * 0.4f, outer = h * 0.06f, inner = h * 0.05f;
        canvas.fill(
            [=](float x, float y) {
                float const cx = x - moonX, cy = y - moonY, hx = cx - h * 0.025f, hy = cy + h * 0.015f;
                return cx * cx + cy * cy <= outer * outer && hx * hx + hy * hy > inner * inner;
            },
            Rgba{246, 240, 214, 255});
    } else {
        canvas.ellipse(w * 0.82f, h * 0.2f, h * 0.09f, h * 0.09f, withAlpha(palette::sun, 120));
        canvas.ellipse(w * 0.82f, h * 0.2f, h * 0.065f, h * 0.065f, palette::sun);
    }
    for (auto [cx, cy, s] : {std::tuple{0.18f, 0.16f, 1.0f}, {0.47f, 0.1f, 0.7f}, {0.64f, 0.28f, 0.85f}}) {
        if (night) break;
        float const r = h * 0.05f * s;
        for (auto [dx, dy, k] : {std::tuple{-1.4f, 0.3f, 0.8f}, {0.0f, 0.0f, 1.1f}, {1.3f, 0.25f, 0.85f}})
            canvas.ellipse(w * cx + dx * r, h * cy + dy * r, r * k * 1.3f, r * k, palette::cloud);
    }
    auto hills = [&](float base, float amplitude, float waves, float phase, Rgba c) {
        canvas.fill(
            [=](float x, float y) {
                return y > h * base - amplitude * h * (0.5f + 0.5f * std::sin(x / w * waves * 6.2832f + phase));
            },
            c);
    };
    float const dim = night ? -0.62f : -0.25f * dusk;
    hills(0.72f, 0.12f, 2.0f, 0.6f, shade(palette::hillFar, dim));
    hills(0.82f, 0.08f, 3.0f, 2.1f, shade(palette::hillNear, dim));
    canvas.rect(0, h * 0.9f, w, h, shade(palette::ground, dim));
}

// A page of the level select: a sunny field with a sandy path through the places of the act's
// level tiles, in play order.
void paintActMap(ArtCanvas& canvas, char act) {
    float const w = float(canvas.width()), h = float(canvas.height());
    canvas.roundRect(0, 0, w, h, 36, shade(palette::wood, -0.2f));
    canvas.roundRect(10, 10, w - 10, h - 10, 28, shade(palette::hillFar, 0.35f));
    // The page is drawn centred on the screen, 2 right and 16 down of the centre.
    auto at = [&](LevelCatalog::Entry const& e) { return std::pair{w / 2 + e.mapX - 2, h / 2 - (e.mapY + 16)}; };
    std::vector<std::pair<float, float>> stops;
    for (size_t i = 0; i < LevelCatalog::count(); ++i) {
        auto const& e = LevelCatalog::entry(i);
        if (e.act == act && e.mode == GameMode::Normal) stops.push_back(at(e));
    }
    auto road = [&](std::pair<float, float> a, std::pair<float, float> b, float width, Rgba c) {
        canvas.fill(
            [=](float x, float y) {
                float const vx = b.first - a.first, vy = b.second - a.second;
                float const t = std::clamp(((x - a.first) * vx + (y - a.second) * vy) / (vx * vx + vy * vy), 0.0f, 1.0f);
                return std::hypot(x - a.first - t * vx, y - a.second - t * vy) <= width;
            },
            c);
    };
    for (size_t i = 1; i < stops.size(); ++i) road(stops[i - 1], stops[i], 14, shade(palette::path, -0.25f));
    for (size_t i = 1; i < stops.size(); ++i) road(stops[i - 1], stops[i], 10, palette::path);
    // Bonus levels hang off the act's first level by a dotted trail.
    for (size_t i = 0; i < LevelCatalog::count(); ++i) {
        auto const& e = LevelCatalog::entry(i);
        if (e.act != act || e.mode == GameMode::Normal || stops.empty()) continue;
        auto const [bx, by] = at(e);
        auto const [fx, fy] = stops.front();
        for (int k = 1; k < 8; ++k) {
            float const t = float(k) / 8;
            canvas.ellipse(fx + (bx - fx) * t, fy + (by - fy) * t, 5, 5, palette::path);
        }
    }
    // A few trees off the road, and off the top middle, where the act's name is written.
    for (auto [tx, ty] : {std::pair{0.1f, 0.2f}, {0.9f, 0.82f}, {0.64f, 0.88f}, {0.86f, 0.18f}, {0.08f, 0.86f}}) {
        canvas.rect(w * tx - 4, h * ty, w * tx + 4, h * ty + 26, palette::soil);
        canvas.ellipse(w * tx, h * ty - 4, 22, 22, shade(palette::hillNear, -0.1f));
    }
}

// A padlock: shackle and body.
void paintPadlock(ArtCanvas& canvas) {
    float const w = float(canvas.width()), h = float(canvas.height());
    canvas.ring(w / 2, h * 0.42f, w * 0.24f, w * 0.15f, shade(palette::cream, -0.3f));
    canvas.roundRect(w * 0.2f, h * 0.42f, w * 0.8f, h * 0.9f, w * 0.08f, palette::gold);
    canvas.roundRect(w * 0.25f, h * 0.46f, w * 0.75f, h * 0.62f, w * 0.05f, withAlpha(shade(palette::gold, 0.5f), 140));
    canvas.ellipse(w / 2, h * 0.66f, w * 0.06f, w * 0.06f, palette::ink);
    canvas.rect(w * 0.475f, h * 0.66f, w * 0.525f, h * 0.8f, palette::ink);
}

// Icons drawn inside buttons and on the in-level controls.
void paintIcon(ArtCanvas& canvas, std::string const& icon, float cx, float cy, float s, Rgba c) {
    if (icon == "pause") {
        canvas.roundRect(cx - s * 0.45f, cy - s * 0.55f, cx - s * 0.12f, cy + s * 0.55f, s * 0.08f, c);
        canvas.roundRect(cx + s * 0.12f, cy - s * 0.55f, cx + s * 0.45f, cy + s * 0.55f, s * 0.08f, c);
    } else if (icon == "leftright") {
        canvas.triangle(cx - s * 0.9f, cy, cx - s * 0.15f, cy - s * 0.55f, cx - s * 0.15f, cy + s * 0.55f, c);
        canvas.triangle(cx + s * 0.9f, cy, cx + s * 0.15f, cy - s * 0.55f, cx + s * 0.15f, cy + s * 0.55f, c);
    } else if (icon == "up") {
        canvas.triangle(cx, cy - s * 0.7f, cx - s * 0.6f, cy + s * 0.4f, cx + s * 0.6f, cy + s * 0.4f, c);
    } else if (icon == "down") {
        canvas.triangle(cx, cy + s * 0.7f, cx - s * 0.6f, cy - s * 0.4f, cx + s * 0.6f, cy - s * 0.4f, c);
    } else if (icon == "back") {
        canvas.triangle(cx - s * 0.7f, cy, cx + s * 0.1f, cy - s * 0.6f, cx + s * 0.1f, cy + s * 0.6f, c);
        canvas.rect(cx, cy - s * 0.22f, cx + s * 0.7f, cy + s * 0.22f, c);
    } else if (icon == "cross") {
        auto bar = [&](float sign) {
            canvas.fill(
                [=](float x, float y) {
                    float const u = (x - cx) + sign * (y - cy), v = (x - cx) - sign * (y - cy);
                    return std::abs(u) < s * 0.18f && std::abs(v) < s * 0.7f;
                },
                c);
        };
        bar(1);
        bar(-1);
    } else if (icon == "bars") {
        for (int i = 0; i < 3; ++i) {
            float const x = cx - s * 0.6f + float(i) * s * 0.45f, top = cy + s * 0.6f - s * (0.5f + 0.35f * float(i));
            canvas.rect(x, top, x + s * 0.32f, cy + s * 0.6f, c);
        }
    } else if (icon == "star") {
        canvas.star(cx, cy, s * 0.75f, s * 0.34f, c);
    } else if (icon == "gear") {
        canvas.gear(cx, cy, s * 0.7f, 8, 0, c);
    } else if (icon == "clock") {
        canvas.ring(cx, cy, s * 0.7f, s * 0.55f, c);
        canvas.rect(cx - s * 0.06f, cy - s * 0.45f, cx + s * 0.06f, cy, c);
        canvas.rect(cx, cy - s * 0.06f, cx + s * 0.35f, cy + s * 0.06f, c);
    } else if (icon == "coin") {
        canvas.ellipse(cx, cy, s * 0.7f, s * 0.7f, shade(palette::gold, -0.2f));
        canvas.ellipse(cx, cy, s * 0.55f, s * 0.55f, palette::gold);
        canvas.star(cx, cy, s * 0.35f, s * 0.16f, shade(palette::gold, -0.25f));
    }
}

// A hanging lantern in frames across the image (each 4:5, the lantern in its middle): a ring to
// hang it by, an iron cap and base, glass panes between bars. Lit, each frame has its own flame
// and glow, so that the frames played in turn flicker; unlit, the glass is dark and nothing shines.
void paintLantern(ArtCanvas& canvas, Rgba glass, bool lit) {
    float const h = float(canvas.height()), fw = h * 0.8f;
    int const frames = std::max(1, int(std::lround(float(canvas.width()) / fw)));
    // Flame strength per frame, in an order that does not read as a pulse.
    float const strength[] = {1.0f, 0.84f, 0.95f, 0.78f, 0.9f, 0.86f, 0.97f, 0.8f};
    Rgba const iron{58, 50, 48, 255}, ironLight{96, 84, 78, 255};
    for (int i = 0; i < frames; ++i) {
        float const cx = fw * (float(i) + 0.5f), u = h / 160.0f, k = strength[i % 8];
        float const glassTop = 46 * u, glassBottom = 106 * u, glassY = (glassTop + glassBottom) / 2;
        if (lit) {
            // The glow: many faint discs, densest at the flame.
            for (int ring = 0; ring < 22; ++ring) {
                float const r = (fw * 0.5f - 1) * (1.0f - float(ring) / 24.0f);
                canvas.ellipse(cx, glassY, r, r * 1.05f, Rgba{255, 150, 60, uint8_t(std::lround(13 * k))});
            }
        }
        canvas.ring(cx, 24 * u, 8 * u, 4.5f * u, iron);
        canvas.triangle(cx - 30 * u, 46 * u, cx + 30 * u, 46 * u, cx, 30 * u, iron);
        canvas.rect(cx - 26 * u, 40 * u, cx + 26 * u, 47 * u, ironLight);
        canvas.roundRect(cx - 22 * u, glassTop, cx + 22 * u, glassBottom, 6 * u,
                         lit ? shade(glass, -0.3f + 0.6f * (k - 0.85f)) : shade(glass, -0.65f));
        if (lit) {
            // The flame: a drop of light with a white heart, taller when stronger.
            float const fh = 36 * u * k, fwid = 10 * u * (0.8f + 0.2f * k), base = glassBottom - 11 * u;
            auto drop = [&](float scale, Rgba c) {
                canvas.fill(
                    [=](float x, float y) {
                        float const t = (base - y) / (fh * scale);  // 0 at the base, 1 at the tip
                        if (t < -0.35f || t > 1.0f) return false;
                        float const half = t < 0 ? fwid * scale * std::sqrt(1 - (t / 0.35f) * (t / 0.35f))
                                                 : fwid * scale * (1 - t) * std::sqrt(1 + t);
                        return std::abs(x - (cx + 1.5f * u * (1 - k) * t)) <= half;
                    },
                    c);
            };
            drop(1.0f, Rgba{255, 200, 96, 255});
            drop(0.6f, Rgba{255, 248, 222, 255});
        }
        for (float bar : {-22.0f, 22.0f})
            canvas.rect(cx + (bar - 2) * u, glassTop, cx + (bar + 2) * u, glassBottom, iron);
        canvas.roundRect(cx - 27 * u, glassBottom - 2 * u, cx + 27 * u, glassBottom + 7 * u, 3 * u, iron);
        canvas.ellipse(cx, glassBottom + 10 * u, 6 * u, 4 * u, iron);
    }
}

// A mote of dust in lamplight: a soft round speck.
void paintMote(ArtCanvas& canvas, Rgba c) {
    float const w = float(canvas.width());
    for (int ring = 0; ring < 8; ++ring) {
        float const r = w * 0.5f * (1.0f - float(ring) / 9.0f);
        canvas.ellipse(w / 2, w / 2, r, r, withAlpha(c, uint8_t(40 + ring * 10)));
    }
}

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

// Draws one image. `variant` re-colours the on-demand archive's versions: the same things at
// dusk, in warmer colours.
Bytes drawImage(Rule const& rule, std::string const& path, bool variant, float turn = 0) {
    Rgba colour = parseColour(rule.colour);
    if (variant) colour = shade(Rgba{uint8_t(std::min(255, colour.r + 30)), colour.g, uint8_t(colour.b * 0.85f), colour.a}, -0.05f);
    std::string const stem = stemOf(path);
    bool const lit = isLit(stem);
    ArtCanvas canvas(rule.width, rule.height);
    float const w = float(rule.width), h = float(rule.height), r = std::min(w, h) / 2;
    std::string const& shape = rule.shape;
    std::string const& text = rule.text;

    if (shape == "solid") canvas.rect(0, 0, w, h, colour);
    else if (shape == "veil") canvas.roundRect(0, 0, w, h, std::min(w, h) * 0.25f, colour);
    else if (shape == "scene") paintScene(canvas, variant ? 0.35f : 0.0f, false);
    else if (shape == "nightscene") paintScene(canvas, 0.0f, true);
    else if (shape == "actmap") paintActMap(canvas, stem.back());
    else if (shape == "panel") {
        // A wooden board with a darker frame and a lighter face.
        canvas.roundRect(0, 0, w, h, r * 0.3f, shade(colour, -0.4f));
        canvas.roundRect(8, 8, w - 8, h - 8, r * 0.3f - 8, colour);
        for (int i = 1; i < 6; ++i)
            canvas.rect(16, h * float(i) / 6.0f, w - 16, h * float(i) / 6.0f + 2, withAlpha(shade(colour, -0.15f), 90));
    } else if (shape == "parchment") {
        canvas.roundRect(0, 0, w, h, r * 0.25f, shade(palette::wood, -0.3f));
        canvas.roundRect(10, 10, w - 10, h - 10, r * 0.25f - 10, colour);
    } else if (shape == "button") {
        float const rad = h * 0.35f;
        // The game fades the focused image in over the plain one: both paint their words and icons
        // in the plain body's ink, and the focused body only moves away from it, so the words read
        // as well at every step of the fade. The game writes white words on the plain buttons:
        // those keep their colour when focused.
        Rgba const ink = inkFor(colour);
        Rgba const body = lit && !text.empty() ? awayFrom(colour, ink, 0.15f) : colour;
        bool const words = !text.empty() && text.rfind("icon:", 0) != 0;
        shadedRoundRect(canvas, 0, 0, w, h, rad, body, words ? h * 0.25f : -1);
        if (lit) focusRing(canvas, 0, 0, w, h, rad);
        if (!text.empty()) {
            if (!words) paintIcon(canvas, text.substr(5), w / 2, h / 2, h * 0.35f, ink);
            else paintWords(canvas, text, w / 2, h / 2, w * 0.8f, h * 0.5f, ink);
        }
    } else if (shape == "disc") {
        Rgba const ink = inkFor(colour);
        Rgba const body = lit ? awayFrom(colour, ink, 0.18f) : colour;
        shadedCircle(canvas, w / 2, h / 2, r - 1, body);
        if (lit) canvas.ring(w / 2, h / 2, r - 1, r * 0.84f, palette::focus);
        if (text.rfind("icon:", 0) == 0) paintIcon(canvas, text.substr(5), w / 2, h / 2, r * 0.5f, ink);
    } else if (shape == "hud") {
        // An on-screen control: a see-through disc with its icon.
        canvas.ellipse(w / 2, h / 2, r - 1, r - 1, withAlpha(palette::ink, 90));
        canvas.ring(w / 2, h / 2, r - 1, r * 0.9f, colour);
        paintIcon(canvas, text.substr(5), w / 2, h / 2, r * 0.5f, colour);
    } else if (shape == "ring") {
        canvas.ring(w / 2, h / 2, r, r * 0.78f, lit ? palette::focus : colour);
    } else if (shape == "circle") {
        canvas.ellipse(w / 2, h / 2, w / 2, h / 2, colour);
    } else if (shape == "ball") {
        shadedCircle(canvas, w / 2, h / 2, r - 1, colour);
    } else if (shape == "body" || shape == "eyes" || shape == "bigeyes" || shape == "blinkright" ||
               shape == "blinkleft" || shape == "brows") {
        drawCharacter(canvas, shape, colour);
    } else if (shape == "star") {
        canvas.star(w / 2, h / 2 + r * 0.05f, r, r * 0.45f, shade(colour, -0.3f));
        canvas.star(w / 2, h / 2 + r * 0.05f, r * 0.86f, r * 0.39f, colour);
    } else if (shape == "gear") {
        canvas.gear(w / 2, h / 2, r, 8, turn, shade(colour, -0.25f));
        canvas.gear(w / 2, h / 2, r * 0.9f, 8, turn, colour);
    } else if (shape == "arrow") {
        // Points the way the name says; lit arrows are gold.
        // Drawn in the middle three quarters of the height; the rest is touch area.
        bool const left = stem.find("left") != std::string::npos;
        Rgba const c = lit ? palette::focus : colour;
        float const a = left ? w * 0.85f : w * 0.15f, b = left ? w * 0.15f : w * 0.85f;
        canvas.triangle(a, h * 0.15f, a, h * 0.85f, b, h / 2, shade(c, -0.35f));
        float const a2 = left ? a - w * 0.06f : a + w * 0.06f, b2 = left ? b + w * 0.1f : b - w * 0.1f;
        canvas.triangle(a2, h * 0.22f, a2, h * 0.78f, b2, h / 2, c);
    } else if (shape == "checkbox") {
        bool const checked = stem.find("unchecked") == std::string::npos;
        bool const selected = endsWith(stem, "_selected");
        if (selected) {
            focusRing(canvas, 0, 0, w, h, w * 0.25f);
        } else {
            canvas.roundRect(4, 4, w - 4, h - 4, w * 0.2f, shade(palette::wood, -0.35f));
            canvas.roundRect(10, 10, w - 10, h - 10, w * 0.15f, checked ? Rgba{76, 160, 70, 255} : palette::cream);
            if (checked) {
                // A white tick.
                auto stroke = [&](float ax, float ay, float bx, float by) {
                    canvas.fill(
                        [=](float x, float y) {
                            float const vx = bx - ax, vy = by - ay;
                            float const t = std::clamp(((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy), 0.0f, 1.0f);
                            return std::hypot(x - ax - t * vx, y - ay - t * vy) <= w * 0.07f;
                        },
                        palette::white);
                };
                stroke(w * 0.27f, h * 0.52f, w * 0.44f, h * 0.7f);
                stroke(w * 0.44f, h * 0.7f, w * 0.74f, h * 0.3f);
            }
        }
    } else if (shape == "padlock") {
        paintPadlock(canvas);
    } else if (shape == "number") {
        // A tile's number or letter: cream with a dark outline, readable on any tile colour.
        std::string const label = stem.substr(stem.rfind('_') + 1);
        for (auto [dx, dy] : {std::pair{-2, 0}, {2, 0}, {0, -2}, {0, 2}})
            paintWords(canvas, label, w / 2 + float(dx), h / 2 + float(dy), w - 8, h - 8, palette::ink);
        paintWords(canvas, label, w / 2, h / 2, w - 8, h - 8, palette::cream);
    } else if (shape == "rosette") {
        // The results badge: ribbons under a gold medal with its sign.
        canvas.triangle(w * 0.3f, h * 0.5f, w * 0.46f, h * 0.55f, w * 0.24f, h * 0.98f, shade(colour, -0.2f));
        canvas.triangle(w * 0.7f, h * 0.5f, w * 0.54f, h * 0.55f, w * 0.76f, h * 0.98f, shade(colour, -0.2f));
        shadedCircle(canvas, w / 2, h * 0.4f, std::min(w, h) * 0.36f, colour);
        canvas.ellipse(w / 2, h * 0.4f, std::min(w, h) * 0.26f, std::min(w, h) * 0.26f, palette::cream);
        paintIcon(canvas, text.empty() ? "star" : text.substr(5), w / 2, h * 0.4f, std::min(w, h) * 0.3f,
                  text == "icon:star" || text.empty() ? palette::gold : palette::ink);
    } else if (shape == "thumb") {
        canvas.roundRect(w * 0.25f, h * 0.05f, w * 0.75f, h, w * 0.25f, shade(colour, -0.2f));
        canvas.roundRect(w * 0.3f, h * 0.1f, w * 0.7f, h, w * 0.2f, colour);
        canvas.roundRect(w * 0.36f, h * 0.14f, w * 0.64f, h * 0.36f, w * 0.1f, shade(colour, 0.45f));
    } else if (shape == "gradient") {
        canvas.gradient({colour.r, colour.g, colour.b, 0}, colour);
    } else if (shape == "glint") {
        canvas.glint(colour);
    } else if (shape == "lantern" || shape == "darklantern") {
        paintLantern(canvas, colour, shape == "lantern");
    } else if (shape == "mote") {
        paintMote(canvas, colour);
    } else if (shape == "bar") {
        canvas.roundRect(0, 0, w, h, h / 2, shade(colour, -0.3f));
        canvas.roundRect(2, 2, w - 2, h - 2, h / 2 - 2, colour);
    }
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
    for (auto const& path : rules.levelArt) add(path, false);

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
