#include "world/Fluids.h"

#include <box2d/b2_body.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_polygon_shape.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "level/Fixtures.h"
#include "os/Assets.h"
#include "physics/particles/Box2DAdapter.h"
#include "world/WorldConstants.h"

namespace {

// Shared by every volume: flowing water's drag wobbles with it.
float waveClock = 0.0f;

glm::vec2 toGlm(b2Vec2 v) { return glm::vec2(v.x, v.y); }

float cross(glm::vec2 a, glm::vec2 b) { return a.x * b.y - a.y * b.x; }

void worldPolygon(b2Fixture const* fixture, std::vector<glm::vec2>& out) {
    auto const* shape = static_cast<b2PolygonShape const*>(fixture->GetShape());
    b2Transform const& xf = fixture->GetBody()->GetTransform();
    out.clear();
    for (int32 i = 0; i < shape->m_count; ++i) {
        out.push_back(toGlm(b2Mul(xf, shape->m_vertices[i])));
    }
}

// Where the lines a-b and c-d cross; parallel lines give a (never reached for a clipped edge
// that changes sides).
glm::vec2 intersection(glm::vec2 a, glm::vec2 b, glm::vec2 c, glm::vec2 d) {
    glm::vec2 const r = b - a;
    glm::vec2 const s = d - c;
    float const denominator = cross(r, s);
    if (denominator == 0.0f) {
        return a;
    }
    return a + r * (cross(c - a, s) / denominator);
}

// Sutherland-Hodgman: `subject` clipped by the convex `clip`. Empty when they do not overlap.
void clipPolygon(std::vector<glm::vec2> const& subject, std::vector<glm::vec2> const& clip,
                 std::vector<glm::vec2>& out) {
    static std::vector<glm::vec2> input;
    out = subject;
    glm::vec2 c1 = clip.back();
    for (glm::vec2 const& c2 : clip) {
        if (out.empty()) {
            return;
        }
        input.swap(out);
        out.clear();
        auto const inside = [&](glm::vec2 p) { return cross(c2 - c1, p - c1) > 0.0f; };
        glm::vec2 s = input.back();
        for (glm::vec2 const& e : input) {
            if (inside(e)) {
                if (!inside(s)) {
                    out.push_back(intersection(s, e, c1, c2));
                }
                out.push_back(e);
            } else if (inside(s)) {
                out.push_back(intersection(s, e, c1, c2));
            }
            s = e;
        }
        c1 = c2;
    }
}

glm::vec2 velocityAt(b2Body const* body, glm::vec2 p) {
    b2Vec2 const v = body->GetLinearVelocityFromWorldPoint(b2Vec2(p.x, p.y));
    return toGlm(v);
}

void applyForce(b2Body* body, glm::vec2 force, glm::vec2 at) {
    if (std::isfinite(force.x) && std::isfinite(force.y)) {
        body->ApplyForce(b2Vec2(force.x, force.y), b2Vec2(at.x, at.y), true);
    }
}

}  // namespace

FluidVolume::FluidVolume(Graphics::Context* graphics, Audio::Context* audio, PristineLevel::Fluid const& record,
                         b2Body* body)
    : body_(body),
      drag_{record.dragCoefficient, record.liftCoefficient, record.maxDrag, record.maxLift},
      buoyancy_(record.buoyancy),
      flow_(record.flow),
      silent_(record.silent != 0) {
    if (!silent_) {
        splashes_.reserve(splashCount);
        for (std::size_t i = 0; i < splashCount; ++i) {
            splashes_.emplace_back(graphics);
        }
        SoundDescriptor const* names[] = {&Assets::sndWaterDravoWaterSplash01, &Assets::sndWaterDravoWaterSplash02,
                                          &Assets::sndWaterDravoWaterSplash03};
        for (std::size_t i = 0; i < soundSlots; ++i) {
            sounds_[i].emplace(audio, *names[i % 3]);
        }
    }
    createFixtures(record.shapes, body_, FixtureOwner(this));
}

FluidVolume::FluidVolume(FluidVolume&& other) noexcept
    : body_(other.body_),
      drag_(other.drag_),
      buoyancy_(other.buoyancy_),
      flow_(other.flow_),
      silent_(other.silent_),
      splashes_(std::move(other.splashes_)),
      contacts_(std::move(other.contacts_)),
      enabled_(other.enabled_),
      sounds_(std::move(other.sounds_)),
      nextSound_(other.nextSound_),
      lastGain_(other.lastGain_),
      splashesStarted_(other.splashesStarted_) {
    if (body_ == nullptr) {
        return;
    }
    auto const from = reinterpret_cast<uintptr_t>(&other);
    for (b2Fixture* f = body_->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        if (f->GetUserData().pointer == from) {
            f->GetUserData().pointer = reinterpret_cast<uintptr_t>(this);
        }
    }
}

