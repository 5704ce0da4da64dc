#include "level/TwoSidedChainContact.h"

#include <box2d/b2_block_allocator.h>
#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_polygon_shape.h>

#include <mutex>
#include <new>
#include <utility>

TwoSidedChainContact::TwoSidedChainContact(b2Fixture* fixtureA, int32 indexA, b2Fixture* fixtureB, int32 indexB)
    : b2Contact(fixtureA, indexA, fixtureB, indexB) {}

void TwoSidedChainContact::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!s_initialized) {
            InitializeRegisters();
            s_initialized = true;
        }
        AddType(&TwoSidedChainContact::create, &TwoSidedChainContact::destroy, b2Shape::e_chain, b2Shape::e_circle);
        AddType(&TwoSidedChainContact::create, &TwoSidedChainContact::destroy, b2Shape::e_chain, b2Shape::e_polygon);
    });
}

b2Contact* TwoSidedChainContact::create(b2Fixture* fixtureA, int32 indexA, b2Fixture* fixtureB, int32 indexB,
                                        b2BlockAllocator* allocator) {
    void* memory = allocator->Allocate(sizeof(TwoSidedChainContact));
    return new (memory) TwoSidedChainContact(fixtureA, indexA, fixtureB, indexB);
}

void TwoSidedChainContact::destroy(b2Contact* contact, b2BlockAllocator* allocator) {
    static_cast<TwoSidedChainContact*>(contact)->~TwoSidedChainContact();
    allocator->Free(contact, sizeof(TwoSidedChainContact));
}

void TwoSidedChainContact::Evaluate(b2Manifold* manifold, const b2Transform& xfA, const b2Transform& xfB) {
    auto const* chain = static_cast<const b2ChainShape*>(m_fixtureA->GetShape());
    b2Shape const* other = m_fixtureB->GetShape();
    b2EdgeShape edge;
    chain->GetChildEdge(&edge, m_indexA);

    b2Vec2 const localCentre = other->GetType() == b2Shape::e_circle
                                   ? static_cast<const b2CircleShape*>(other)->m_p
                                   : static_cast<const b2PolygonShape*>(other)->m_centroid;
    b2Vec2 const centre = b2MulT(xfA, b2Mul(xfB, localCentre));
    // Box2D's edge faces right of v1 -> v2. With the other shape's centre on the left, walk the
    // edge the other way; the ghost vertices swap with it, so smoothing still works.
    if (b2Cross(edge.m_vertex2 - edge.m_vertex1, centre - edge.m_vertex1) > 0.0f) {
        std::swap(edge.m_vertex1, edge.m_vertex2);
        std::swap(edge.m_vertex0, edge.m_vertex3);
    }
    if (other->GetType() == b2Shape::e_circle) {
        b2CollideEdgeAndCircle(manifold, &edge, xfA, static_cast<const b2CircleShape*>(other), xfB);
    } else {
        b2CollideEdgeAndPolygon(manifold, &edge, xfA, static_cast<const b2PolygonShape*>(other), xfB);
    }
}
