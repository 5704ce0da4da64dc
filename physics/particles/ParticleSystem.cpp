#include "physics/particles/ParticleSystem.h"

#include <box2d/b2_body.h>
#include <box2d/b2_broad_phase.h>
#include <box2d/b2_contact_manager.h>
#include <box2d/b2_chain_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_shape.h>
#include <box2d/b2_world.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "physics/particles/ComputeDistance.h"
#include "physics/particles/VoronoiDiagram.h"

namespace {

constexpr float linearSlop = 0.005f;
constexpr float minPowderWeight = 0.25f;
constexpr float maxPressureWeight = 5.0f;
constexpr float minPressureWeight = 1.0f;
constexpr float minSurfaceWeight = 0.8f;  // below it a particle lies on its group's surface
// Tags keep 12 bits of row and 20 of column; beyond this many diameters from the origin they fold.
constexpr float tagReach = 2048.0f;
constexpr std::uint32_t rightTagStep = 0x100;
constexpr std::uint32_t bottomLeftTagStep = 0xFFF00;
constexpr std::uint32_t bottomRightTagStep = 0x100100;
// The most lattice points one group may test; more is a damaged record, not a liquid.
constexpr float maxLatticeCells = 1.0e7f;

float fastInverseSqrt(float x) {
    float const half = 0.5f * x;
    std::int32_t const bits = 0x5F3759DF - (std::bit_cast<std::int32_t>(x) >> 1);
    float y = std::bit_cast<float>(bits);
    return y * (1.5f - half * y * y);
}

// Float to u32, truncating toward zero and saturating at both ends; NaN gives 0.
std::uint32_t saturatingU32(float v) {
    if (!(v > 0.0f)) {
        return 0;
    }
    if (v >= 4294967296.0f) {
        return 0xFFFFFFFFu;
    }
    return std::uint32_t(v);
}

// Grows an append-only buffer to 256 entries, then by doubling.
template <class T>
void append(std::vector<T>& buffer, T const& item) {
    if (buffer.size() == buffer.capacity()) {
        buffer.reserve(buffer.capacity() == 0 ? 256 : 2 * buffer.capacity());
    }
    buffer.push_back(item);
}

template <class T>
void resizeExactly(std::vector<T>& buffer, std::size_t size, T const& fill) {
    if (size > buffer.capacity()) {
        std::vector<T> grown;
        grown.reserve(size);
        grown.assign(buffer.begin(), buffer.end());
        buffer.swap(grown);
    }
    buffer.resize(size, fill);
}

template <class T, class Remap>
void removeIf(std::vector<T>& buffer, Remap&& remapAndDrop) {
    buffer.erase(std::remove_if(buffer.begin(), buffer.end(), remapAndDrop), buffer.end());
}

b2Vec2 velocityAt(const b2Body* body, b2Vec2 p) {
    return body->GetLinearVelocity() + b2Cross(body->GetAngularVelocity(), p - body->GetWorldCenter());
}

}  // namespace

// The two fixture passes look at each fixture child once: the broad phase holds one proxy per
// child, and the world's own query would hand a chain's fixture over once for every child near
// the particles, repeating its collisions and contacts that many times.
class ParticleSystem::CollisionCallback {
public:
    CollisionCallback(ParticleSystem* system, const b2BroadPhase* broadPhase, const b2TimeStep& step)
        : system_(system), broadPhase_(broadPhase), step_(step) {}
    bool QueryCallback(int32 proxyId) {
        auto const* proxy = static_cast<const b2FixtureProxy*>(broadPhase_->GetUserData(proxyId));
        system_->collideFixture(proxy->fixture, proxy->childIndex, step_);
        return true;
    }

private:
    ParticleSystem* system_;
    const b2BroadPhase* broadPhase_;
    b2TimeStep step_;
};

class ParticleSystem::BodyContactsCallback {
public:
    BodyContactsCallback(ParticleSystem* system, const b2BroadPhase* broadPhase)
        : system_(system), broadPhase_(broadPhase) {}
    bool QueryCallback(int32 proxyId) {
        auto const* proxy = static_cast<const b2FixtureProxy*>(broadPhase_->GetUserData(proxyId));
        system_->bodyContactsFixture(proxy->fixture, proxy->childIndex);
        return true;
    }

private:
    ParticleSystem* system_;
    const b2BroadPhase* broadPhase_;
};

void ParticleGroup::UpdateStatistics() {
    if (timestamp_ == system_->timestamp_) {
        return;
    }
    float const m = system_->GetParticleMass();
    const b2Vec2* p = system_->position_.data();
    const b2Vec2* v = system_->velocity_.data();
    mass_ = 0.0f;
    center_.SetZero();
    linearVelocity_.SetZero();
    for (std::int32_t i = firstIndex_; i < lastIndex_; ++i) {
        mass_ += m;
        center_ += m * p[i];
        linearVelocity_ += m * v[i];
    }
    if (mass_ > 0.0f) {
        center_ *= 1.0f / mass_;
        linearVelocity_ *= 1.0f / mass_;
    }
    inertia_ = 0.0f;
    angularVelocity_ = 0.0f;
    for (std::int32_t i = firstIndex_; i < lastIndex_; ++i) {
        b2Vec2 const r = p[i] - center_;
        inertia_ += m * b2Dot(r, r);
        angularVelocity_ += m * b2Cross(r, v[i] - linearVelocity_);
    }
    if (inertia_ > 0.0f) {
        angularVelocity_ *= 1.0f / inertia_;
    } else {
        angularVelocity_ = 0.0f;
    }
    timestamp_ = system_->timestamp_;
}

ParticleSystem::ParticleSystem(b2World* world, const BodyTransformHistory* history)
    : world_(world), history_(history) {}

