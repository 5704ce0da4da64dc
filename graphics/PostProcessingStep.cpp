#include "graphics/PostProcessingStep.h"

#include <algorithm>
#include <string>
#include <utility>

#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/GlFunctions.h"
#include "graphics/ShaderCompiler.h"
#include "graphics/ShaderSource.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"

namespace {

TextureOptions const kTargetOptions(1, 1, 0, 0);
glm::mat4 const kIdentity(1.0f);
GLenum const kColorAttachment = GL_COLOR_ATTACHMENT0;

std::string const kVertexUv = "vertex,uvcoord";
std::string const kNoPrefix;
std::string const kMonochromeVert = "shaders/monochrome.vert";
std::string const kMonochromeFrag = "shaders/monochrome.frag";
std::string const kBlurVert = "shaders/blurpass1.vert";
std::string const kBlurFrag = "shaders/blurpass1.frag";

Graphics::ShaderProgram blurProgram(Graphics::Context* context) {
    std::string const weights = Graphics::blurWeightsPrelude();
    return Graphics::ShaderProgram(context, Graphics::ShaderSource{kBlurVert, kBlurFrag, kVertexUv, kNoPrefix, weights});
}

}  // namespace

void PostProcessingStep::ColorTween::start(glm::vec3 const& f, glm::vec3 const& t, float s) {
    from = f;
    to = t;
    speed = s;
    current = f;
    progress = 0.0f;
    state = kRunning;
}

PostProcessingStep::PostProcessingStep(Graphics::Context* context, glm::ivec2 renderSize, glm::ivec2 finalViewport,
                                       bool exactSize)
    : context_(context),
      scene_(context, uint64_t(std::max(renderSize.x, 0)), uint64_t(std::max(renderSize.y, 0)), kTargetOptions, GL_RGB,
             exactSize),
      quarter_(context, uint64_t(std::max(renderSize.x / 4, 0)), uint64_t(std::max(renderSize.y / 4, 0)),
               kTargetOptions, GL_RGB, exactSize),
      half_(context, uint64_t(std::max(renderSize.x / 2, 0)), uint64_t(std::max(renderSize.y / 2, 0)), kTargetOptions,
            GL_RGB, exactSize),
      renderSize_(renderSize),
      currentSize_(renderSize),
      finalViewport_(finalViewport),
      finalOrigin_(int(backingOriginX()), int(backingOriginY())),
      monochrome_(context, Graphics::ShaderSource{kMonochromeVert, kMonochromeFrag, kVertexUv, kNoPrefix, kNoPrefix}),
      blur_(blurProgram(context)),
      capture_(context, uint64_t(std::max(renderSize.x, 0)), uint64_t(std::max(renderSize.y, 0)), kTargetOptions,
               GL_RGB, exactSize),
      blurredCapture_(context, uint64_t(std::max(renderSize.x / 2, 0)), uint64_t(std::max(renderSize.y / 2, 0)),
                      kTargetOptions, GL_RGB, exactSize),
      goldGradient_(context, Assets::texEffectsGoldGoldgradient),
      lowEnd_(isLowEndDevice()),
      exactSize_(exactSize) {
    multiply_.from = multiply_.to = multiply_.current = glm::vec3(1.0f);
    backdrop_.from = backdrop_.to = backdrop_.current = glm::vec3(1.0f);
    setQuadExtent();
    monochromeColorLocation_ = monochrome_.uniformLocation("color");
    monochromeAmountLocation_ = monochrome_.uniformLocation("amount");
    monochrome_.use();
    monochrome_.setUniform1iByName("tex", 0);
    blurStepLocation_ = blur_.uniformLocation("stepUniform");
    blur_.use();
    blur_.setUniform1iByName("tex", 0);
}

void PostProcessingStep::setQuadExtent() {
    // A target that could not be made has no size; its quad samples nothing rather than divide by 0.
    float const s = scene_.width() ? float(currentSize_.x) / float(scene_.width()) : 0.0f;
    float const t = scene_.height() ? float(currentSize_.y) / float(scene_.height()) : 0.0f;
    quad_ = {{{{1.0f, -1.0f}, {s, 0.0f}}, {{1.0f, 1.0f}, {s, t}}, {{-1.0f, -1.0f}, {0.0f, 0.0f}},
              {{-1.0f, 1.0f}, {0.0f, t}}}};
}

