#pragma once
// Turns the physics step's contacts into level signals through the fixtures' signal chains,
// records water contacts, lets the player's outer circle detect without pushing, hands solved
// impulses to the body observers, and queues the goal so that the level ends after the step.
#include <box2d/b2_world_callbacks.h>

#include <functional>
#include <vector>

#include "level/LevelObjects.h"
#include "world/BodyObserver.h"
#include "world/CulledVector.h"

class EventHandler;
class Fluids;
namespace Player {
class Player;
}

inline constexpr uint32_t endOfLevelSignal = 20000000;

class ContactListener : public b2ContactListener {
public:
    ContactListener(Player::Player* player, Fluids& fluids, EventHandler* events,
                    std::vector<FixtureSignal> const& signals, CulledVector<BodyObserver, BodyObserver*>& observers);

    void BeginContact(b2Contact* contact) override;
    void EndContact(b2Contact* contact) override;
    void PreSolve(b2Contact* contact, b2Manifold const* oldManifold) override;
    void PostSolve(b2Contact* contact, b2ContactImpulse const* impulse) override;

    // The callbacks queued during the step: begins with true, then ends with false.
    void replayQueued();

    // The first record of `fixture`'s chain that matches `other`: by filter group when the
    // record's group is at least 1, else by a shared category bit. Null when the fixture has no
    // chain or nothing matches; a next index outside the table ends the chain, and the walk
    // takes at most as many steps as the table has records, so a cycle cannot hang the step.
    FixtureSignal const* firstMatch(b2Fixture const* fixture, b2Fixture const* other) const;

private:
    EventHandler* events_;
    std::function<void(bool)> goalCallback_;
    std::vector<std::function<void(bool)>*> beginQueue_;
    std::vector<std::function<void(bool)>*> endQueue_;
    std::vector<FixtureSignal> const* signals_;
    Fluids* fluids_;
    CulledVector<BodyObserver, BodyObserver*>* observers_;
};