ParticleSystem::~ParticleSystem() {
    while (groupList_ != nullptr) {
        ParticleGroup* next = groupList_->next_;
        delete groupList_;
        groupList_ = next;
    }
}

void ParticleSystem::SetDensity(float density) {
    density_ = density;
    inverseDensity_ = 1.0f / density;
}

void ParticleSystem::SetRadius(float radius) {
    particleDiameter_ = 2.0f * radius;
    squaredDiameter_ = particleDiameter_ * particleDiameter_;
    inverseDiameter_ = 1.0f / particleDiameter_;
}

float ParticleSystem::GetParticleMass() const {
    float const stride = GetParticleStride();
    return density_ * stride * stride;
}

float ParticleSystem::GetParticleInvMass() const { return 1.777777f * inverseDensity_ * inverseDiameter_ * inverseDiameter_; }

std::uint32_t ParticleSystem::ComputeTag(float x, float y) const {
    std::uint32_t const column = saturatingU32(x * inverseDiameter_ * 256.0f + 524288.0f);
    std::uint32_t const row = saturatingU32(y * inverseDiameter_ + tagReach);
    return column + (row << 20);
}

void ParticleSystem::growParticleBuffers() {
    // Twice the count, cut to the maximum; never past what an index can hold.
    std::int64_t wanted = count_ == 0 ? 256 : 2 * std::int64_t(count_);
    if (maxCount_ != 0 && maxCount_ < wanted) {
        wanted = maxCount_;
    }
    wanted = std::min<std::int64_t>(wanted, std::int64_t(1) << 30);
    if (wanted <= capacity_) {
        return;
    }
    auto const n = std::size_t(wanted);
    resizeExactly(flags_, n, 0u);
    resizeExactly(position_, n, b2Vec2(0.0f, 0.0f));
    resizeExactly(velocity_, n, b2Vec2(0.0f, 0.0f));
    resizeExactly(accumulation_, n, 0.0f);
    resizeExactly(group_, n, static_cast<ParticleGroup*>(nullptr));
    if (!accumulation2_.empty()) {
        resizeExactly(accumulation2_, n, b2Vec2(0.0f, 0.0f));
    }
    if (!depth_.empty()) {
        resizeExactly(depth_, n, 0.0f);
    }
    if (!color_.empty()) {
        resizeExactly(color_, n, ParticleColor());
    }
    if (!userData_.empty()) {
        resizeExactly(userData_, n, static_cast<void*>(nullptr));
    }
    capacity_ = std::int32_t(wanted);
}

std::int32_t ParticleSystem::CreateParticle(const ParticleDef& def) {
    if (count_ >= capacity_) {
        growParticleBuffers();
        if (count_ >= capacity_) {
            return -1;
        }
    }
    std::int32_t const index = count_++;
    auto const i = std::size_t(index);
    flags_[i] = def.flags;
    position_[i] = def.position;
    velocity_[i] = def.velocity;
    group_[i] = nullptr;
    if (!depth_.empty()) {
        depth_[i] = 0.0f;
    }
    if (!color_.empty() || !def.color.IsZero()) {
        if (color_.empty()) {
            resizeExactly(color_, std::size_t(capacity_), ParticleColor());
        }
        color_[i] = def.color;
    }
    if (!userData_.empty() || def.userData != nullptr) {
        if (userData_.empty()) {
            resizeExactly(userData_, std::size_t(capacity_), static_cast<void*>(nullptr));
        }
        userData_[i] = def.userData;
    }
    std::uint32_t const tag = ComputeTag(def.position.x, def.position.y);
    proxiesSorted_ = proxiesSorted_ && (proxies_.empty() || proxies_.back().tag <= tag);
    append(proxies_, Proxy{index, tag});
    return index;
}

ParticleGroup* ParticleSystem::CreateParticleGroup(const ParticleGroupDef& def) {
    // Slots of particles already marked for removal count as free, so a group refilled at the
    // maximum count comes back whole instead of empty.
    if (maxCount_ != 0 && count_ > 0 &&
        std::any_of(flags_.begin(), flags_.begin() + count_, [](std::uint32_t f) { return (f & zombieParticle) != 0; })) {
        SolveZombie();
    }
    float const stride = GetParticleStride();
    std::int32_t const firstIndex = count_;
    b2Transform transform;
    transform.SetIdentity();
    if (def.shape != nullptr) {
        transform.Set(def.position, def.angle);
        b2Transform identity;
        identity.SetIdentity();
        b2AABB box;
        def.shape->ComputeAABB(&box, identity, 0);
        for (std::int32_t child = 1; child < def.shape->GetChildCount(); ++child) {
            b2AABB childBox;
            def.shape->ComputeAABB(&childBox, identity, child);
            box.Combine(childBox);
        }
        float const cells = ((box.upperBound.x - box.lowerBound.x) / stride + 1.0f) *
                            ((box.upperBound.y - box.lowerBound.y) / stride + 1.0f);
        if (box.IsValid() && cells < maxLatticeCells) {
            float reach = 0.0f;
            for (b2Vec2 corner : {box.lowerBound, box.upperBound, b2Vec2(box.lowerBound.x, box.upperBound.y),
                                  b2Vec2(box.upperBound.x, box.lowerBound.y)}) {
                b2Vec2 const at = b2Abs(b2Mul(transform, corner));
                reach = b2Max(reach, b2Max(at.x, at.y));
            }
            if (reach * inverseDiameter_ >= tagReach && !loggedFarGroup_) {
                loggedFarGroup_ = true;
                std::fprintf(stderr, "Particles: a group lies beyond %.1f m of the origin, where neighbours are missed\n",
                             double(tagReach * particleDiameter_));
            }
            for (float y = std::floor(box.lowerBound.y / stride) * stride; y < box.upperBound.y; y += stride) {
                for (float x = std::floor(box.lowerBound.x / stride) * stride; x < box.upperBound.x; x += stride) {
                    b2Vec2 const local(x, y);
                    if (!def.shape->TestPoint(identity, local)) {
                        continue;
                    }
                    ParticleDef particle;
                    particle.flags = def.flags;
                    particle.color = def.color;
                    particle.userData = def.userData;
                    particle.position = b2Mul(transform, local);
                    particle.velocity = def.linearVelocity + b2Cross(def.angularVelocity, particle.position - def.position);
                    CreateParticle(particle);
                }
            }
        } else {
            std::fprintf(stderr, "Particles: a group shape too large or damaged to fill; the group is empty\n");
        }
    }
    std::int32_t const lastIndex = count_;

    auto* group = new ParticleGroup();
    group->system_ = this;
    group->firstIndex_ = firstIndex;
    group->lastIndex_ = lastIndex;
    group->groupFlags_ = def.groupFlags;
    group->strength_ = def.strength;
    group->userData_ = def.userData;
    group->transform_ = transform;
    group->destroyAutomatically_ = def.destroyAutomatically;
    group->next_ = groupList_;
    if (groupList_ != nullptr) {
        groupList_->prev_ = group;
    }
    groupList_ = group;
    ++groupCount_;
    for (std::int32_t i = firstIndex; i < lastIndex; ++i) {
        group_[std::size_t(i)] = group;
    }

    UpdateContacts(true);
    if ((def.flags & springParticle) != 0) {
        for (ParticleContact const& contact : contacts_) {
            std::int32_t const a = std::min(contact.indexA, contact.indexB);
            std::int32_t const b = std::max(contact.indexA, contact.indexB);
            if (firstIndex <= a && b < lastIndex) {
                append(pairs_, Pair{a, b, contact.flags, def.strength, b2Distance(position_[std::size_t(a)], position_[std::size_t(b)])});
            }
        }
    }
    if ((def.flags & elasticParticle) != 0) {
        createTriads(firstIndex, lastIndex, def);
    }
    if ((def.groupFlags & solidParticleGroup) != 0) {
        computeDepthForGroup(group);
    }
    return group;
}

