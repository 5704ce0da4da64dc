#pragma once
// Packed shape records of a level turned into Box2D shapes and fixtures.
#include <box2d/b2_collision.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_polygon_shape.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "level/PristineLevelBasics.h"

class b2Body;
class b2Shape;
struct FixtureSignal;

// The fixture fields a packed shape carries besides its shape.
struct FixtureSettings {
    static constexpr std::uint32_t noUserData = 0xFFFFFFFFu;

    float density = 0.0f;
    float friction = 0.2f;
    float restitution = 0.0f;
    b2Filter filter;
    bool isSensor = false;
    std::uint32_t userDataIndex = noUserData;
};

// Record layout: where each field sits in a packed shape.
namespace PackedShapeLayout {
inline constexpr std::size_t headerSize = 31;
inline constexpr std::uint32_t circle = 0;
inline constexpr std::uint32_t edge = 1;
inline constexpr std::uint32_t polygon = 2;
inline constexpr std::uint32_t chain = 3;
}  // namespace PackedShapeLayout

// The shape type stored in a record, or nothing when the record is too short to hold one.
bool packedShapeType(const PackedShape& record, std::uint32_t& type);

// Decodes record `index` into `shape`, which must be a default-constructed shape of the record's
// type, and its fixture fields into `settings`. Checks every count against the record's length
// and everything Box2D would abort on (vertex counts, degenerate or non-finite geometry); false,
// with a log line naming the reason, when the record cannot be used.
bool decodePackedShape(const std::vector<PackedShape>& shapes, std::size_t index, b2Shape& shape,
                       FixtureSettings& settings);

// One fixture on `body` per usable record, in list order. Types above 3 are skipped silently;
// damaged records, and records whose user-data index is outside the list, with a log line.
// Chain fixtures collide from both sides (see TwoSidedChainContact).
//
// With the level's fixture signal list, a record's user-data index makes the fixture's user data
// the address of that list entry; a record without an index gets none.
void createFixtures(const std::vector<PackedShape>& shapes, b2Body* body, std::vector<FixtureSignal>* signals);
// The object that owns a list's fixtures. Named explicitly so that a pointer into the signal
// list (`signals.data()`) cannot quietly pass for an owner.
struct FixtureOwner {
    template <class T>
    explicit FixtureOwner(T* object) : pointer(object) {}
    void* pointer;
};
// With an owning object (a camera zone, a fluid volume), every fixture's user data is the owner;
// such records carry no index, and one that does is skipped.
void createFixtures(const std::vector<PackedShape>& shapes, b2Body* body, FixtureOwner owner);
// No list and no owner: every fixture's user data is null.
inline void createFixtures(const std::vector<PackedShape>& shapes, b2Body* body, std::nullptr_t) {
    createFixtures(shapes, body, FixtureOwner(static_cast<void*>(nullptr)));
}

// The polygon stored at `index`, its fixture fields dropped; an empty polygon (no vertices) when
// the record there is not a usable polygon.
b2PolygonShape createPolygonShape(const std::vector<PackedShape>& shapes, std::size_t index);

// The segment of a packed edge that collides on one side only (the installed Box2D makes an edge
// with both ghost vertices one-sided: it stops only what lies to the right of its direction).
// Empty for other records, damaged ones, and chains, which collide from both sides.
struct OneSidedSegment {
    b2Vec2 from;
    b2Vec2 to;
    // Whether `p` lies on the side that collides (right of the direction, where the normal points).
    bool faces(b2Vec2 p) const;
};
std::vector<OneSidedSegment> oneSidedSegments(const PackedShape& record);
