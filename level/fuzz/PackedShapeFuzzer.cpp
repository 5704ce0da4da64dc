// Feeds damaged packed shape records to the fixture builder. Input: records, each a 16-bit
// little-endian length followed by that many bytes. Every record becomes a fixture or is skipped;
// the world then steps so that whatever was built also collides.
#include <box2d/box2d.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "level/Fixtures.h"
#include "level/LevelObjects.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<PackedShape> shapes;
    std::size_t at = 0;
    while (at + 2 <= size && shapes.size() < 64) {
        std::size_t const length = std::size_t(data[at]) | std::size_t(data[at + 1]) << 8;
        at += 2;
        std::size_t const take = length < size - at ? length : size - at;
        shapes.emplace_back(data + at, data + at + take);
        at += take;
    }

    b2World world(b2Vec2(0.0f, -10.0f));
    b2BodyDef def;
    b2Body* ground = world.CreateBody(&def);
    def.type = b2_dynamicBody;
    def.position.Set(0.0f, 2.0f);
    b2Body* moving = world.CreateBody(&def);

    std::vector<FixtureSignal> signals(4);
    createFixtures(shapes, ground, &signals);
    createFixtures(shapes, moving, nullptr);
    for (int i = 0; i < 10; ++i) {
        world.Step(1.0f / 60.0f, 6, 4);
    }
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        b2PolygonShape const polygon = createPolygonShape(shapes, i);
        (void)polygon;
    }
    return 0;
}