void ParticleSystem::createTriads(std::int32_t first, std::int32_t last, const ParticleGroupDef& def) {
    VoronoiDiagram diagram(last - first);
    for (std::int32_t i = first; i < last; ++i) {
        diagram.AddGenerator(position_[std::size_t(i)], i);
    }
    diagram.Generate(GetParticleStride() / 2.0f);
    float const maxSide2 = 4.0f * squaredDiameter_;
    diagram.GetNodes([&](std::int32_t a, std::int32_t b, std::int32_t c) {
        b2Vec2 const pa = position_[std::size_t(a)];
        b2Vec2 const pb = position_[std::size_t(b)];
        b2Vec2 const pc = position_[std::size_t(c)];
        if (b2DistanceSquared(pa, pb) < maxSide2 && b2DistanceSquared(pb, pc) < maxSide2 &&
            b2DistanceSquared(pc, pa) < maxSide2) {
            b2Vec2 const m = 0.33333334f * (pa + pb + pc);
            Triad triad;
            triad.indexA = a;
            triad.indexB = b;
            triad.indexC = c;
            triad.flags = flags_[std::size_t(a)] | flags_[std::size_t(b)] | flags_[std::size_t(c)];
            triad.strength = def.strength;
            triad.pa = pa - m;
            triad.pb = pb - m;
            triad.pc = pc - m;
            append(triads_, triad);
        }
    });
}

void ParticleSystem::computeDepthForGroup(ParticleGroup* group) {
    std::int32_t const first = group->firstIndex_;
    std::int32_t const last = group->lastIndex_;
    auto const counted = [&](ParticleContact const& c) {
        return c.indexA >= first && c.indexA < last && c.indexB >= first && c.indexB < last;
    };
    for (std::int32_t i = first; i < last; ++i) {
        accumulation_[std::size_t(i)] = 0.0f;
    }
    for (ParticleContact const& c : contacts_) {
        if (counted(c)) {
            accumulation_[std::size_t(c.indexA)] += c.weight;
            accumulation_[std::size_t(c.indexB)] += c.weight;
        }
    }
    if (depth_.empty()) {
        resizeExactly(depth_, std::size_t(capacity_), 0.0f);
    }
    for (std::int32_t i = first; i < last; ++i) {
        depth_[std::size_t(i)] = accumulation_[std::size_t(i)] < minSurfaceWeight ? 0.0f : FLT_MAX;
    }
    if (first < last && !contacts_.empty()) {
        for (std::int32_t round = 0; round < last - first; ++round) {
            bool updated = false;
            for (ParticleContact const& c : contacts_) {
                if (!counted(c)) {
                    continue;
                }
                float const r = 1.0f - c.weight;
                float& ap0 = depth_[std::size_t(c.indexA)];
                float& bp0 = depth_[std::size_t(c.indexB)];
                float const ap1 = bp0 + r;
                float const bp1 = ap0 + r;
                if (ap0 > ap1) {
                    ap0 = ap1;
                    updated = true;
                }
                if (bp0 > bp1) {
                    bp0 = bp1;
                    updated = true;
                }
            }
            if (!updated) {
                break;
            }
        }
    }
    for (std::int32_t i = first; i < last; ++i) {
        float& d = depth_[std::size_t(i)];
        d = d < FLT_MAX ? d * particleDiameter_ : 0.0f;
    }
}

bool ParticleSystem::HoldsShape(std::int32_t index) const {
    if (index < 0 || index >= count_) {
        return false;
    }
    ParticleGroup const* group = group_[std::size_t(index)];
    return (flags_[std::size_t(index)] & (elasticParticle | springParticle)) != 0 ||
           (group != nullptr && (group->groupFlags_ & (solidParticleGroup | rigidParticleGroup)) != 0);
}

