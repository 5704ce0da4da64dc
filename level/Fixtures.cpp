#include "level/Fixtures.h"

#include <box2d/b2_body.h>
#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_world.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "level/LevelObjects.h"
#include "level/TwoSidedChainContact.h"

static_assert(std::endian::native == std::endian::little, "packed shapes are read in place as little-endian");

namespace {

using namespace PackedShapeLayout;

// Bounds-checked reads at fixed offsets of one record.
class RecordReader {
public:
    explicit RecordReader(const PackedShape& bytes) : bytes_(bytes) {}

    bool has(std::size_t offset, std::size_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    template <class T>
    T read(std::size_t offset) const {
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }
    b2Vec2 vec(std::size_t offset) const { return {read<float>(offset), read<float>(offset + 4)}; }

private:
    const PackedShape& bytes_;
};

// Level geometry lives well inside this; beyond it Box2D's float sums overflow.
constexpr float kMaxCoordinate = 1.0e6f;

bool finite(b2Vec2 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::fabs(v.x) <= kMaxCoordinate &&
           std::fabs(v.y) <= kMaxCoordinate;
}

// Box2D's chain creation aborts on consecutive vertices closer than this.
bool tooClose(b2Vec2 a, b2Vec2 b) { return !(b2DistanceSquared(a, b) > b2_linearSlop * b2_linearSlop); }

bool reject(std::size_t index, const char* why) {
    std::fprintf(stderr, "Fixtures: skipping shape %zu: %s\n", index, why);
    return false;
}

bool decodeCircle(const RecordReader& r, std::size_t index, b2CircleShape& circle) {
    if (!r.has(headerSize, 8)) {
        return reject(index, "circle record too short");
    }
    b2Vec2 const centre = r.vec(headerSize);
    if (!finite(centre)) {
        return reject(index, "circle centre is not a number");
    }
    circle.m_p = centre;
    return true;
}

bool decodeEdge(const RecordReader& r, std::size_t index, b2EdgeShape& edge) {
    if (!r.has(headerSize, 34)) {
        return reject(index, "edge record too short");
    }
    b2Vec2 const v1 = r.vec(31);
    b2Vec2 const v2 = r.vec(39);
    b2Vec2 const v0 = r.vec(47);
    b2Vec2 const v3 = r.vec(55);
    bool const hasVertex0 = r.read<std::uint8_t>(63) != 0;
    bool const hasVertex3 = r.read<std::uint8_t>(64) != 0;
    if (!finite(v1) || !finite(v2)) {
        return reject(index, "edge vertex is not a number");
    }
    if (tooClose(v1, v2)) {
        return reject(index, "edge has no length");
    }
    // With both ghost vertices the edge is part of a smooth surface, which this Box2D makes
    // one-sided; with one or none it stays a plain two-sided edge.
    if (hasVertex0 && hasVertex3) {
        if (!finite(v0) || !finite(v3)) {
            return reject(index, "edge ghost vertex is not a number");
        }
        edge.SetOneSided(v0, v1, v2, v3);
    } else {
        edge.SetTwoSided(v1, v2);
        edge.m_vertex0 = finite(v0) ? v0 : b2Vec2_zero;
        edge.m_vertex3 = finite(v3) ? v3 : b2Vec2_zero;
    }
    return true;
}

bool decodePolygon(const RecordReader& r, std::size_t index, b2PolygonShape& polygon) {
    if (!r.has(headerSize, 12)) {
        return reject(index, "polygon record too short");
    }
    b2Vec2 const centroid = r.vec(31);
    std::int32_t const n = r.read<std::int32_t>(39);
    if (n < 3 || n > b2_maxPolygonVertices) {
        return reject(index, "polygon vertex count outside 3 to 8");
    }
    if (!r.has(43, std::size_t(n) * 16)) {
        return reject(index, "polygon record shorter than its vertex count");
    }
    b2Vec2 vertices[b2_maxPolygonVertices];
    b2Vec2 normals[b2_maxPolygonVertices];
    for (std::int32_t i = 0; i < n; ++i) {
        vertices[i] = r.vec(43 + 8 * std::size_t(i));
        normals[i] = r.vec(43 + 8 * std::size_t(n) + 8 * std::size_t(i));
        if (!finite(vertices[i]) || !finite(normals[i])) {
            return reject(index, "polygon vertex or normal is not a number");
        }
    }
    if (!finite(centroid)) {
        return reject(index, "polygon centroid is not a number");
    }
    // Box2D's mass computation aborts on a polygon without positive area (degenerate or wound
    // clockwise); measure it the same way, from the first vertex.
    float area = 0.0f;
    for (std::int32_t i = 1; i + 1 < n; ++i) {
        area += 0.5f * b2Cross(vertices[i] - vertices[0], vertices[i + 1] - vertices[0]);
    }
    if (!(area > b2_epsilon)) {
        return reject(index, "polygon is degenerate or wound clockwise");
    }
    // The stored centroid and normals are used as they stand.
    polygon.m_centroid = centroid;
    polygon.m_count = n;
    for (std::int32_t i = 0; i < n; ++i) {
        polygon.m_vertices[i] = vertices[i];
        polygon.m_normals[i] = normals[i];
    }
    return true;
}

bool decodeChain(const RecordReader& r, std::size_t index, b2ChainShape& chain) {
    if (!r.has(headerSize, 4)) {
        return reject(index, "chain record too short");
    }
    std::int32_t const n = r.read<std::int32_t>(31);
    if (n < 2) {
        return reject(index, "chain with fewer than 2 vertices");
    }
    std::size_t const count = std::size_t(n);
    if (!r.has(35, count * 8 + 18)) {
        return reject(index, "chain record shorter than its vertex count");
    }
    std::vector<b2Vec2> vertices(count);
    for (std::size_t i = 0; i < count; ++i) {
        vertices[i] = r.vec(35 + 8 * i);
        if (!finite(vertices[i])) {
            return reject(index, "chain vertex is not a number");
        }
        if (i > 0 && tooClose(vertices[i - 1], vertices[i])) {
            return reject(index, "chain vertices too close together");
        }
    }
    b2Vec2 prev = r.vec(35 + 8 * count);
    b2Vec2 next = r.vec(43 + 8 * count);
    bool const hasPrev = r.read<std::uint8_t>(51 + 8 * count) != 0;
    bool const hasNext = r.read<std::uint8_t>(52 + 8 * count) != 0;
    // This Box2D always wants ghost vertices; a chain end without one continues straight on.
    if (!hasPrev || !finite(prev)) {
        prev = vertices[0] + (vertices[0] - vertices[1]);
    }
    if (!hasNext || !finite(next)) {
        next = vertices[count - 1] + (vertices[count - 1] - vertices[count - 2]);
    }
    chain.Clear();
    chain.CreateChain(vertices.data(), n, prev, next);
    return true;
}

}  // namespace

bool packedShapeType(const PackedShape& record, std::uint32_t& type) {
    RecordReader const r(record);
    if (!r.has(0, 4)) {
        return false;
    }
    type = r.read<std::uint32_t>(0);
    return true;
}

bool decodePackedShape(const std::vector<PackedShape>& shapes, std::size_t index, b2Shape& shape,
                       FixtureSettings& settings) {
    if (index >= shapes.size()) {
        return reject(index, "no such shape");
    }
    RecordReader const r(shapes[index]);
    if (!r.has(0, headerSize)) {
        return reject(index, "record shorter than its header");
    }
    std::uint32_t const type = r.read<std::uint32_t>(0);
    if (type > chain) {
        return false;
    }
    if (std::uint32_t(shape.GetType()) != type) {
        return reject(index, "shape object does not match the record's type");
    }
    float const radius = r.read<float>(4);
    FixtureSettings s;
    s.density = r.read<float>(8);
    s.filter.categoryBits = r.read<std::uint16_t>(12);
    s.filter.maskBits = r.read<std::uint16_t>(14);
    s.filter.groupIndex = r.read<std::int16_t>(16);
    s.restitution = r.read<float>(18);
    s.friction = r.read<float>(22);
    s.isSensor = r.read<std::uint8_t>(26) != 0;
    s.userDataIndex = r.read<std::uint32_t>(27);
    if (!(radius >= 0.0f) || !(radius <= kMaxCoordinate)) {
        return reject(index, "negative or non-finite radius");
    }
    if (!(s.density >= 0.0f) || !std::isfinite(s.density) || !(s.friction >= 0.0f) || !std::isfinite(s.friction) ||
        !std::isfinite(s.restitution)) {
        return reject(index, "density, friction or restitution out of range");
    }

    bool ok = false;
    switch (type) {
    case circle:
        ok = decodeCircle(r, index, static_cast<b2CircleShape&>(shape));
        break;
    case edge:
        ok = decodeEdge(r, index, static_cast<b2EdgeShape&>(shape));
        break;
    case polygon:
        ok = decodePolygon(r, index, static_cast<b2PolygonShape&>(shape));
        break;
    case chain:
        ok = decodeChain(r, index, static_cast<b2ChainShape&>(shape));
        break;
    }
    if (!ok) {
        return false;
    }
    shape.m_radius = radius;
    settings = s;
    return true;
}

namespace {

// Box2D aborts when a dynamic body's rotational inertia about its centre of mass comes out not
// positive, which float cancellation produces for a small shape far from the body's origin.
// Sums the body's mass the way Box2D does and refuses a shape that leaves too little inertia.
bool keepsRotationalInertia(const b2Body* body, const b2Shape& shape, float density) {
    if (body->GetType() != b2_dynamicBody || density == 0.0f || body->IsFixedRotation()) {
        return true;
    }
    b2MassData added;
    shape.ComputeMass(&added, density);
    float mass = added.mass;
    b2Vec2 centre = added.mass * added.center;
    float inertia = added.I;
    for (const b2Fixture* f = body->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        if (f->GetDensity() == 0.0f) {
            continue;
        }
        b2MassData md;
        f->GetMassData(&md);
        mass += md.mass;
        centre += md.mass * md.center;
        inertia += md.I;
    }
    if (!(mass > 0.0f) || !(inertia > 0.0f)) {
        return std::isfinite(mass) && std::isfinite(inertia);
    }
    centre *= 1.0f / mass;
    float const central = inertia - mass * b2Dot(centre, centre);
    return central > inertia * 1.0e-6f;
}

// Decodes into a fresh shape of the record's type and creates the fixture from it.
template <class Shape>
b2Fixture* makeFixture(const std::vector<PackedShape>& shapes, std::size_t index, b2Body* body,
                       FixtureSettings& settings) {
    Shape shape;
    if (!decodePackedShape(shapes, index, shape, settings)) {
        return nullptr;
    }
    if (!keepsRotationalInertia(body, shape, settings.density)) {
        reject(index, "shape too small for its distance from the body's origin");
        return nullptr;
    }
    b2Fixture* fixture = body->CreateFixture(&shape, settings.density);
    if (fixture != nullptr && fixture->GetShape()->m_radius != shape.m_radius) {
        // Box2D's chain copy drops the radius: put it back and refresh the broad-phase boxes.
        fixture->GetShape()->m_radius = shape.m_radius;
        body->SetTransform(body->GetPosition(), body->GetAngle());
    }
    return fixture;
}

}  // namespace

namespace {

// Shared by both entry points: `signals` indexes the records' user data, `none` is what a record
// without an index gets.
void createFixturesOn(const std::vector<PackedShape>& shapes, b2Body* body, std::vector<FixtureSignal>* signals,
                      void* none) {
    if (body == nullptr || body->GetWorld()->IsLocked()) {
        std::fprintf(stderr, "Fixtures: no body, or its world is inside a step; %zu shapes not created\n",
                     shapes.size());
        return;
    }
    TwoSidedChainContact::install();
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        std::uint32_t type = 0;
        if (!packedShapeType(shapes[i], type)) {
            reject(i, "record shorter than its type");
            continue;
        }
        if (type > chain) {
            continue;
        }
        // Check the user data before anything reaches the body.
        RecordReader const r(shapes[i]);
        if (r.has(27, 4)) {
            std::uint32_t const userIndex = r.read<std::uint32_t>(27);
            if (userIndex != FixtureSettings::noUserData && (signals == nullptr || userIndex >= signals->size())) {
                reject(i, "user-data index outside the fixture signal list");
                continue;
            }
        }
        FixtureSettings settings;
        b2Fixture* fixture = nullptr;
        switch (type) {
        case circle:
            fixture = makeFixture<b2CircleShape>(shapes, i, body, settings);
            break;
        case edge:
            fixture = makeFixture<b2EdgeShape>(shapes, i, body, settings);
            break;
        case polygon:
            fixture = makeFixture<b2PolygonShape>(shapes, i, body, settings);
            break;
        case chain:
            fixture = makeFixture<b2ChainShape>(shapes, i, body, settings);
            break;
        }
        if (fixture == nullptr) {
            continue;
        }
        fixture->SetRestitution(settings.restitution);
        fixture->SetFriction(settings.friction);
        fixture->SetFilterData(settings.filter);
        void* const userData = settings.userDataIndex == FixtureSettings::noUserData
                                   ? none
                                   : static_cast<void*>(&(*signals)[settings.userDataIndex]);
        fixture->GetUserData().pointer = reinterpret_cast<std::uintptr_t>(userData);
        fixture->SetSensor(settings.isSensor);
    }
}

}  // namespace