void PostProcessingStep::update(float dt) {
    for (ColorTween* tween : {&multiply_, &add_, &backdrop_}) {
        if (tween->state != ColorTween::kRunning) continue;
        if (tween->progress >= 1.0f) tween->state = ColorTween::kFinished;
        tween->progress = std::clamp(tween->progress + tween->speed * dt, 0.0f, 1.0f);
    }
    if (fadeState_ == kFadeFalling) {
        fadeAmount_ = std::clamp(fadeAmount_ - fadeSpeed_ * dt, 0.0f, 1.0f);
        if (fadeAmount_ <= 0.0f) fadeState_ = kFadeIdle;
    } else if (fadeState_ == kFadeRising) {
        fadeAmount_ = std::clamp(fadeAmount_ + fadeSpeed_ * dt, 0.0f, 1.0f);
        if (fadeAmount_ >= 1.0f) fadeState_ = kFadeRisen;
    }
    // A capture is always taken at full size.
    float const scale = (lowEnd_ && reducedResolution_ && !captureRequested_) ? 0.5f : 1.0f;
    if (scale != renderScale_) {
        renderScale_ = scale;
        currentSize_ = glm::ivec2(int32_t(float(renderSize_.x) * scale), int32_t(float(renderSize_.y) * scale));
        setQuadExtent();
    }
    reducedResolution_ = 0;
}

void PostProcessingStep::updateColors() {
    for (ColorTween* tween : {&multiply_, &add_, &backdrop_})
        tween->current = tween->progress * tween->to + (1.0f - tween->progress) * tween->from;
}

void PostProcessingStep::startBackdropFadeIn() {
    fadeAmount_ = 0.0f;
    fadeState_ = kFadeRising;
}

void PostProcessingStep::bindHalfTarget(bool setViewport) {
    if (setViewport) Graphics::gl::viewport(0, 0, currentSize_.x / 2, currentSize_.y / 2);
    half_.bind();
}

void PostProcessingStep::bindQuarterTarget() {
    Graphics::gl::viewport(0, 0, currentSize_.x / 4, currentSize_.y / 4);
    quarter_.bind();
}

void PostProcessingStep::restoreSceneTarget(bool setViewport) {
    if (setViewport) Graphics::gl::viewport(0, 0, currentSize_.x, currentSize_.y);
    scene_.bind();
}

void PostProcessingStep::setQuadAttributes(Graphics::Context* context) const {
    context->bindBuffer(GL_ARRAY_BUFFER, 0);
    context->vertexAttribPointer(0, 2, GL_FLOAT, false, sizeof(Quad::Corner), &quad_[0].position);
    context->vertexAttribPointer(1, 2, GL_FLOAT, false, sizeof(Quad::Corner), &quad_[0].uv);
}

void PostProcessingStep::bindAndDiscard(Graphics::Context* context, Graphics::Framebuffer& target) {
    target.bind();
    context->discardFramebuffer(GL_FRAMEBUFFER, 1, &kColorAttachment);
}

PostProcessingStep::BackdropLook PostProcessingStep::backdropLook() const {
    float const a = std::clamp(fadeAmount_, 0.0f, 0.75f);
    // Every plain amount draws alike.
    float const monochrome = monochromeAmount_ >= 1.0f ? 1.0f : monochromeAmount_;
    return BackdropLook{captureCount_, monochrome, a, backdrop_.current * a, currentSize_};
}

// The sharp capture (plain or in grey), then the blurred one over it, tinted and faded.
void PostProcessingStep::drawBackdropLayers(Graphics::Context* context, Graphics::StandardShader* shader) {
    setQuadAttributes(context);
    context->setBlend(false);
    context->bindTextureUnit(GL_TEXTURE0, capture_.texture());
    if (monochromeAmount_ >= 1.0f) {
        shader->use(Graphics::StandardShader::kTextured);
        shader->setPVM(kIdentity);
    } else {
        monochrome_.use();
        context->setEnabledVertexAttribCount(2);
        Graphics::ShaderProgram::setUniform1f(monochromeAmountLocation_, monochromeAmount_);
        Graphics::ShaderProgram::setUniform4f(monochromeColorLocation_, glm::vec4(1.0f));
    }
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);

    context->setBlend(true);
    context->bindTextureUnit(GL_TEXTURE0, blurredCapture_.texture());
    shader->use(Graphics::StandardShader::kColor);
    float const a = std::clamp(fadeAmount_, 0.0f, 0.75f);
    glm::vec3 const tint = backdrop_.current * a;
    shader->setColor(glm::vec4(tint, a));
    shader->setPVM(kIdentity);
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// Draws the two layers once into a target of the scene's size; false when no target is to be had.
bool PostProcessingStep::flattenBackdrop(Graphics::Context* context, Graphics::StandardShader* shader,
                                         BackdropLook const& look) {
    if (flatLook_ == look) return true;
    if (!flatBackdrop_) {
        flatBackdrop_.emplace(context, uint64_t(std::max(renderSize_.x, 0)), uint64_t(std::max(renderSize_.y, 0)),
                              kTargetOptions, GL_RGB, exactSize_);
    }
    if (flatBackdrop_->texture() == 0) return false;
    Graphics::gl::viewport(0, 0, currentSize_.x, currentSize_.y);
    bindAndDiscard(context, *flatBackdrop_);
    drawBackdropLayers(context, shader);
    flatLook_ = look;
    return true;
}