void ParticleSystem::DestroyParticlesInGroup(ParticleGroup* group, bool callDestructionListener) {
    if (group == nullptr) {
        return;
    }
    std::uint32_t const mark = callDestructionListener ? zombieParticle | destructionListenerParticle : zombieParticle;
    for (std::int32_t i = group->firstIndex_; i < group->lastIndex_ && i < count_; ++i) {
        flags_[std::size_t(i)] |= mark;
    }
}

void ParticleSystem::Solve(const b2TimeStep& step) {
    ++timestamp_;
    if (count_ == 0) {
        return;
    }
    allParticleFlags_ = 0;
    for (std::int32_t i = 0; i < count_; ++i) {
        allParticleFlags_ |= flags_[std::size_t(i)];
    }
    if ((allParticleFlags_ & zombieParticle) != 0) {
        SolveZombie();
    }
    if (count_ == 0) {
        return;
    }
    allGroupFlags_ = 0;
    for (const ParticleGroup* g = groupList_; g != nullptr; g = g->next_) {
        allGroupFlags_ |= g->groupFlags_;
    }
    if (!proxiesSorted_) {
        UpdateContacts(false);  // lone particles added since the last step
    }
    float const critV = particleDiameter_ * step.inv_dt;
    float const critV2 = critV * critV;
    b2Vec2 const gravity = step.dt * gravityScale_ * world_->GetGravity();
    for (std::int32_t i = 0; i < count_; ++i) {
        b2Vec2& v = velocity_[std::size_t(i)];
        v += gravity;
        float const v2 = b2Dot(v, v);
        if (v2 > critV2) {
            v *= std::sqrt(critV2 / v2);
        }
    }
    SolveCollision(step);
    if ((allGroupFlags_ & rigidParticleGroup) != 0) {
        SolveRigid(step);
    }
    if ((allParticleFlags_ & wallParticle) != 0) {
        SolveWall();
    }
    for (std::int32_t i = 0; i < count_; ++i) {
        position_[std::size_t(i)] += step.dt * velocity_[std::size_t(i)];
    }
    UpdateBodyContacts();
    UpdateContacts(false);
    if ((allParticleFlags_ & viscousParticle) != 0) {
        SolveViscous();
    }
    if ((allParticleFlags_ & powderParticle) != 0) {
        SolvePowder(step);
    }
    if ((allParticleFlags_ & tensileParticle) != 0) {
        SolveTensile(step);
    }
    if ((allParticleFlags_ & elasticParticle) != 0) {
        SolveElastic(step);
    }
    if ((allParticleFlags_ & springParticle) != 0) {
        SolveSpring(step);
    }
    if ((allGroupFlags_ & solidParticleGroup) != 0) {
        SolveSolid(step);
    }
    if ((allParticleFlags_ & colorMixingParticle) != 0) {
        SolveColorMixing();
    }
    SolvePressure(step);
    SolveDamping();
}

void ParticleSystem::SolveZombie() {
    resizeExactly(indexMap_, std::size_t(capacity_), 0);
    std::int32_t newCount = 0;
    for (std::int32_t i = 0; i < count_; ++i) {
        auto const si = std::size_t(i);
        std::uint32_t const f = flags_[si];
        if ((f & zombieParticle) != 0) {
            if ((f & destructionListenerParticle) != 0 && destructionListener_ != nullptr) {
                destructionListener_->SayGoodbye(i);
            }
            indexMap_[si] = -1;
            continue;
        }
        indexMap_[si] = newCount;
        if (i != newCount) {
            auto const n = std::size_t(newCount);
            flags_[n] = f;
            position_[n] = position_[si];
            velocity_[n] = velocity_[si];
            group_[n] = group_[si];
            if (!depth_.empty()) {
                depth_[n] = depth_[si];
            }
            if (!color_.empty()) {
                color_[n] = color_[si];
            }
            if (!userData_.empty()) {
                userData_[n] = userData_[si];
            }
        }
        ++newCount;
    }
    std::int32_t const* map = indexMap_.data();
    removeIf(proxies_, [map](Proxy& p) {
        p.index = map[p.index];
        return p.index < 0;
    });
    removeIf(contacts_, [map](ParticleContact& c) {
        c.indexA = map[c.indexA];
        c.indexB = map[c.indexB];
        return c.indexA < 0 || c.indexB < 0;
    });
    removeIf(bodyContacts_, [map](ParticleBodyContact& c) {
        c.index = map[c.index];
        return c.index < 0;
    });
    removeIf(pairs_, [map](Pair& p) {
        p.indexA = map[p.indexA];
        p.indexB = map[p.indexB];
        return p.indexA < 0 || p.indexB < 0;
    });
    removeIf(triads_, [map](Triad& t) {
        t.indexA = map[t.indexA];
        t.indexB = map[t.indexB];
        t.indexC = map[t.indexC];
        return t.indexA < 0 || t.indexB < 0 || t.indexC < 0;
    });
    for (ParticleGroup* g = groupList_; g != nullptr; g = g->next_) {
        std::int32_t first = newCount;
        std::int32_t last = 0;
        for (std::int32_t i = g->firstIndex_; i < g->lastIndex_; ++i) {
            std::int32_t const j = map[i];
            if (j >= 0) {
                first = std::min(first, j);
                last = std::max(last, j + 1);
            }
        }
        if (first < last) {
            g->firstIndex_ = first;
            g->lastIndex_ = last;
        } else {
            g->firstIndex_ = 0;
            g->lastIndex_ = 0;
            if (g->destroyAutomatically_) {
                g->toBeDestroyed_ = true;
            }
        }
    }
    count_ = newCount;
    for (ParticleGroup* g = groupList_; g != nullptr;) {
        ParticleGroup* next = g->next_;
        if (g->toBeDestroyed_) {
            destroyGroup(g);
        }
        g = next;
    }
}