void FluidVolume::endContact(b2Fixture* fluid, b2Fixture* other) {
    contacts_.erase(std::remove_if(contacts_.begin(), contacts_.end(),
                                   [&](Contact const& t) { return t.fluid == fluid && t.other == other; }),
                    contacts_.end());
}

bool FluidVolume::splash(glm::vec2 p, glm::vec2 v) {
    auto const free = std::find_if(splashes_.begin(), splashes_.end(), [](Splash const& s) { return !s.isPlaying(); });
    if (free == splashes_.end()) {
        return false;
    }
    free->start(p, v);
    ++splashesStarted_;
    for (std::size_t tries = 0; tries < soundSlots; ++tries) {
        std::optional<Sound>& slot = sounds_[nextSound_ % soundSlots];
        ++nextSound_;
        if (!slot) {
            continue;
        }
        slot->setPosition(p);
        SoundParams params = slot->params();
        float const speed = std::sqrt(v.x * v.x + v.y * v.y);
        lastGain_ = std::isfinite(speed) ? std::clamp(speed / 15.0f, 0.0f, 1.0f) : 0.0f;
        params.gain *= lastGain_;
        slot->play(params);
        break;
    }
    return true;
}

bool FluidVolume::splashTest(Contact& contact) {
    b2Fixture* fluid = contact.fluid;
    b2Fixture* other = contact.other;
    b2Shape::Type const fluidType = fluid->GetType();
    b2Shape::Type const otherType = other->GetType();
    b2Body* moving = other->GetBody();
    if (fluidType == b2Shape::e_polygon && otherType == b2Shape::e_polygon) {
        static std::vector<glm::vec2> fluidPolygon;
        static std::vector<glm::vec2> otherPolygon;
        static std::vector<glm::vec2> overlap;
        worldPolygon(fluid, fluidPolygon);
        worldPolygon(other, otherPolygon);
        clipPolygon(fluidPolygon, otherPolygon, overlap);
        if (overlap.empty()) {
            return false;
        }
        glm::vec2 p(0.0f);
        for (glm::vec2 const& v : overlap) {
            p += v;
        }
        p /= float(overlap.size());
        b2Transform const& xf = fluid->GetBody()->GetTransform();
        bool const allInside = std::all_of(otherPolygon.begin(), otherPolygon.end(), [&](glm::vec2 v) {
            return fluid->GetShape()->TestPoint(xf, b2Vec2(v.x, v.y));
        });
        if (allInside) {
            return true;
        }
        return splash(p, velocityAt(moving, p));
    }
    bool const fluidCircle = fluidType == b2Shape::e_circle && otherType == b2Shape::e_polygon;
    bool const otherCircle = otherType == b2Shape::e_circle && fluidType == b2Shape::e_polygon;
    if (!fluidCircle && !otherCircle) {
        return false;
    }
    b2Fixture* circle = fluidCircle ? fluid : other;
    b2Fixture* polygon = fluidCircle ? other : fluid;
    glm::vec2 const centre = toGlm(circle->GetBody()->GetPosition());
    float const r = circle->GetShape()->m_radius;
    static std::vector<glm::vec2> outline;
    worldPolygon(polygon, outline);
    for (std::size_t i = 0; i < outline.size(); ++i) {
        glm::vec2 const a = outline[i];
        glm::vec2 const b = outline[(i + 1) % outline.size()];
        glm::vec2 const edge = b - a;
        float const length2 = edge.x * edge.x + edge.y * edge.y;
        if (!(length2 > 0.0f)) {
            continue;
        }
        float const along = ((centre.x - a.x) * edge.x + (centre.y - a.y) * edge.y) / length2;
        glm::vec2 const foot = a + along * edge;
        glm::vec2 const d = centre - foot;
        if (d.x * d.x + d.y * d.y <= r * r) {
            return splash(foot, velocityAt(moving, foot));
        }
    }
    return false;
}