void createFixtures(const std::vector<PackedShape>& shapes, b2Body* body, std::vector<FixtureSignal>* signals) {
    // A signal fixture without an entry holds nothing: the list's own address would be read as
    // an entry by the contact handling.
    createFixturesOn(shapes, body, signals, nullptr);
}

void createFixtures(const std::vector<PackedShape>& shapes, b2Body* body, FixtureOwner owner) {
    createFixturesOn(shapes, body, nullptr, owner.pointer);
}

b2PolygonShape createPolygonShape(const std::vector<PackedShape>& shapes, std::size_t index) {
    b2PolygonShape shape;
    FixtureSettings ignored;
    std::uint32_t type = 0;
    if (index >= shapes.size() || !packedShapeType(shapes[index], type) || type != polygon) {
        std::fprintf(stderr, "Fixtures: shape %zu is not a polygon\n", index);
        return shape;
    }
    if (!decodePackedShape(shapes, index, shape, ignored)) {
        return b2PolygonShape();
    }
    return shape;
}

bool OneSidedSegment::faces(b2Vec2 p) const {
    b2Vec2 const e = to - from;
    b2Vec2 const normal(e.y, -e.x);
    return b2Dot(normal, p - from) > 0.0f;
}

std::vector<OneSidedSegment> oneSidedSegments(const PackedShape& record) {
    std::vector<OneSidedSegment> segments;
    std::uint32_t type = 0;
    if (!packedShapeType(record, type)) {
        return segments;
    }
    std::vector<PackedShape> const one{record};
    if (type == edge) {
        b2EdgeShape e;
        FixtureSettings s;
        if (decodePackedShape(one, 0, e, s) && e.m_oneSided) {
            segments.push_back({e.m_vertex1, e.m_vertex2});
        }
    }
    return segments;
}
