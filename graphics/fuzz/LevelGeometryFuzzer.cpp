// Damaged level archives through everything that turns level geometry into Box2D objects and
// draw-list entries: fixtures, bodies, joints, a few world steps, the draw list and its
// drawables, and the liquid polygons. Nothing may abort, whatever the records hold.
#include <box2d/box2d.h>

#include <cstddef>
#include <cstdint>
#include <exception>

#include "graphics/DrawList.h"
#include "graphics/Drawable.h"
#include "level/Fixtures.h"
#include "level/LevelReader.h"
#include "physics/particles/Box2DAdapter.h"
#include "physics/particles/PhysicsWorld.h"

using namespace PristineLevel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Data level;
    try {
        loadPristineLevelArchive(level, data, size);
    } catch (std::exception const&) {
        // Loaded as far as it read: build from that.
    }

    PhysicsWorld physics(b2Vec2(0.0f, -10.8f));
    b2BodyDef def;
    b2Body* scenery = physics.box2d().CreateBody(&def);
    createFixtures(level.staticShapes, scenery, nullptr);
    b2Body* ground = physics.box2d().CreateBody(&def);
    createFixtures(level.signalShapes, ground, &level.fixtureSignals);
    std::vector<b2Body*> bodies;
    for (DynamicBody const& record : level.dynamicBodies) {
        b2BodyDef const bodyDef = Box2DAdapter::toBodyDef(record.bodyDef);
        b2Body* body = physics.box2d().CreateBody(&bodyDef);
        createFixtures(record.shapes, body, nullptr);
        bodies.push_back(body);
    }
    std::vector<b2Joint*> joints;
    for (JointRecord const& record : level.joints) {
        joints.push_back(Box2DAdapter::createJoint(physics.box2d(), record.def, ground, bodies, joints));
    }
    for (CameraZone const& zone : level.cameraZones) {
        createFixtures(zone.shapes, ground, FixtureOwner(const_cast<CameraZone*>(&zone)));
    }
    for (ParticleLiquid const& liquid : level.particleLiquids) {
        b2PolygonShape const polygon = createPolygonShape(liquid.shapes, 0);
        (void)polygon;
    }
    for (int i = 0; i < 5; ++i) {
        physics.Step(1.0f / 60.0f, 6, 4);
    }

    DrawList list(nullptr, level.meshSet, nullptr, nullptr);
    DrawList::View view;
    view.normals = {btVector3(1, 0, 0), btVector3(-1, 0, 0), btVector3(0, 1, 0), btVector3(0, -1, 0)};
    view.offsets = {50, 50, 50, 50};
    list.updateGL(view);
    std::vector<Drawable> drawables = Drawable::createDrawables(level.meshSet, &list, level.levelInfo.cameraDrawables);
    for (Drawable& d : drawables) {
        d.setTransform(glm::mat4(1.0f));
        d.updateBounds();
        d.hide();
    }
    list.updateGL(view);
    return 0;
}