void ParticleSystem::destroyGroup(ParticleGroup* group) {
    if (destructionListener_ != nullptr) {
        destructionListener_->SayGoodbye(group);
    }
    if (group->prev_ != nullptr) {
        group->prev_->next_ = group->next_;
    }
    if (group->next_ != nullptr) {
        group->next_->prev_ = group->prev_;
    }
    if (group == groupList_) {
        groupList_ = group->next_;
    }
    --groupCount_;
    delete group;
}

b2Transform ParticleSystem::previousTransform(const b2Body* body) const {
    return history_ != nullptr ? history_->GetPreviousTransform(body) : body->GetTransform();
}

void ParticleSystem::tagRange(b2Vec2 lower, b2Vec2 upper, const Proxy** first, const Proxy** last) const {
    const Proxy* begin = proxies_.data();
    const Proxy* end = begin + proxies_.size();
    if (!proxiesSorted_) {
        *first = begin;
        *last = end;
        return;
    }
    std::uint32_t const lowerTag = ComputeTag(lower.x, lower.y);
    std::uint32_t const upperTag = ComputeTag(upper.x, upper.y);
    *first = std::lower_bound(begin, end, lowerTag, [](Proxy const& p, std::uint32_t t) { return p.tag < t; });
    *last = std::upper_bound(*first, end, upperTag, [](std::uint32_t t, Proxy const& p) { return t < p.tag; });
}

void ParticleSystem::SolveCollision(const b2TimeStep& step) {
    if (count_ == 0 || world_ == nullptr) {
        return;
    }
    b2AABB box;
    box.lowerBound.Set(b2_maxFloat, b2_maxFloat);
    box.upperBound.Set(-b2_maxFloat, -b2_maxFloat);
    for (std::int32_t i = 0; i < count_; ++i) {
        b2Vec2 const p = position_[std::size_t(i)];
        b2Vec2 const p2 = p + step.dt * velocity_[std::size_t(i)];
        box.lowerBound = b2Min(box.lowerBound, b2Min(p, p2));
        box.upperBound = b2Max(box.upperBound, b2Max(p, p2));
    }
    if (!box.IsValid()) {
        return;
    }
    const b2BroadPhase& broadPhase = world_->GetContactManager().m_broadPhase;
    CollisionCallback callback(this, &broadPhase, step);
    broadPhase.Query(&callback, box);
}

void ParticleSystem::collideFixture(b2Fixture* fixture, std::int32_t child, const b2TimeStep& step) {
    if (fixture->IsSensor() || (fixture->GetFilterData().maskBits & collisionMask_) == 0) {
        return;
    }
    b2Body* body = fixture->GetBody();
    const b2Shape* shape = fixture->GetShape();
    b2Transform const xf = body->GetTransform();
    b2Transform const previous = previousTransform(body);
    float const mass = GetParticleMass();
    b2AABB aabb = fixture->GetAABB(child);
    aabb.lowerBound -= b2Vec2(particleDiameter_, particleDiameter_);
    aabb.upperBound += b2Vec2(particleDiameter_, particleDiameter_);
    // Chain children are tested two-sided: level chains hold liquid on either side.
    b2EdgeShape edge;
    const b2Shape* target = shape;
    std::int32_t targetChild = child;
    if (shape->GetType() == b2Shape::e_chain) {
        static_cast<const b2ChainShape*>(shape)->GetChildEdge(&edge, child);
        edge.m_oneSided = false;
        target = &edge;
        targetChild = 0;
    }
    const Proxy* first = nullptr;
    const Proxy* last = nullptr;
    tagRange(aabb.lowerBound, aabb.upperBound, &first, &last);
    for (const Proxy* proxy = first; proxy < last; ++proxy) {
        std::int32_t const a = proxy->index;
        b2Vec2 const p = position_[std::size_t(a)];
        if (p.x < aabb.lowerBound.x || p.x > aabb.upperBound.x || p.y < aabb.lowerBound.y || p.y > aabb.upperBound.y) {
            continue;
        }
        b2Vec2& v = velocity_[std::size_t(a)];
        b2RayCastInput input;
        input.p1 = b2Mul(xf, b2MulT(previous, p));
        input.p2 = p + step.dt * v;
        input.maxFraction = 1.0f;
        b2RayCastOutput output;
        if (target->RayCast(&output, input, xf, targetChild)) {
            b2Vec2 const n = output.normal;
            b2Vec2 const q = (1.0f - output.fraction) * input.p1 + output.fraction * input.p2 + linearSlop * n;
            b2Vec2 const vNew = step.inv_dt * (q - p);
            b2Vec2 f = mass * (v - vNew);
            f = b2Dot(f, n) * n;
            v = vNew;
            body->ApplyLinearImpulse(f, q, true);
        }
    }
}

void ParticleSystem::SolveRigid(const b2TimeStep& step) {
    for (ParticleGroup* g = groupList_; g != nullptr; g = g->next_) {
        if ((g->groupFlags_ & rigidParticleGroup) == 0) {
            continue;
        }
        g->UpdateStatistics();
        b2Rot const rotation(step.dt * g->angularVelocity_);
        b2Vec2 const center = g->center_;
        b2Vec2 const translation = center + step.dt * g->linearVelocity_ - b2Mul(rotation, center);
        b2Transform const transform(translation, rotation);
        g->transform_ = b2Mul(transform, g->transform_);
        b2Vec2 const vt = step.inv_dt * translation;
        float const vs = step.inv_dt * rotation.s;
        float const vc = step.inv_dt * (rotation.c - 1.0f);
        for (std::int32_t i = g->firstIndex_; i < g->lastIndex_; ++i) {
            b2Vec2 const p = position_[std::size_t(i)];
            velocity_[std::size_t(i)].Set(vc * p.x - vs * p.y + vt.x, vs * p.x + vc * p.y + vt.y);
        }
    }
}

