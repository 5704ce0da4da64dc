#pragma once
// Level chains stop bodies from either side. The installed Box2D makes every chain one-sided (it
// collides only with what lies right of each segment's direction), which lets a body through a
// chain wound the other way. This contact takes over chain-circle and chain-polygon pairs: it
// turns each child edge to face the other shape's centre, then collides it as Box2D would, ghost
// vertices included, so a chain stays one fixture and stays smooth across its vertices.
#include <box2d/b2_contact.h>

class b2BlockAllocator;

class TwoSidedChainContact : public b2Contact {
public:
    // Registers the contact with Box2D for every world in the process. Idempotent; call before
    // the first chain fixture is created.
    static void install();

    void Evaluate(b2Manifold* manifold, const b2Transform& xfA, const b2Transform& xfB) override;

private:
    TwoSidedChainContact(b2Fixture* fixtureA, int32 indexA, b2Fixture* fixtureB, int32 indexB);

    static b2Contact* create(b2Fixture* fixtureA, int32 indexA, b2Fixture* fixtureB, int32 indexB,
                             b2BlockAllocator* allocator);
    static void destroy(b2Contact* contact, b2BlockAllocator* allocator);
};