// The composite would be a plain 1:1 copy and no capture has to be taken from the scene target.
bool PostProcessingStep::canDrawStraightToDisplay() const {
    return !captureRequested_ && currentSize_ == finalViewport_ && multiply_.current == glm::vec3(1.0f) &&
           add_.current == glm::vec3(0.0f);
}

void PostProcessingStep::drawBackdrop(Graphics::Context* context, Graphics::StandardShader* shader) {
    drewToDisplay_ = false;
    std::optional<BackdropLook> const previous = lastLook_;
    lastLook_.reset();
    if (captureTaken_) lastLook_ = backdropLook();
    // While the look changes from frame to frame (the fades) the layers are drawn as they are.
    bool const settled = lastLook_ && lastLook_ == previous && flattenBackdrop(context, shader, *lastLook_);
    if (settled && canDrawStraightToDisplay()) {
        bindDisplay(context);
        drewToDisplay_ = true;
    } else {
        Graphics::gl::viewport(0, 0, currentSize_.x, currentSize_.y);
        bindAndDiscard(context, scene_);
    }
    if (!captureTaken_) return;
    Graphics::DrawRecord::backdrop();
    if (!settled) return drawBackdropLayers(context, shader);
    setQuadAttributes(context);
    context->setBlend(false);
    context->bindTextureUnit(GL_TEXTURE0, flatBackdrop_->texture());
    shader->use(Graphics::StandardShader::kTextured);
    shader->setPVM(kIdentity);
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
    context->setBlend(true);  // as the layered backdrop leaves it for the overlay
}

void PostProcessingStep::blurPass(Graphics::Context* context, Graphics::Framebuffer& target, glm::ivec2 viewport,
                                  GLuint source, float step) {
    Graphics::gl::viewport(0, 0, viewport.x, viewport.y);
    bindAndDiscard(context, target);
    blur_.use();
    context->setEnabledVertexAttribCount(2);
    context->bindTextureUnit(GL_TEXTURE0, source);
    Graphics::ShaderProgram::setUniform1f(blurStepLocation_, step);
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void PostProcessingStep::bindDisplay(Graphics::Context* context) {
    context->bindDefaultFramebuffer();
    // The bars beside a picture smaller than the window are black, not last frame's leftovers.
    if (finalOrigin_ != glm::ivec2(0)) {
        Graphics::gl::clearColor(0.0f, 0.0f, 0.0f, 0.0f);
        Graphics::gl::clear(GL_COLOR_BUFFER_BIT);
    }
    Graphics::gl::viewport(finalOrigin_.x, finalOrigin_.y, finalViewport_.x, finalViewport_.y);
}

void PostProcessingStep::present(Graphics::Context* context, Graphics::StandardShader* shader) {
    context->setBlend(false);
    if (std::exchange(drewToDisplay_, false)) return;  // the frame is on the display already
    context->bindTextureUnit(GL_TEXTURE0, scene_.texture());
    if (captureRequested_) {
        Graphics::DrawRecord::captured();
        bindAndDiscard(context, capture_);
        shader->use(Graphics::StandardShader::kTextured);
        shader->setPVM(kIdentity);
        setQuadAttributes(context);
        Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
        // Vertical pass into the quarter target, then horizontal into the half-size capture.
        blurPass(context, quarter_, currentSize_ / 4, capture_.texture(), 1.0f / float(currentSize_.y));
        blurPass(context, blurredCapture_, currentSize_ / 2, quarter_.texture(), -1.0f / float(currentSize_.x));
        context->bindTextureUnit(GL_TEXTURE0, scene_.texture());
        captureRequested_ = 0;
        captureTaken_ = 1;
        ++captureCount_;
    }
    bindDisplay(context);
    glm::vec3 const& multiply = multiply_.current;
    glm::vec3 const& add = add_.current;
    if (add == glm::vec3(0.0f)) {
        if (multiply == glm::vec3(1.0f)) {
            shader->use(Graphics::StandardShader::kTextured);
        } else {
            shader->use(Graphics::StandardShader::kColor);
            shader->setColor(glm::vec4(multiply, 1.0f));
        }
    } else {
        shader->use(Graphics::StandardShader::kColorAndAmbient);
        shader->setColor(glm::vec4(multiply, 1.0f));
        shader->setAmbientColor(glm::vec4(add, 0.0f));
    }
    shader->setPVM(kIdentity);
    setQuadAttributes(context);
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}