void ParticleSystem::SolveWall() {
    for (std::int32_t i = 0; i < count_; ++i) {
        if ((flags_[std::size_t(i)] & wallParticle) != 0) {
            velocity_[std::size_t(i)].SetZero();
        }
    }
}

void ParticleSystem::UpdateBodyContacts() {
    bodyContacts_.clear();
    if (count_ == 0 || world_ == nullptr) {
        return;
    }
    b2AABB box;
    box.lowerBound.Set(b2_maxFloat, b2_maxFloat);
    box.upperBound.Set(-b2_maxFloat, -b2_maxFloat);
    for (std::int32_t i = 0; i < count_; ++i) {
        box.lowerBound = b2Min(box.lowerBound, position_[std::size_t(i)]);
        box.upperBound = b2Max(box.upperBound, position_[std::size_t(i)]);
    }
    box.lowerBound -= b2Vec2(particleDiameter_, particleDiameter_);
    box.upperBound += b2Vec2(particleDiameter_, particleDiameter_);
    if (!box.IsValid()) {
        return;
    }
    const b2BroadPhase& broadPhase = world_->GetContactManager().m_broadPhase;
    BodyContactsCallback callback(this, &broadPhase);
    broadPhase.Query(&callback, box);
}

void ParticleSystem::bodyContactsFixture(b2Fixture* fixture, std::int32_t child) {
    if (fixture->IsSensor() || (fixture->GetFilterData().maskBits & collisionMask_) == 0) {
        return;
    }
    b2Body* body = fixture->GetBody();
    const b2Shape* shape = fixture->GetShape();
    b2Vec2 const bp = body->GetWorldCenter();
    float const bm = body->GetMass();
    // Box2D gives the inertia about the body origin; the contact mass wants it about the centre.
    float const bI = body->GetInertia() - bm * b2Dot(body->GetLocalCenter(), body->GetLocalCenter());
    float const invBm = bm > 0.0f ? 1.0f / bm : 0.0f;
    float const invBI = bI > 0.0f ? 1.0f / bI : 0.0f;
    float const invParticleMass = GetParticleInvMass();
    b2Transform const xf = body->GetTransform();
    b2AABB aabb = fixture->GetAABB(child);
    aabb.lowerBound -= b2Vec2(particleDiameter_, particleDiameter_);
    aabb.upperBound += b2Vec2(particleDiameter_, particleDiameter_);
    const Proxy* first = nullptr;
    const Proxy* last = nullptr;
    tagRange(aabb.lowerBound, aabb.upperBound, &first, &last);
    for (const Proxy* proxy = first; proxy < last; ++proxy) {
        std::int32_t const a = proxy->index;
        b2Vec2 const p = position_[std::size_t(a)];
        if (p.x < aabb.lowerBound.x || p.x > aabb.upperBound.x || p.y < aabb.lowerBound.y || p.y > aabb.upperBound.y) {
            continue;
        }
        float d = 0.0f;
        b2Vec2 n;
        computeDistance(*shape, xf, p, child, &d, &n);
        if (d < particleDiameter_) {
            float const invAm = (flags_[std::size_t(a)] & wallParticle) != 0 ? 0.0f : invParticleMass;
            float const rpn = b2Cross(p - bp, n);
            // A wall particle against an immovable body has no finite mass: it gets none, so the
            // passes that scale by it push nothing.
            float const sum = invAm + invBm + invBI * rpn * rpn;
            ParticleBodyContact contact;
            contact.index = a;
            contact.body = body;
            contact.weight = 1.0f - d * inverseDiameter_;
            contact.normal = -n;
            contact.mass = sum > 0.0f ? 1.0f / sum : 0.0f;
            append(bodyContacts_, contact);
        }
    }
}

void ParticleSystem::UpdateContacts(bool exceptZombie) {
    for (Proxy& proxy : proxies_) {
        b2Vec2 const p = position_[std::size_t(proxy.index)];
        proxy.tag = ComputeTag(p.x, p.y);
    }
    std::sort(proxies_.begin(), proxies_.end(), [](Proxy const& a, Proxy const& b) { return a.tag < b.tag; });
    proxiesSorted_ = true;
    if (bruteForceContacts_) {
        UpdateContactsBruteForce();
    } else {
        scanContacts();
    }
    if (exceptZombie) {
        removeIf(contacts_, [](ParticleContact const& contact) { return (contact.flags & zombieParticle) != 0; });
    }
}

void ParticleSystem::scanContacts() {
    contacts_.clear();
    const Proxy* const begin = proxies_.data();
    const Proxy* const end = begin + proxies_.size();
    const Proxy* c = begin;
    for (const Proxy* a = begin; a < end; ++a) {
        std::uint32_t const rightTag = a->tag + rightTagStep;
        for (const Proxy* b = a + 1; b < end && b->tag <= rightTag; ++b) {
            addContact(a->index, b->index);
        }
        std::uint32_t const bottomLeftTag = a->tag + bottomLeftTagStep;
        while (c < end && c->tag < bottomLeftTag) {
            ++c;
        }
        // Only proxies after a: where tags wrap at the top rows the window could reach back.
        std::uint32_t const bottomRightTag = a->tag + bottomRightTagStep;
        for (const Proxy* b = std::max(c, a + 1); b < end && b->tag <= bottomRightTag; ++b) {
            addContact(a->index, b->index);
        }
    }
}

void ParticleSystem::addContact(std::int32_t a, std::int32_t b) {
    b2Vec2 const d = position_[std::size_t(b)] - position_[std::size_t(a)];
    float const d2 = b2Dot(d, d);
    if (d2 < squaredDiameter_) {
        float const r = fastInverseSqrt(d2);
        ParticleContact contact;
        contact.indexA = a;
        contact.indexB = b;
        contact.flags = flags_[std::size_t(a)] | flags_[std::size_t(b)];
        contact.weight = 1.0f - d2 * r * inverseDiameter_;
        contact.normal = r * d;
        append(contacts_, contact);
    }
}

