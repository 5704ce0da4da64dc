#pragma once
// Everything that differs between the Box2D the levels were authored for and the one installed:
// joint definitions with frequency and damping ratio, the rope joint, body activity and user data.
// Nothing read from a level reaches Box2D without passing the checks here, because the installed
// library aborts the process on a failed assertion.
#include <box2d/b2_body.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_joint.h>

#include <cstdint>
#include <vector>

#include "level/JointDefinitions.h"
#include "level/PristineLevelBasics.h"

class b2World;

namespace Box2DAdapter {

// User data is a struct holding an integer here; these keep the callers' pointers and numbers.
inline void setUserData(b2Fixture& fixture, const void* p) {
    fixture.GetUserData().pointer = reinterpret_cast<std::uintptr_t>(p);
}
inline void setUserData(b2Body& body, std::uintptr_t value) { body.GetUserData().pointer = value; }
// A fixture tagged with a small number (the player's outer circle) rather than an address.
inline void setUserDataValue(b2Fixture& fixture, std::uintptr_t value) { fixture.GetUserData().pointer = value; }
inline std::uintptr_t userDataValue(const b2Fixture& fixture) {
    return const_cast<b2Fixture&>(fixture).GetUserData().pointer;
}
inline void setUserData(b2Joint& joint, const void* p) {
    joint.GetUserData().pointer = reinterpret_cast<std::uintptr_t>(p);
}
template <class T>
T* userDataPointer(const b2Fixture& fixture) {
    return reinterpret_cast<T*>(const_cast<b2Fixture&>(fixture).GetUserData().pointer);
}
inline std::uintptr_t userDataValue(const b2Body& body) { return const_cast<b2Body&>(body).GetUserData().pointer; }

// A body that takes no part in the simulation was "inactive"; the installed Box2D says "disabled".
inline void setActive(b2Body& body, bool active) { body.SetEnabled(active); }
inline bool isActive(const b2Body& body) { return body.IsEnabled(); }

// The level's body definition in the installed form. Values Box2D would abort on or lose the
// body to (non-finite or huge numbers, negative damping, an unknown body type) are replaced by
// the defaults with a log line.
b2BodyDef toBodyDef(const PristineLevel::BodyDef& def);

// Creates one level joint. Body slots resolve through `bodies` (index -1 is `ground`), a gear
// joint's joint slots through `created`, the joints made so far for the earlier entries (null
// where one was refused). Returns null, with a log line, for bad indices, two slots naming one
// body, a gear joint not between revolute or prismatic joints, and non-finite or out-of-range
// values; lower limits above upper ones are swapped. A rope joint becomes a distance joint that
// only holds the bodies within its length.
b2Joint* createJoint(b2World& world, const PristineLevel::JointVariant& def, b2Body* ground,
                     const std::vector<b2Body*>& bodies, const std::vector<b2Joint*>& created);

}  // namespace Box2DAdapter
