#include "world/Coin.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/services/GameCenter.h"
#include "world/Player.h"

Coin::Coin(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PristineLevel::Coin const& record,
           Graphics::Context* graphics, Audio::Context* audio, GameMode mode)
    : graphics_(graphics),
      coin_(meshSet, *drawList, record.coinDrawable),
      ring_(meshSet, *drawList, record.ringDrawable),
      glint_(meshSet, *drawList, record.glintDrawable),
      frameSize_(record.frameSize),
      rows_(record.rows),
      columns_(record.columns),
      center_(record.center),
      startFrame_(record.startFrame),
      frameCount_(record.frameCount),
      collectSound_(audio, record.collectSound),
      frameTime_(float(record.frameTime)),
      achievement_(record.achievement) {
    if (mode == GameMode::Hardcore) {
        hidden_ = true;
    } else if (hasAchievement()) {
        hidden_ = !isGameCenterAuthenticated();
    }
    if (hasAchievement()) {
        achievementSound_.emplace(audio, Assets::sndCogAchievement);
    }
    if (columns_ == 0 || !(frameTime_ > 0.0f)) {
        std::fprintf(stderr, "Coin: frame time %u ms, %u columns; the coin is left out\n", record.frameTime,
                     record.columns);
        hidden_ = true;
    }
    if (hidden_) {
        coin_.hide();
        ring_.hide();
        glint_.hide();
    }
}

void Coin::trigger() {
    if (!hidden_) {
        touched_ = true;
    }
}

void Coin::update(Player::Player& player, float, float t) {
    if (hidden_) {
        return;
    }
    // A one-frame sheet always shows frame 0: no division per coin per frame.
    uint64_t frame = 0;
    if (frameCount_ != 1) {
        frame = startFrame_ + uint64_t(std::max(0.0, std::floor(double(t) / double(frameTime_))));
        if (frameCount_ != 0) {
            frame %= frameCount_;
        }
    }
    // Untouched, not animating and on the frame it already shows: nothing would change.
    if (settled_ && !touched_ && frame == shownFrame_) {
        return;
    }
    uvOffset_ = glm::vec2(float(frame % columns_) * frameSize_.x, float(frame / columns_) * frameSize_.y);

    if (touched_ && !collected_) {
        if (hasAchievement()) {
            AchievementReport const report{achievement_, 100.0};
            reportAchievements(&report, 1);
        } else {
            player.addCoin();
        }
        collectSound_.play();
        if (achievementSound_) {
            achievementSound_->play();
        }
        collected_ = true;
        collectTime_ = t;
        animating_ = true;
        touched_ = false;
    }
    if (animating_) {
        float const s = t - collectTime_;
        float const a = sineRamp(std::clamp(s / ringMs, 0.0f, 1.0f), 0.7f, 0.75f);
        ringScale_ = 0.6f + 2.9f * a;
        ringAlpha_ = 0.3f - 0.3f * a;
        glintAngle_ = s / animationMs * 90.0f;
        glintScale_ = 2.0f - 2.0f * sineRamp(s / animationMs, 0.7f, 0.75f);  // past 300 ms the animation ends
        if (s > animationMs) {
            animating_ = false;
        }
    }
    coin_.setUVOffset(uvOffset_);
    if (collected_) {
        coin_.hide();
    } else {
        coin_.show();
    }
    if (animating_) {
        glm::mat4 const at = glm::translate(glm::mat4(1.0f), glm::vec3(center_, 0.0f));
        float const c = std::clamp(ringAlpha_, 0.0f, 1.0f);
        ring_.setTransform(glm::scale(at, glm::vec3(ringScale_, ringScale_, 1.0f)));
        ring_.setColor(glm::vec4(c));
        ring_.show();
        glint_.setTransform(glm::rotate(glm::scale(at, glm::vec3(glintScale_, glintScale_, 1.0f)),
                                        glm::radians(glintAngle_), glm::vec3(0.0f, 0.0f, 1.0f)));
        glint_.setColor(glm::vec4(1.0f));
        glint_.show();
    } else {
        ring_.hide();
        glint_.hide();
    }
    coin_.update(true, true);
    ring_.update(true, true);
    glint_.update(true, true);
    shownFrame_ = frame;
    settled_ = !animating_;
}

void Coin::draw() {
    if (hidden_) {
        return;
    }
    coin_.upload(graphics_);
    ring_.upload(graphics_);
    glint_.upload(graphics_);
}