void ParticleSystem::UpdateContactsBruteForce() {
    contacts_.clear();
    for (std::int32_t a = 0; a < count_; ++a) {
        for (std::int32_t b = a + 1; b < count_; ++b) {
            addContact(a, b);
        }
    }
}

void ParticleSystem::QueryAABB(ParticleQueryCallback* callback, const b2AABB& aabb) const {
    if (callback == nullptr || proxies_.empty()) {
        return;
    }
    const Proxy* first = nullptr;
    const Proxy* last = nullptr;
    tagRange(aabb.lowerBound, aabb.upperBound, &first, &last);
    for (const Proxy* proxy = first; proxy < last; ++proxy) {
        std::int32_t const i = proxy->index;
        b2Vec2 const p = position_[std::size_t(i)];
        if (aabb.lowerBound.x < p.x && p.x < aabb.upperBound.x && aabb.lowerBound.y < p.y && p.y < aabb.upperBound.y &&
            !callback->ReportParticle(i)) {
            return;
        }
    }
}

void ParticleSystem::SolveViscous() {
    float const k = viscousStrength_;
    float const invMass = GetParticleInvMass();
    for (ParticleBodyContact const& c : bodyContacts_) {
        auto const a = std::size_t(c.index);
        if ((flags_[a] & viscousParticle) != 0) {
            b2Vec2 const p = position_[a];
            b2Vec2 const f = k * c.mass * c.weight * (velocityAt(c.body, p) - velocity_[a]);
            velocity_[a] += invMass * f;
            c.body->ApplyLinearImpulse(-f, p, true);
        }
    }
    for (ParticleContact const& c : contacts_) {
        if ((c.flags & viscousParticle) != 0) {
            auto const a = std::size_t(c.indexA);
            auto const b = std::size_t(c.indexB);
            b2Vec2 const f = k * c.weight * (velocity_[b] - velocity_[a]);
            velocity_[a] += f;
            velocity_[b] -= f;
        }
    }
}

void ParticleSystem::SolvePowder(const b2TimeStep& step) {
    float const k = powderStrength_ * particleDiameter_ * step.inv_dt;
    float const invMass = GetParticleInvMass();
    for (ParticleBodyContact const& c : bodyContacts_) {
        auto const a = std::size_t(c.index);
        if ((flags_[a] & powderParticle) != 0 && c.weight > minPowderWeight) {
            b2Vec2 const f = k * c.mass * (c.weight - minPowderWeight) * c.normal;
            velocity_[a] -= invMass * f;
            c.body->ApplyLinearImpulse(f, position_[a], true);
        }
    }
    for (ParticleContact const& c : contacts_) {
        if ((c.flags & powderParticle) != 0 && c.weight > minPowderWeight) {
            b2Vec2 const f = k * (c.weight - minPowderWeight) * c.normal;
            velocity_[std::size_t(c.indexA)] -= f;
            velocity_[std::size_t(c.indexB)] += f;
        }
    }
}

void ParticleSystem::SolveTensile(const b2TimeStep& step) {
    if (accumulation2_.empty()) {
        resizeExactly(accumulation2_, std::size_t(capacity_), b2Vec2(0.0f, 0.0f));
    }
    for (std::int32_t i = 0; i < count_; ++i) {
        accumulation_[std::size_t(i)] = 0.0f;
        accumulation2_[std::size_t(i)].SetZero();
    }
    for (ParticleContact const& c : contacts_) {
        if ((c.flags & tensileParticle) != 0) {
            auto const a = std::size_t(c.indexA);
            auto const b = std::size_t(c.indexB);
            accumulation_[a] += c.weight;
            accumulation_[b] += c.weight;
            b2Vec2 const w = (1.0f - c.weight) * c.weight * c.normal;
            accumulation2_[a] -= w;
            accumulation2_[b] += w;
        }
    }
    float const critV = particleDiameter_ * step.inv_dt;
    float const kA = surfaceTensionStrengthA_ * critV;
    float const kB = surfaceTensionStrengthB_ * critV;
    for (ParticleContact const& c : contacts_) {
        if ((c.flags & tensileParticle) != 0) {
            auto const a = std::size_t(c.indexA);
            auto const b = std::size_t(c.indexB);
            float const h = accumulation_[a] + accumulation_[b];
            b2Vec2 const s = accumulation2_[b] - accumulation2_[a];
            float const fn = (kA * (h - 2.0f) + kB * b2Dot(s, c.normal)) * c.weight;
            b2Vec2 const f = fn * c.normal;
            velocity_[a] -= f;
            velocity_[b] += f;
        }
    }
}

void ParticleSystem::SolveElastic(const b2TimeStep& step) {
    float const k = step.inv_dt * elasticStrength_;
    for (Triad const& t : triads_) {
        if ((t.flags & elasticParticle) == 0) {
            continue;
        }
        auto const a = std::size_t(t.indexA);
        auto const b = std::size_t(t.indexB);
        auto const c = std::size_t(t.indexC);
        b2Vec2 const pa = position_[a];
        b2Vec2 const pb = position_[b];
        b2Vec2 const pc = position_[c];
        b2Vec2 const m = 0.33333334f * (pa + pb + pc);
        float rs = b2Cross(t.pa, pa) + b2Cross(t.pb, pb) + b2Cross(t.pc, pc);
        float rc = b2Dot(t.pa, pa) + b2Dot(t.pb, pb) + b2Dot(t.pc, pc);
        float const invR = fastInverseSqrt(rs * rs + rc * rc);
        rs *= invR;
        rc *= invR;
        float const s = k * t.strength;
        auto const rotate = [rs, rc](b2Vec2 o) { return b2Vec2(rc * o.x - rs * o.y, rs * o.x + rc * o.y); };
        velocity_[a] += s * (rotate(t.pa) - (pa - m));
        velocity_[b] += s * (rotate(t.pb) - (pb - m));
        velocity_[c] += s * (rotate(t.pc) - (pc - m));
    }
}

