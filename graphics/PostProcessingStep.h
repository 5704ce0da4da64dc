#pragma once
// The frame's off-screen targets and the full-screen passes around the screens' drawing: the
// scene is drawn into a target (half size on low-end devices while the game allows it), then
// stretched to the display with a multiply and an add colour. On request the finished frame is
// captured and blurred into a frozen backdrop that menus draw behind themselves. Once the
// backdrop's look holds still its two layers are flattened into one texture, and while no colour
// grading or scaling is due the frame then goes straight to the display, skipping the composite.
#include <GLES2/gl2.h>

#include <array>
#include <cstdint>
#include <glm/vec2.hpp>
#include <optional>
#include <glm/vec3.hpp>

#include "graphics/DrawList.h"
#include "graphics/Framebuffer.h"
#include "graphics/Quad.h"
#include "graphics/ShaderProgram.h"
#include "graphics/Texture.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class PostProcessingStep : public DrawList::EffectTargets {
public:
    struct ColorTween {
        enum State : uint32_t { kIdle = 0, kRunning = 1, kFinished = 2 };
        glm::vec3 from{0.0f};
        glm::vec3 to{0.0f};
        float speed = 1.0f;  // progress per ms
        glm::vec3 current{0.0f};
        float progress = 0.0f;
        uint32_t state = kIdle;

        void start(glm::vec3 const& from, glm::vec3 const& to, float speed);
    };

    enum BackdropFade : uint32_t { kFadeIdle = 0, kFadeRising = 1, kFadeRisen = 2, kFadeFalling = 3 };

    // Sizes in pixels: the logical screen the scene is drawn at and the display's backing size
    // (placed in the window at the platform's backing origin).
    PostProcessingStep(Graphics::Context* context, glm::ivec2 renderSize, glm::ivec2 finalViewport, bool exactSize);
    PostProcessingStep(PostProcessingStep const&) = delete;
    PostProcessingStep& operator=(PostProcessingStep const&) = delete;

    // --- The frame's passes, in tick order ---
    void update(float dt);
    void updateColors();
    // After the screen's draw: binds the scene target and draws the captured backdrop.
    void drawBackdrop(Graphics::Context* context, Graphics::StandardShader* shader);
    // The last pass: takes a requested capture, then composites the scene onto the display
    // (unless the backdrop pass already drew the frame there).
    void present(Graphics::Context* context, Graphics::StandardShader* shader);

    // --- Effect-layer targets ---
    void bindHalfTarget(bool setViewport);
    void bindQuarterTarget() override;
    void restoreSceneTarget(bool setViewport);
    void bindHalfTarget() override { bindHalfTarget(true); }
    void bindSceneTarget() override { restoreSceneTarget(true); }
    GLuint halfTargetTexture() const override { return half_.texture(); }
    GLuint quarterTargetTexture() const override { return quarter_.texture(); }
    float const* fullScreenQuad() const override { return &quad_[0].position.x; }

    // --- Set by screens and level code ---
    void fadeColor(glm::vec3 const& from, glm::vec3 const& to, float speed) { multiply_.start(from, to, speed); }
    void fadeAddColor(glm::vec3 const& from, glm::vec3 const& to, float speed) { add_.start(from, to, speed); }
    void fadeBackdropColor(glm::vec3 const& from, glm::vec3 const& to, float speed) {
        backdrop_.start(from, to, speed);
    }
    bool isColorFading() const { return multiply_.state == ColorTween::kRunning; }
    bool isBackdropColorFading() const { return backdrop_.state == ColorTween::kRunning; }
    void startBackdropFadeIn();
    void resetBackdropFade() { fadeAmount_ = 0.0f; }
    void startBackdropFadeOut() { fadeState_ = kFadeFalling; }
    float backdropFade() const { return fadeAmount_; }
    // The amount never leaves [0, 1], so both answer true at every call.
    bool checkBackdropFadeIn() const { return fadeAmount_ <= 1.0f; }
    bool checkBackdropFadeOut() const { return fadeAmount_ >= 0.0f; }
    void setBackdropFadeSpeed(float speed) { fadeSpeed_ = speed; }
    // 1 or more draws the captured image in colour.
    void setMonochromeAmount(float amount) { monochromeAmount_ = amount; }
    void requestCapture() { captureRequested_ = 1; }
    bool isCaptureRequested() const { return captureRequested_ != 0; }
    // While set, screens skip drawing the live scene.
    bool hasCapture() const { return captureTaken_ != 0; }
    void releaseCapture() { captureRequested_ = captureTaken_ = 0; }
    // This frame only; the game screen grants it every frame.
    void allowReducedResolution() { reducedResolution_ = 1; }
    float renderScale() const { return renderScale_; }

    // --- Inspection ---
    glm::ivec2 renderSize() const { return renderSize_; }
    glm::ivec2 currentSize() const { return currentSize_; }
    glm::ivec2 finalViewport() const { return finalViewport_; }
    ColorTween const& multiplyTween() const { return multiply_; }
    ColorTween const& addTween() const { return add_; }
    ColorTween const& backdropTween() const { return backdrop_; }
    uint32_t backdropFadeState() const { return fadeState_; }
    GLuint sceneTargetTexture() const { return scene_.texture(); }
    GLuint captureTexture() const { return capture_.texture(); }
    GLuint blurredCaptureTexture() const { return blurredCapture_.texture(); }
    Quad::Corner const& quadCorner(std::size_t i) const { return quad_[i]; }