void FluidVolume::push(Contact const& contact, float dt) {
    b2Fixture* fluid = contact.fluid;
    b2Fixture* other = contact.other;
    if (fluid->GetType() != b2Shape::e_polygon || other->GetType() != b2Shape::e_polygon) {
        return;
    }
    static std::vector<glm::vec2> fluidPolygon;
    static std::vector<glm::vec2> otherPolygon;
    static std::vector<glm::vec2> overlap;
    worldPolygon(fluid, fluidPolygon);
    worldPolygon(other, otherPolygon);
    clipPolygon(fluidPolygon, otherPolygon, overlap);
    if (overlap.empty()) {
        return;
    }
    float area = 0.0f;
    glm::vec2 centroid(0.0f);
    for (std::size_t i = 0; i < overlap.size(); ++i) {
        glm::vec2 const a = overlap[i];
        glm::vec2 const b = overlap[(i + 1) % overlap.size()];
        float const triangle = cross(a, b) * 0.5f;
        area += triangle;
        centroid += triangle * (a + b) / 3.0f;
    }
    // A sliver this thin would turn the centroid and then the body's spin into NaN.
    if (!(area > minimumArea)) {
        return;
    }
    centroid /= area;
    b2Body* body = other->GetBody();
    b2Body* water = fluid->GetBody();
    bool const dynamic = body->GetType() == b2_dynamicBody;
    float const density = fluid->GetDensity();
    if (dynamic) {
        applyForce(body, -worldGravity * (density * area) * buoyancy_, centroid);
    }
    float c = drag_[0];
    if (flow_ != glm::vec2(0.0f)) {
        waveClock += dt;
        c = c - c * 0.5f * std::fabs(std::sin(waveClock * 0.005f));
        c = c + std::sin(waveClock * 0.002f) * c * 0.5f;
    }
    for (std::size_t i = 0; i < overlap.size(); ++i) {
        glm::vec2 const a = overlap[i];
        glm::vec2 const b = overlap[(i + 1) % overlap.size()];
        glm::vec2 const m = (a + b) * 0.5f;
        glm::vec2 const u = velocityAt(body, m) - (velocityAt(water, m) + flow_);
        float speed = std::sqrt(u.x * u.x + u.y * u.y);
        glm::vec2 d(0.0f);
        if (speed < 1.1920929e-7f) {
            speed = 0.0f;
        } else {
            d = u / speed;
        }
        glm::vec2 e = b - a;
        float length = std::sqrt(e.x * e.x + e.y * e.y);
        if (length < 1.1920929e-7f) {
            length = 0.0f;
        } else {
            e /= length;
        }
        float const dragDot = d.x * e.y - d.y * e.x;
        if (!(dragDot >= 0.0f) || !dynamic) {
            continue;
        }
        float const drag = std::min(dragDot * c * length * density * speed * speed, drag_[2]);
        applyForce(body, -d * drag, m);
        float const lift = std::min(dragDot * (e.x * d.x + e.y * d.y) * length * density * speed * speed * drag_[1],
                                    drag_[3]);
        applyForce(body, glm::vec2(-d.y, d.x) * lift, m);
    }
}

void FluidVolume::update(float dt) {
    if (!enabled_) {
        return;
    }
    for (Contact& contact : contacts_) {
        // Another sensor overlapping the water (the camera's activation box) is no body in it.
        if (contact.other->IsSensor()) {
            continue;
        }
        if (!contact.splashed) {
            contact.splashed = splashTest(contact);
        }
        push(contact, dt);
    }
    for (Splash& s : splashes_) {
        s.update(dt);
    }
}

void FluidVolume::orientSplashes() {
    for (Splash& s : splashes_) {
        s.orientToVelocity();
    }
}

void FluidVolume::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (splashes_.empty() || graphics == nullptr || shader == nullptr) {
        return;
    }
    graphics->setBlend(true);
    shader->use(1);
    shader->setPVM(graphics->projectionView());
    shader->setColor(glm::vec4(1.0f, 1.0f, 1.0f, 0.0f));
    for (Splash const& s : splashes_) {
        s.drawStretched(*shader);
    }
}

Fluids::Fluids(Graphics::Context* graphics, Audio::Context* audio, std::vector<PristineLevel::Fluid> const& records,
               b2Body* ground) {
    volumes_.reserve(records.size());
    for (PristineLevel::Fluid const& record : records) {
        volumes_.emplace_back(graphics, audio, record, ground);
    }
}

bool Fluids::isFluid(b2Fixture const* fixture) const {
    if (volumes_.empty() || !fixture->IsSensor()) {
        return false;
    }
    auto const p = reinterpret_cast<std::uintptr_t>(Box2DAdapter::userDataPointer<FluidVolume const>(*fixture));
    auto const first = reinterpret_cast<std::uintptr_t>(volumes_.data());
    return p >= first && p - first < volumes_.size() * sizeof(FluidVolume) && (p - first) % sizeof(FluidVolume) == 0;
}

FluidVolume& Fluids::volumeOf(b2Fixture const* fixture) {
    return *const_cast<FluidVolume*>(Box2DAdapter::userDataPointer<FluidVolume const>(*fixture));
}

bool Fluids::hasSplashes() const {
    return std::any_of(volumes_.begin(), volumes_.end(), [](FluidVolume const& v) { return v.hasSplashes(); });
}

void Fluids::update(float dt) {
    for (FluidVolume& volume : volumes_) {
        volume.update(dt);
    }
}

void Fluids::drawSplashes() {
    for (FluidVolume& volume : volumes_) {
        volume.orientSplashes();
    }
}