void ParticleSystem::SolveSpring(const b2TimeStep& step) {
    float const k = step.inv_dt * springStrength_;
    for (Pair const& pair : pairs_) {
        if ((pair.flags & springParticle) == 0) {
            continue;
        }
        auto const a = std::size_t(pair.indexA);
        auto const b = std::size_t(pair.indexB);
        b2Vec2 const d = position_[b] - position_[a];
        float const r1 = d.Length();
        if (!(r1 > 0.0f)) {
            continue;  // on top of each other: no direction to push along
        }
        b2Vec2 const f = (k * pair.strength * (pair.distance - r1) / r1) * d;
        velocity_[a] -= f;
        velocity_[b] += f;
    }
}

void ParticleSystem::SolveSolid(const b2TimeStep& step) {
    if (depth_.empty()) {
        resizeExactly(depth_, std::size_t(capacity_), 0.0f);
    }
    float const k = step.inv_dt * ejectionStrength_;
    for (ParticleContact const& c : contacts_) {
        auto const a = std::size_t(c.indexA);
        auto const b = std::size_t(c.indexB);
        if (group_[a] != group_[b]) {
            b2Vec2 const f = (k * (depth_[a] + depth_[b]) * c.weight) * c.normal;
            velocity_[a] -= f;
            velocity_[b] += f;
        }
    }
}

void ParticleSystem::SolveColorMixing() {
    if (color_.empty()) {
        resizeExactly(color_, std::size_t(capacity_), ParticleColor());
    }
    auto const q = std::int32_t(colorMixingStrength_ * 256.0f);
    auto const mix = [q](std::uint8_t& x, std::uint8_t& y) {
        std::int32_t const d = (q * (std::int32_t(y) - std::int32_t(x))) >> 8;
        x = std::uint8_t(std::int32_t(x) + d);
        y = std::uint8_t(std::int32_t(y) - d);
    };
    for (ParticleContact const& c : contacts_) {
        auto const a = std::size_t(c.indexA);
        auto const b = std::size_t(c.indexB);
        if ((flags_[a] & flags_[b] & colorMixingParticle) != 0) {
            ParticleColor& ca = color_[a];
            ParticleColor& cb = color_[b];
            mix(ca.r, cb.r);
            mix(ca.g, cb.g);
            mix(ca.b, cb.b);
            mix(ca.a, cb.a);
        }
    }
}

void ParticleSystem::SolvePressure(const b2TimeStep& step) {
    for (std::int32_t i = 0; i < count_; ++i) {
        accumulation_[std::size_t(i)] = 0.0f;
    }
    for (ParticleBodyContact const& c : bodyContacts_) {
        accumulation_[std::size_t(c.index)] += c.weight;
    }
    for (ParticleContact const& c : contacts_) {
        accumulation_[std::size_t(c.indexA)] += c.weight;
        accumulation_[std::size_t(c.indexB)] += c.weight;
    }
    if ((allParticleFlags_ & powderParticle) != 0) {
        for (std::int32_t i = 0; i < count_; ++i) {
            if ((flags_[std::size_t(i)] & powderParticle) != 0) {
                accumulation_[std::size_t(i)] = 0.0f;
            }
        }
    }
    float const critV = particleDiameter_ * step.inv_dt;
    float const pressurePerWeight = pressureStrength_ * density_ * critV * critV;
    for (std::int32_t i = 0; i < count_; ++i) {
        float& w = accumulation_[std::size_t(i)];
        w = pressurePerWeight * b2Max(0.0f, b2Min(w, maxPressureWeight) - minPressureWeight);
    }
    float const velocityPerPressure = step.dt / (density_ * particleDiameter_);
    float const invMass = GetParticleInvMass();
    for (ParticleBodyContact const& c : bodyContacts_) {
        auto const a = std::size_t(c.index);
        float const h = accumulation_[a] + pressurePerWeight * c.weight;
        b2Vec2 const f = (velocityPerPressure * c.weight * c.mass * h) * c.normal;
        velocity_[a] -= invMass * f;
        c.body->ApplyLinearImpulse(f, position_[a], true);
    }
    for (ParticleContact const& c : contacts_) {
        auto const a = std::size_t(c.indexA);
        auto const b = std::size_t(c.indexB);
        float const h = accumulation_[a] + accumulation_[b];
        b2Vec2 const f = (velocityPerPressure * c.weight * h) * c.normal;
        velocity_[a] -= f;
        velocity_[b] += f;
    }
}

void ParticleSystem::SolveDamping() {
    float const k = dampingStrength_;
    float const invMass = GetParticleInvMass();
    for (ParticleBodyContact const& c : bodyContacts_) {
        auto const a = std::size_t(c.index);
        b2Vec2 const p = position_[a];
        float const vn = b2Dot(velocityAt(c.body, p) - velocity_[a], c.normal);
        if (vn < 0.0f) {
            b2Vec2 const f = (k * c.weight * c.mass * vn) * c.normal;
            velocity_[a] += invMass * f;
            c.body->ApplyLinearImpulse(-f, p, true);
        }
    }
    for (ParticleContact const& c : contacts_) {
        auto const a = std::size_t(c.indexA);
        auto const b = std::size_t(c.indexB);
        float const vn = b2Dot(velocity_[b] - velocity_[a], c.normal);
        if (vn < 0.0f) {
            b2Vec2 const f = (k * c.weight * vn) * c.normal;
            velocity_[a] += f;
            velocity_[b] -= f;
        }
    }
}