private:
    // What the backdrop's two layers are drawn from; the flattened copy holds while it is unchanged.
    struct BackdropLook {
        uint32_t capture = 0;
        float monochrome = 0.0f;
        float alpha = 0.0f;
        glm::vec3 tint{0.0f};
        glm::ivec2 size{0};
        bool operator==(BackdropLook const&) const = default;
    };
    BackdropLook backdropLook() const;
    void drawBackdropLayers(Graphics::Context* context, Graphics::StandardShader* shader);
    bool flattenBackdrop(Graphics::Context* context, Graphics::StandardShader* shader, BackdropLook const& look);
    bool canDrawStraightToDisplay() const;
    void setQuadExtent();
    void setQuadAttributes(Graphics::Context* context) const;
    void bindAndDiscard(Graphics::Context* context, Graphics::Framebuffer& target);
    void blurPass(Graphics::Context* context, Graphics::Framebuffer& target, glm::ivec2 viewport, GLuint source,
                  float step);
    void bindDisplay(Graphics::Context* context);

    uint8_t reducedResolution_ = 0;
    Graphics::Context* context_;
    Graphics::Framebuffer scene_;
    Graphics::Framebuffer quarter_;
    Graphics::Framebuffer half_;
    glm::ivec2 renderSize_;
    glm::ivec2 currentSize_;
    glm::ivec2 finalViewport_;
    glm::ivec2 finalOrigin_;
    std::array<Quad::Corner, 4> quad_{};
    ColorTween multiply_;
    ColorTween add_;
    ColorTween backdrop_;
    Graphics::ShaderProgram monochrome_;
    GLint monochromeColorLocation_ = -1;
    GLint monochromeAmountLocation_ = -1;
    Graphics::ShaderProgram blur_;
    GLint blurStepLocation_ = -1;
    float fadeAmount_ = 0.0f;
    float fadeSpeed_ = 0.001f;
    float monochromeAmount_ = 1.0f;
    float renderScale_ = 1.0f;
    uint32_t fadeState_ = kFadeIdle;
    Graphics::Framebuffer capture_;
    Graphics::Framebuffer blurredCapture_;
    uint8_t captureRequested_ = 0;
    uint8_t captureTaken_ = 0;
    Graphics::Texture goldGradient_;
    bool lowEnd_;
    bool exactSize_;
    uint32_t captureCount_ = 0;
    std::optional<BackdropLook> lastLook_;  // the previous frame's, while a capture is shown
    std::optional<BackdropLook> flatLook_;  // what `flatBackdrop_` holds
    std::optional<Graphics::Framebuffer> flatBackdrop_;  // made the first time a backdrop settles
    bool drewToDisplay_ = false;            // this frame's backdrop and overlay went to the display
};
