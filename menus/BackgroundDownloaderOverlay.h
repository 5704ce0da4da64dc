#pragma once
// The download bar: while the second archive is still downloading, a panel slides down from the
// top edge with a progress bar and a status line, and raises its own questions (cellular data,
// no disk space, download finished). It only reads the platform's download state every frame; it
// never starts, pauses or resumes the download. Owned in place by its host (the boxes' answers
// point back at it).
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <functional>

#include "fonts/TextMesh.h"
#include "graphics/Sprite.h"
#include "menus/ConfirmationBox.h"
#include "os/services/PlatformServices.h"

namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}

class BackgroundDownloaderOverlay {
public:
    // A tween of the panel or the bar's pulse: state 0 idle, 1 running, 2 ended.
    struct Tween {
        float from, to, rate, rampA, rampB, value, t;
        uint32_t state;
    };
    // The two platform calls the overlay makes, replaceable so tests can record them.
    struct PlatformCalls {
        void (*allowCellularDownload)(bool);
        void (*downloadOverlayHook)();
    };
    enum Status : int { kNoStatus = -1, kDownloading = 0, kPaused = 1, kNoNetwork = 2, kVerifying = 3 };

    BackgroundDownloaderOverlay(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, bool enabled,
                                std::function<void()> const& onConsent);
    BackgroundDownloaderOverlay(BackgroundDownloaderOverlay const&) = delete;
    BackgroundDownloaderOverlay& operator=(BackgroundDownloaderOverlay const&) = delete;

    void show() { targetShown_ = 1; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // interactive false while a pop-up of the host's own is up: no box opens or moves then.
    void update(bool interactive, float dt);
    void preDraw();
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);
    // One of the boxes is up on the shown panel: the host sends its input here.
    bool isBlockingInput() const;
    // The box that takes the input while one is up (see ConfirmationBox::inputTaker).
    void const* inputTaker() const;

    void touchBegan(glm::vec2 const& point, unsigned touch);
    void touchMoved(glm::vec2 const& point, unsigned touch);
    void touchEnded(glm::vec2 const& point, unsigned touch);
    void gamepadInput(GamepadState const& state);
    void buttonPressed(unsigned code);

    void answerCellularQuestion(bool yes);

    // The status line the stored state selects (the pause reason read now).
    Status status() const;
    int downloadState() const { return downloadState_; }
    uint32_t shownState() const { return shown_; }
    uint32_t targetShownState() const { return targetShown_; }
    Tween const& currentSlide() const { return shown_ == 1 ? slideIn_ : slideOut_; }
    Tween const& activePulse() const { return activePulse_ == 0 ? pulseUp_ : pulseDown_; }
    float progress() const { return progress_; }
    float dimAlpha() const { return dimAlpha_; }
    bool isFinishPending() const { return finishPending_; }
    ConfirmationBox& finishedBox() { return finishedBox_; }
    ConfirmationBox& cellularBox() { return cellularBox_; }
    ConfirmationBox& noDiskSpaceBox() { return noDiskSpaceBox_; }
    // The bar's quad as last drawn (right edge at the progress).
    Quad const& drawnBar() const { return drawnBar_; }

    static PlatformCalls& platformCalls();
    // The no-disk-space box and the cellular question come once per run; tests start a new run.
    static void resetRunFlags();
    static bool noDiskSpaceShownThisRun();
    static bool cellularAskedThisRun();

private:
    Tween& slide() { return shown_ == 1 ? slideIn_ : slideOut_; }
    Tween& pulse() { return activePulse_ == 0 ? pulseUp_ : pulseDown_; }
    ConfirmationBox const& inputBox() const;
    ConfirmationBox& inputBox();

    int downloadState_;
    Sprite backBar_;
    Sprite progressBar_;
    Sprite glass_;
    Sprite leftHolder_;
    Sprite rightHolder_;
    Tween slideIn_;
    Tween slideOut_;
    glm::mat4 projection_;
    uint32_t shown_ = 0;
    uint32_t targetShown_ = 0;
    Tween pulseUp_{0.75f, 1.0f, 0.002f, 0.0f, 0.0f, 0.75f, 0.0f, 1};
    Tween pulseDown_{1.0f, 0.75f, 0.002f, 0.0f, 0.0f, 1.0f, 0.0f, 0};
    uint32_t activePulse_ = 0;
    float progress_;
    Fonts::Context* fonts_;
    Fonts::TextMesh statusTexts_[4];
    Sprite dimQuad_;
    float dimAlpha_ = 0.0f;
    float dimSpeed_ = -0.00075f;
    ConfirmationBox finishedBox_;
    ConfirmationBox cellularBox_;
    ConfirmationBox noDiskSpaceBox_;
    bool enabled_;
    std::function<void()> onConsent_;
    bool finishPending_ = false;
    bool finishSeen_ = false;
    Quad drawnBar_;
};
