#include "tools/datatool/LevelBuilder.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_polygon_shape.h>

#include <memory>
#include <set>

#include "level/Fixtures.h"
#include "level/LevelWriter.h"

namespace levels {

namespace {

class Packer {
public:
    template <class T>
    void put(T const& value) {
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        out.insert(out.end(), bytes, bytes + sizeof(T));
    }
    void put(glm::vec2 v) {
        put(v.x);
        put(v.y);
    }

    PackedShape out;
};

Packer header(uint32_t type, float radius, Fixture const& f) {
    Packer p;
    p.put(type);
    p.put(radius);
    p.put(f.density);
    p.put(f.category);
    p.put(f.mask);
    p.put(f.group);
    p.put(f.restitution);
    p.put(f.friction);
    p.put(static_cast<uint8_t>(f.sensor ? 1 : 0));
    p.put(f.userData);
    return p;
}

// The physics engine's skin radius of polygons, edges and chains.
constexpr float polygonRadius = 0.01f;

}  // namespace

Fixture sensorFixture(uint32_t userData) {
    Fixture f;
    f.sensor = true;
    f.userData = userData;
    return f;
}

float signedArea(std::vector<glm::vec2> const& outline) {
    float area = 0.0f;
    for (size_t i = 0; i < outline.size(); ++i) {
        glm::vec2 const a = outline[i];
        glm::vec2 const b = outline[(i + 1) % outline.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return area * 0.5f;
}

PackedShape circleShape(glm::vec2 centre, float radius, Fixture const& fixture) {
    Packer p = header(0, radius, fixture);
    p.put(centre);
    return p.out;
}

PackedShape polygonShape(std::vector<glm::vec2> const& vertices, Fixture const& fixture) {
    if (vertices.size() < 3 || vertices.size() > 8 || signedArea(vertices) <= 0.0f) {
        throw std::invalid_argument("a polygon needs 3 to 8 vertices in counter-clockwise order");
    }
    // Area-weighted centroid of the triangle fan.
    glm::vec2 centroid(0.0f);
    float area = 0.0f;
    for (size_t i = 1; i + 1 < vertices.size(); ++i) {
        glm::vec2 const e1 = vertices[i] - vertices[0];
        glm::vec2 const e2 = vertices[i + 1] - vertices[0];
        float const a = 0.5f * (e1.x * e2.y - e1.y * e2.x);
        centroid += a * (vertices[0] + vertices[i] + vertices[i + 1]) / 3.0f;
        area += a;
    }
    centroid /= area;
    Packer p = header(2, polygonRadius, fixture);
    p.put(centroid);
    p.put(static_cast<int32_t>(vertices.size()));
    for (glm::vec2 v : vertices) {
        p.put(v);
    }
    for (size_t i = 0; i < vertices.size(); ++i) {
        glm::vec2 const edge = vertices[(i + 1) % vertices.size()] - vertices[i];
        p.put(glm::normalize(glm::vec2(edge.y, -edge.x)));
    }
    return p.out;
}

PackedShape boxShape(glm::vec2 centre, glm::vec2 halfSize, Fixture const& fixture) {
    return polygonShape({centre + glm::vec2(-halfSize.x, -halfSize.y), centre + glm::vec2(halfSize.x, -halfSize.y),
                         centre + glm::vec2(halfSize.x, halfSize.y), centre + glm::vec2(-halfSize.x, halfSize.y)},
                        fixture);
}

PackedShape edgeShape(glm::vec2 a, glm::vec2 b, Fixture const& fixture) {
    Packer p = header(1, polygonRadius, fixture);
    p.put(a);
    p.put(b);
    p.put(a - (b - a));  // ghost before a
    p.put(b + (b - a));  // ghost after b
    p.put(static_cast<uint8_t>(1));
    p.put(static_cast<uint8_t>(1));
    return p.out;
}

PackedShape chainShape(std::vector<glm::vec2> const& points, Fixture const& fixture) {
    if (points.size() < 2) {
        throw std::invalid_argument("a chain needs at least 2 points");
    }
    Packer p = header(3, polygonRadius, fixture);
    p.put(static_cast<int32_t>(points.size()));
    for (glm::vec2 v : points) {
        p.put(v);
    }
    size_t const n = points.size();
    p.put(points[0] - (points[1] - points[0]));
    p.put(points[n - 1] + (points[n - 1] - points[n - 2]));
    p.put(static_cast<uint8_t>(1));
    p.put(static_cast<uint8_t>(1));
    return p.out;
}

LevelBuilder::LevelBuilder() {
    auto& d = data_;
    d.levelInfo.nearPlane = 100.0f;
    d.levelInfo.farPlane = 10000.0f;
    d.levelInfo.viewDistance = 1000.0f;
    d.metaData.particleMaxCount = 4000;
    d.metaData.particleDensity = 1.0f;
    d.metaData.particleGravityScale = 1.0f;
    d.metaData.particleDamping = 0.2f;
    d.metaData.particleRadius = 0.06f;
    d.metaData.goldParticleSize = 6.0f;
    // One shared vertex buffer; meshes address it by byte offset.
    d.meshSet.vertexBuffers.push_back(PristineLevel::BufferData{{}, 1});
}

uint32_t LevelBuilder::fixtureSignal(uint32_t beginSignal, uint32_t endSignal, uint16_t categoryMask) {
    data_.fixtureSignals.push_back(FixtureSignal{beginSignal, endSignal, categoryMask, 0, -1, 0});
    return static_cast<uint32_t>(data_.fixtureSignals.size() - 1);
}

void LevelBuilder::sensorBox(glm::vec2 centre, glm::vec2 halfSize, uint32_t beginSignal, uint32_t endSignal) {
    data_.signalShapes.push_back(boxShape(centre, halfSize, sensorFixture(fixtureSignal(beginSignal, endSignal))));
}

uint32_t LevelBuilder::arrayMesh(std::vector<float> const& vertices, glm::vec4 colour, std::string const& texture,
                                 glm::vec2 min, glm::vec2 max, bool numbered) {
    auto& set = data_.meshSet;
    auto& buffer = set.vertexBuffers[0].bytes;
    PristineLevel::ArrayMesh mesh;
    mesh.baseOffset = static_cast<uint32_t>(buffer.size());
    mesh.position = {0, 2, 3};
    mesh.uv = {12, 2, 2};
    mesh.vertexBuffer = 0;
    mesh.stride = 20;
    // Sprites have transparent edges; only the flat colour swatches are opaque.
    bool const swatch = texture.empty() || isColourSwatch(texture);
    mesh.blend = colour.a < 1.0f || !swatch ? 1 : 0;
    // Blending takes premultiplied colour, as the art is stored.
    mesh.color = glm::vec4(glm::vec3(colour) * colour.a, colour.a);
    // A swatch is there to be tinted: the textured shader would show it as it is.
    mesh.shader = swatch ? PristineLevel::MeshCommon::colorShader : PristineLevel::MeshCommon::texturedShader;
    if (!texture.empty()) mesh.texture = TextureDescriptor(texture, TextureOptions(1, 1, 0, 0), 0);
    mesh.primitive = 0;  // triangle strip
    mesh.firstVertex = numbered ? mesh.baseOffset / mesh.stride : 0;
    mesh.vertexCount = static_cast<uint32_t>(vertices.size() / 5);
    auto const* bytes = reinterpret_cast<uint8_t const*>(vertices.data());
    buffer.insert(buffer.end(), bytes, bytes + vertices.size() * sizeof(float));
    set.arrayMeshes.push_back(mesh);
    return node(PristineLevel::MeshNode::arrayEntry, static_cast<uint32_t>(set.arrayMeshes.size() - 1), min, max);
}

uint32_t LevelBuilder::node(uint16_t kind, uint32_t index, glm::vec2 min, glm::vec2 max) {
    PristineLevel::MeshNode n;
    n.kind = kind;
    n.index = index;
    n.box.min = glm::vec4(min, -1.0f, 1.0f);
    n.box.max = glm::vec4(max, 1.0f, 1.0f);
    data_.meshSet.nodes.push_back(n);
    return static_cast<uint32_t>(data_.meshSet.nodes.size() - 1);
}

void LevelBuilder::ground(std::vector<glm::vec2> const& surface, float bottom, glm::vec4 colour) {
    data_.staticShapes.push_back(chainShape(surface, Fixture{}));
    strip(surface, bottom, colour);
}

void LevelBuilder::strip(std::vector<glm::vec2> const& surface, float bottom, glm::vec4 colour) {
    std::vector<float> vertices;
    glm::vec2 min(surface.front().x, bottom);
    glm::vec2 max(surface.back().x, bottom);
    for (glm::vec2 p : surface) {
        vertices.insert(vertices.end(), {p.x, bottom, 0.0f, p.x / 4.0f, 0.0f, p.x, p.y, 0.0f, p.x / 4.0f, 1.0f});
        max.y = std::max(max.y, p.y);
    }
    // The colour mode tints a texture: white, so the strip shows its colour.
    arrayMesh(vertices, colour, "art/colors/white.png", min, max);
}

uint32_t LevelBuilder::quad(glm::vec2 centre, glm::vec2 halfSize, glm::vec4 colour, std::string const& texture,
                           bool numbered, glm::vec2 uvExtent) {
    glm::vec2 const lo = centre - halfSize;
    glm::vec2 const hi = centre + halfSize;
    float const u = uvExtent.x, v = uvExtent.y;
    std::vector<float> const strip = {lo.x, lo.y, 0, 0, v, hi.x, lo.y, 0, u, v,
                                      lo.x, hi.y, 0, 0, 0, hi.x, hi.y, 0, u, 0};
    return arrayMesh(strip, colour, texture, lo, hi, numbered);
}

void LevelBuilder::checkPoint(glm::vec2 position) {
    CheckPoint point;
    point.respawnPosition = position;
    point.index = static_cast<uint32_t>(data_.checkPoints.size());
    if (point.index > 0) {
        point.reachSignal = signal();
        sensorBox(position + glm::vec2(0.0f, 2.0f), glm::vec2(0.5f, 3.0f), point.reachSignal);
        // The post stands on the ground the player rests on.
        quad(position + glm::vec2(0.0f, 1.0f - restHeight), glm::vec2(0.08f, 1.0f), checkPointColour,
             "art/colors/white.png");
    }
    data_.checkPoints.push_back(point);
}

void LevelBuilder::coin(glm::vec2 centre, uint32_t achievement) {
    PristineLevel::Coin c;
    c.frameCount = 1;
    c.rows = 1;
    c.columns = 1;
    c.frameSize = glm::vec2(1.0f, 1.0f);
    c.frameTime = 100;
    c.center = centre;
    c.achievement = achievement;
    c.collectSound = SoundDescriptor("audio/cog/coin.wav", SoundParams(glm::vec3(centre, 0.0f), 1, 1.0f, 0, 1.25f, 2.0f));
    c.triggerSignal = signal();
    glm::vec2 const half(0.3f, 0.3f);
    c.coinDrawable = quad(centre, half, glm::vec4(1.0f), "art/effects/gold/goldsprite.png");
    // The ring and the glint are placed at the centre by the coin itself.
    c.ringDrawable = quad(glm::vec2(0.0f), half, glm::vec4(1.0f), "art/effects/gold/goldsprite.png");
    c.glintDrawable = quad(glm::vec2(0.0f), half * 0.5f, glm::vec4(1.0f), "art/colors/white.png");
    data_.signalShapes.push_back(circleShape(centre, 0.35f, sensorFixture(fixtureSignal(c.triggerSignal))));
    data_.coins.push_back(c);
}

std::vector<std::string> windingFaults(PristineLevel::Data const& level) {
    std::vector<std::string> faults;
    auto describe = [](OneSidedSegment const& s, char const* why) {
        char line[160];
        std::snprintf(line, sizeof line, "one-sided segment (%g, %g) -> (%g, %g) %s", s.from.x, s.from.y, s.to.x,
                      s.to.y, why);
        return std::string(line);
    };
    for (PackedShape const& shape : level.staticShapes) {
        for (OneSidedSegment const& s : oneSidedSegments(shape)) {
            b2Vec2 const e = s.to - s.from;
            b2Vec2 const middle = 0.5f * (s.from + s.to);
            if (std::abs(e.x) > 1e-4f * std::abs(e.y)) {
                if (!s.faces(middle + b2Vec2(0.0f, 1.0f))) {
                    faults.push_back(describe(s, "faces down: ground must run right to left"));
                }
            } else if (level.checkPoints.empty()) {
                faults.push_back(describe(s, "is a wall in a level without a start to face"));
            } else {
                glm::vec2 const start = level.checkPoints.front().respawnPosition;
                if (!s.faces(b2Vec2(start.x, middle.y))) {
                    faults.push_back(describe(s, "is a wall facing away from the level's start"));
                }
            }
        }
    }
    return faults;
}

namespace {

// The player's categories and masks (world/Player.h), kept here as the data tool has no world.
constexpr uint16_t playerInnerMask = 0x010E;
constexpr uint16_t playerOuterMask = 0x038C;

bool touchesPlayer(b2Filter const& f, uint16_t playerMask) {
    return (f.categoryBits & playerMask) != 0 && (f.maskBits & playerCategory) != 0;
}

struct DecodedFixture {
    std::unique_ptr<b2Shape> shape;
    FixtureSettings settings;
};

std::vector<DecodedFixture> decodeAll(std::vector<PackedShape> const& shapes) {
    std::vector<DecodedFixture> out;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        uint32_t type = 0;
        if (!packedShapeType(shapes[i], type)) continue;
        DecodedFixture d;
        switch (type) {
            case PackedShapeLayout::circle: d.shape = std::make_unique<b2CircleShape>(); break;
            case PackedShapeLayout::edge: d.shape = std::make_unique<b2EdgeShape>(); break;
            case PackedShapeLayout::polygon: d.shape = std::make_unique<b2PolygonShape>(); break;
            case PackedShapeLayout::chain: d.shape = std::make_unique<b2ChainShape>(); break;
            default: continue;
        }
        if (decodePackedShape(shapes, i, *d.shape, d.settings)) out.push_back(std::move(d));
    }
    return out;
}

// The signal entries of a fixture's chain, bounded by the table's size.
bool raisesForPlayer(std::vector<FixtureSignal> const& table, uint32_t first, uint32_t signal) {
    int64_t at = first;
    for (std::size_t steps = 0; at >= 0 && at < int64_t(table.size()) && steps < table.size(); ++steps) {
        FixtureSignal const& entry = table[std::size_t(at)];
        if (entry.beginSignal == signal && (entry.categoryMask & playerCategory) != 0) return true;
        at = entry.next;
    }
    return false;
}

// Ground within reach straight below a point: a solid fixture the inner circle collides with.
bool groundBelow(std::vector<DecodedFixture> const& solids, glm::vec2 at, float reach) {
    b2RayCastInput ray;
    ray.p1.Set(at.x, at.y);
    ray.p2.Set(at.x, at.y - reach);
    ray.maxFraction = 1.0f;
    b2Transform identity;
    identity.SetIdentity();
    for (DecodedFixture const& d : solids) {
        if (d.settings.isSensor || !touchesPlayer(d.settings.filter, playerInnerMask)) continue;
        for (int32 child = 0; child < d.shape->GetChildCount(); ++child) {
            b2RayCastOutput hit;
            if (d.shape->RayCast(&hit, ray, identity, child)) return true;
        }
    }
    return false;
}

}  // namespace

namespace {

// Every signal something in the level can raise: fixture touches, delayed signals, filters, body
// observers, switches, respawns, the level's built signal, and the camera's closing shot once its
// start is raised.
std::set<uint32_t> raisedSignals(PristineLevel::Data const& level) {
    std::set<uint32_t> raised{levelBuiltSignal};
    for (FixtureSignal const& f : level.fixtureSignals) raised.insert({f.beginSignal, f.endSignal});
    for (auto const& d : level.delayedSignals) raised.insert(d.target);
    for (auto const& f : level.signalFilters) raised.insert(f.output);
    for (auto const& o : level.bodyObservers)
        raised.insert({o.impulseSignal, o.speedUpSignal, o.speedDownSignal, o.spinSignal, o.spinStopSignal,
                       o.slideSignal, o.slideStopSignal});
    for (auto const& j : level.jointSwitches) raised.insert({j.onSignal, j.offSignal});
    for (CheckPoint const& c : level.checkPoints) raised.insert(c.respawnSignals.begin(), c.respawnSignals.end());
    if (raised.count(closingShotSignal)) raised.insert(closingShotSteps.begin(), closingShotSteps.end());
    raised.erase(0);
    return raised;
}

}  // namespace

std::vector<std::string> visibilityFaults(PristineLevel::Data const& level) {
    std::vector<std::string> faults;
    auto const& set = level.meshSet;
    auto untinted = [&](char const* kind, size_t i, PristineLevel::MeshCommon const& mesh) {
        if (mesh.shader == PristineLevel::MeshCommon::texturedShader && mesh.texture &&
            isColourSwatch(mesh.texture->path)) {
            faults.push_back(std::string(kind) + " mesh " + std::to_string(i) + " shows the colour swatch " +
                             mesh.texture->path + " with the textured shader, which ignores its colour");
        }
    };
    for (size_t i = 0; i < set.arrayMeshes.size(); ++i) untinted("array", i, set.arrayMeshes[i]);
    for (size_t i = 0; i < set.indexedMeshes.size(); ++i) untinted("indexed", i, set.indexedMeshes[i]);

    std::set<uint32_t> const raised = raisedSignals(level);
    for (size_t i = 0; i < level.dynamicBodies.size(); ++i) {
        PristineLevel::DynamicBody const& body = level.dynamicBodies[i];
        bool collides = false;
        for (DecodedFixture const& d : decodeAll(body.shapes)) {
            collides = collides || (!d.settings.isSensor && (touchesPlayer(d.settings.filter, playerInnerMask) ||
                                                             touchesPlayer(d.settings.filter, playerOuterMask)));
        }
        if (!collides) continue;
        bool const shown = body.enableSignal == 0 || raised.count(body.enableSignal) != 0;
        // Hidden from the start and never shown, or hidden on the way and never shown again.
        bool const hiddenForGood = !shown || (raised.count(body.disableSignal) != 0 && body.enableSignal == 0);
        if (body.drawables.empty() || hiddenForGood) {
            faults.push_back("dynamic body " + std::to_string(i) + " stops the player while " +
                             (body.drawables.empty() ? "nothing draws it" : "it is hidden for good"));
        }
    }
    return faults;
}

std::vector<std::string> liquidFaults(PristineLevel::Data const& level) {
    std::vector<std::string> faults;
    float const reach = 2048.0f * 2.0f * level.metaData.particleRadius;
    for (std::size_t i = 0; i < level.particleLiquids.size(); ++i) {
        PristineLevel::ParticleLiquid const& liquid = level.particleLiquids[i];
        b2PolygonShape const shape = createPolygonShape(liquid.shapes, 0);
        b2Transform const xf(b2Vec2(liquid.position.x, liquid.position.y), b2Rot(liquid.angle));
        for (int32 v = 0; v < shape.m_count; ++v) {
            b2Vec2 const p = b2Mul(xf, shape.m_vertices[v]);
            if (!(std::abs(p.x) < reach && std::abs(p.y) < reach)) {
                faults.push_back("particle liquid " + std::to_string(i) + " reaches beyond " + std::to_string(reach) +
                                 " m of the origin, where its particles miss their neighbours");
                break;
            }
        }
    }
    return faults;
}

std::vector<std::string> reachFaults(PristineLevel::Data const& level) {
    std::vector<std::string> faults;
    std::vector<DecodedFixture> const solids = decodeAll(level.staticShapes);
    std::vector<DecodedFixture> const sensors = decodeAll(level.signalShapes);
    if (level.checkPoints.empty()) faults.push_back("no check point: the level has no start");
    for (CheckPoint const& point : level.checkPoints) {
        // The player starts and respawns resting on the ground: within a little of the inner
        // circle's radius above it.
        glm::vec2 const at = point.respawnPosition;
        if (!groundBelow(solids, at, 0.6f)) {
            char line[120];
            std::snprintf(line, sizeof line, "check point %u at (%g, %g) has no ground the player stands on below it",
                          point.index, at.x, at.y);
            faults.push_back(line);
        }
    }
    for (CheckPoint const& point : level.checkPoints) {
        if (point.index == 0 || point.reachSignal == 0) continue;
        bool reachable = false;
        for (DecodedFixture const& d : sensors) {
            bool const touched = touchesPlayer(d.settings.filter, playerInnerMask) ||
                                 touchesPlayer(d.settings.filter, playerOuterMask);
            if (touched && d.settings.userDataIndex != FixtureSettings::noUserData &&
                raisesForPlayer(level.fixtureSignals, d.settings.userDataIndex, point.reachSignal)) {
                reachable = true;
                break;
            }
        }
        if (!reachable) {
            faults.push_back("check point " + std::to_string(point.index) +
                             ": no sensor the player can touch raises its signal");
        }
    }
    bool goal = false;
    for (DecodedFixture const& d : sensors) {
        if ((d.settings.filter.categoryBits & goalCategory) == 0 || !touchesPlayer(d.settings.filter, playerOuterMask)) {
            continue;
        }
        goal = true;
        // A check point past the goal, seen from the start, respawns the player where the level
        // is already over.
        if (level.checkPoints.empty()) continue;
        b2AABB box;
        b2Transform identity;
        identity.SetIdentity();
        d.shape->ComputeAABB(&box, identity, 0);
        float const start = level.checkPoints.front().respawnPosition.x;
        for (CheckPoint const& point : level.checkPoints) {
            float const x = point.respawnPosition.x;
            bool const beyond = start < box.lowerBound.x ? x > box.upperBound.x
                                                          : start > box.upperBound.x && x < box.lowerBound.x;
            if (beyond) {
                char line[120];
                std::snprintf(line, sizeof line, "check point %u at (%g, %g) lies beyond the goal", point.index, x,
                              point.respawnPosition.y);
                faults.push_back(line);
            }
        }
    }
    // Or the level ends with the camera's closing shot: a sensor the player touches starts it,
    // directly or through filters and delays.
    std::set<uint32_t> starts{closingShotSignal};
    for (size_t grown = 0; grown != starts.size();) {
        grown = starts.size();
        for (auto const& f : level.signalFilters)
            if (starts.count(f.output)) starts.insert(f.input);
        for (auto const& d : level.delayedSignals)
            if (starts.count(d.target)) starts.insert(d.signal);
    }
    for (DecodedFixture const& d : sensors) {
        bool const touched = touchesPlayer(d.settings.filter, playerInnerMask) ||
                             touchesPlayer(d.settings.filter, playerOuterMask);
        if (!touched || d.settings.userDataIndex == FixtureSettings::noUserData) continue;
        for (uint32_t signal : starts)
            goal = goal || raisesForPlayer(level.fixtureSignals, d.settings.userDataIndex, signal);
    }
    // A time-attack level ends with its race, not at a goal.
    if (!goal && level.metaData.mode != GameMode::TimeAttack) faults.push_back("no goal the player can touch");
    return faults;
}

void LevelBuilder::goal(glm::vec2 centre, glm::vec2 halfSize) {
    Fixture f = sensorFixture();
    f.category = goalCategory;
    data_.signalShapes.push_back(boxShape(centre, halfSize, f));
    quad(centre, halfSize, goalColour, "art/colors/white.png");
}

void LevelBuilder::deadlyFloor(float left, float right, float y) {
    Fixture f = sensorFixture();
    f.category = deadlyCategory;
    f.mask = playerCategory;  // nothing else, liquids included, reacts to it
    data_.signalShapes.push_back(boxShape({(left + right) * 0.5f, y - 1.0f}, {(right - left) * 0.5f, 1.0f}, f));
}

namespace {

template <class T>
uint32_t append(std::vector<T>& list, T record) {
    list.push_back(std::move(record));
    return static_cast<uint32_t>(list.size() - 1);
}

}  // namespace

uint32_t LevelBuilder::dynamicBody(glm::vec2 at, PackedShape shape, int32_t type) {
    PristineLevel::DynamicBody body;
    body.bodyDef.type = type;
    body.bodyDef.position = at;
    body.shapes.push_back(std::move(shape));
    return append(data_.dynamicBodies, std::move(body));
}

uint32_t LevelBuilder::boxBody(glm::vec2 at, glm::vec2 halfSize, int32_t type) {
    Fixture f;
    f.density = 1.0f;
    uint32_t const index = dynamicBody(at, boxShape(glm::vec2(0.0f), halfSize, f), type);
    uint32_t const drawable = quad(glm::vec2(0.0f), halfSize, glm::vec4(0.6f, 0.4f, 0.2f, 1.0f), "art/colors/white.png");
    data_.dynamicBodies[index].drawables.push_back(drawable);
    return index;
}

uint32_t LevelBuilder::joint(PristineLevel::JointVariant def, uint32_t resetSignal) {
    return append(data_.joints, PristineLevel::JointRecord{std::move(def), resetSignal});
}

uint32_t LevelBuilder::delayedSignal(uint32_t input, uint32_t output, float delayMs) {
    return append(data_.delayedSignals, PristineLevel::DelayedSignal{input, output, delayMs});
}

uint32_t LevelBuilder::signalFilter(uint32_t input, uint32_t output, uint32_t reset, int32_t maxCount, float intervalMs) {
    return append(data_.signalFilters, PristineLevel::SignalFilter{input, output, reset, maxCount, intervalMs});
}

uint32_t LevelBuilder::triggerableSound(std::string const& path, uint32_t play, uint32_t stop, int32_t body,
                                        float fadeInMs, float fadeOutMs, bool looping) {
    PristineLevel::TriggerableSound sound;
    sound.playSignal = play;
    sound.stopSignal = stop;
    sound.sound = SoundDescriptor(path, SoundParams(glm::vec3(0.0f), looping ? 3 : 1, 0.8f, 0, 1.25f, 2.0f));
    sound.body = body;
    sound.fadeInTime = fadeInMs;
    sound.fadeOutTime = fadeOutMs;
    return append(data_.triggerableSounds, std::move(sound));
}

uint32_t LevelBuilder::cameraShaker(glm::vec2 centre, uint32_t start, uint32_t stop, float durationMs) {
    PristineLevel::CameraShaker shaker;
    shaker.position = centre;
    shaker.secondaryFactor = 0.5f;
    shaker.amplitude = 0.2f;
    shaker.innerRadius = 5.0f;
    shaker.falloff = 10.0f;
    shaker.duration = durationMs;
    shaker.fadeInTime = 100.0f;
    shaker.fadeOutTime = 200.0f;
    shaker.startSignal = start;
    shaker.stopSignal = stop;
    return append(data_.cameraShakers, shaker);
}

uint32_t LevelBuilder::bodyObserver(int32_t body) {
    PristineLevel::BodyObserver observer;
    observer.body = body;
    observer.impulseThreshold = 1.0f;
    observer.speedThreshold = 0.5f;
    return append(data_.bodyObservers, observer);
}

uint32_t LevelBuilder::fluid(glm::vec2 centre, glm::vec2 halfSize) {
    PristineLevel::Fluid water;
    // Buoyancy is the fixture's density times the covered area.
    Fixture f = sensorFixture();
    f.density = 1.0f;
    water.shapes.push_back(boxShape(centre, halfSize, f));
    water.dragCoefficient = 2.0f;
    water.liftCoefficient = 0.5f;
    water.maxDrag = 10.0f;
    water.maxLift = 5.0f;
    water.buoyancy = 1.2f;
    // Volumes start still; the level's built signal sets them going.
    water.enableSignal = 1;
    node(PristineLevel::MeshNode::fluidVolume, static_cast<uint32_t>(data_.fluids.size()), centre - halfSize,
         centre + halfSize);
    return append(data_.fluids, std::move(water));
}

uint32_t LevelBuilder::particleLiquid(glm::vec2 centre, glm::vec2 halfSize) {
    PristineLevel::ParticleLiquid liquid;
    liquid.shapes.push_back(boxShape(centre, halfSize, Fixture{}));
    liquid.color = PristineLevel::ParticleColor{200, 160, 40, 255};
    return append(data_.particleLiquids, std::move(liquid));
}

uint32_t LevelBuilder::animatedBody(uint32_t body, PristineLevel::Keyframes path) {
    PristineLevel::AnimatedBody animated;
    animated.body = body;
    animated.path = std::move(path);
    return append(data_.animatedBodies, std::move(animated));
}

uint32_t LevelBuilder::animatedTexture(uint32_t drawable) {
    PristineLevel::AnimatedTexture texture;
    texture.rows = 1;
    texture.columns = 1;
    texture.frameCount = 1;
    texture.framesPerSecond = 10.0f;
    texture.drawable = drawable;
    texture.visible = 1;
    return append(data_.animatedTextures, texture);
}

uint32_t LevelBuilder::animatedMesh(uint32_t drawable) {
    PristineLevel::AnimatedMesh mesh;
    mesh.drawable = drawable;
    mesh.to = 1.0f;
    mesh.rate = 1.0f;
    mesh.repeatCount = 1;
    return append(data_.animatedMeshes, std::move(mesh));
}

uint32_t LevelBuilder::facingMesh(std::vector<uint32_t> drawables, glm::vec3 pivot) {
    return append(data_.drawableGroups, PristineLevel::DrawableGroup{std::move(drawables), pivot});
}

uint32_t LevelBuilder::jumpPad(glm::vec2 centre, glm::vec2 halfSize, glm::vec2 launchImpulse) {
    PristineLevel::JumpPad pad;
    pad.triggerSignal = signal();
    pad.shapes.push_back(boxShape(centre, halfSize, sensorFixture(fixtureSignal(pad.triggerSignal))));
    pad.launchImpulse = launchImpulse;
    pad.body = PristineLevel::staticBodyIndexU;
    return append(data_.jumpPads, std::move(pad));
}

uint32_t LevelBuilder::cameraZone(glm::vec2 centre, glm::vec2 halfSize, glm::vec2 offset) {
    PristineLevel::CameraZone zone;
    Fixture f = sensorFixture();
    f.category = cameraZoneCategory;
    zone.shapes.push_back(boxShape(centre, halfSize, f));
    zone.offset = offset;
    zone.duration = 500.0f;
    return append(data_.cameraZones, std::move(zone));
}

uint32_t LevelBuilder::musicNode(glm::vec2 point, int32_t track, float volume, float fadeInPerSecond,
                                 float fadeOutPerSecond) {
    return append(data_.soundTable.musicPath,
                  PristineLevel::MusicNode{point, track, volume, fadeInPerSecond, fadeOutPerSecond});
}

std::vector<uint8_t> LevelBuilder::pxl() const { return PristineLevel::savePristineLevel(data_); }

}  // namespace levels
