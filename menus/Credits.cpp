#include "menus/Credits.h"

#include <glm/gtc/matrix_transform.hpp>

#include <random>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "fonts/TextLabel.h"
#include "graphics/StandardShader.h"
#include "os/ViewController.h"
#include "os/services/PlatformServices.h"

namespace {

constexpr float kFadeSpeed = 0.001125f;  // per ms: a full fade in about 889 ms
constexpr float kHeaderToBody = 50.0f;
constexpr float kNamesGap = 15.0f;  // either side of the centre line

std::optional<uint32_t>& fixedSeed() {
    static std::optional<uint32_t> seed;
    return seed;
}

// Placeholders that no credits text holds.
char const* const kSwapTokens[2] = {"\x01swap0\x01", "\x01swap1\x01"};

void replaceFirst(std::string& text, std::string const& what, std::string const& with) {
    auto const at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
}

bool drawSwapBit() {
    uint32_t seed;
    if (fixedSeed()) {
        seed = *fixedSeed();
    } else {
        try {
            std::random_device device("/dev/urandom");
            seed = device();
        } catch (std::exception const&) {
            // No entropy device: the swap is cosmetic, the clock will do.
            seed = uint32_t(nowMs());
        }
    }
    std::mt19937 twister(seed);
    return std::uniform_int_distribution<int>(0, 1)(twister) == 1;
}

}  // namespace

char const* const Credits::kSwapNames[2] = {"libpng", "libwebp"};

void Credits::setSeedForTesting(std::optional<uint32_t> seed) { fixedSeed() = seed; }

std::string Credits::swapNames(std::string text) {
    replaceFirst(text, kSwapNames[0], kSwapTokens[0]);
    replaceFirst(text, kSwapNames[1], kSwapTokens[1]);
    replaceFirst(text, kSwapTokens[0], kSwapNames[1]);
    replaceFirst(text, kSwapTokens[1], kSwapNames[0]);
    return text;
}

Credits::Credits(Graphics::Context*, Audio::Context*, Fonts::Context* fonts, std::function<void()> const& onEnd,
                 glm::vec4 const& colour, uint64_t framesPerStep, float step)
    : onEnd_(onEnd),
      penX_(virtualWidth() / 2.0f),
      penY_(-10.0f),
      fader_(kFadeSpeed),
      step_(step),
      framesPerStep_(framesPerStep) {
    swapped_ = drawSwapBit();
    Fonts::Font const regular = fonts->font(Fonts::FontStyle::credits);
    Fonts::Font const bold = fonts->font(Fonts::FontStyle::creditsBold);
    glm::mat4 const identity(1.0f);
    auto lay = [&](std::string const& text, Fonts::Font font, float x, int32_t alignment) {
        return TextLabel(text, glm::vec2(x, penY_), font, alignment, 1.0f).draw(mesh_, glm::vec2(0.0f), colour, identity);
    };
    for (uint64_t n = 0;; ++n) {
        std::string const number = std::to_string(n);
        std::string const header = "credits_header_" + number;
        if (!fonts->hasString(header)) {
            // Store-specific entries leave a gap in the numbering; anything else ends the list.
            if (fonts->hasString(header + "_amazon_only")) continue;
            break;
        }
        float const y0 = penY_;
        lay(fonts->localizedString(header), regular, penX_, Fonts::alignCentre);
        penY_ = y0 - kHeaderToBody;
        std::string const justNames = "credits_just_names_" + number;
        glm::vec2 end;
        if (fonts->hasString(justNames)) {
            end = lay(fonts->localizedString(justNames), bold, penX_, Fonts::alignCentre);
        } else {
            lay(fonts->localizedString("credits_roles_" + number), regular, penX_ - kNamesGap, Fonts::alignRight);
            std::string names = fonts->localizedString("credits_names_" + number);
            if (swapped_) names = swapNames(std::move(names));
            end = lay(names, bold, penX_ + kNamesGap, Fonts::alignLeft);
        }
        penY_ = end.y - y0 + penY_;
    }
}

void Credits::start() {
    state_ = kFadingIn;
    fader_.fadeIn();
}

void Credits::skip() {
    state_ = kFadingOut;
    fader_.fadeOut();
}

void Credits::update(float dt) {
    auto scroll = [&] {
        uint64_t const before = frames_++;
        if (framesPerStep_ == 0 ? before == 0 : before % framesPerStep_ == 0) offset_ += step_;
    };
    switch (state_) {
    case kFadingIn:
        if (fader_.isFadedIn()) {
            // Up and taking input (a skip) from here: the one line for whoever reads the log.
            state_ = kScrolling;
            logScreen("Credits");
        }
        break;
    case kScrolling:
        scroll();
        if (penY_ + offset_ - 10.0f - virtualHeight() / 2.0f > 0.0f) skip();
        break;
    case kFadingOut:
        scroll();
        if (fader_.isFadedOut()) {
            state_ = kIdle;
            fader_.update(dt);
            // Last: the owner may drop the credits from its callback.
            onEnd_();
            return;
        }
        break;
    default: break;
    }
    fader_.update(dt);
}

void Credits::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) {
    if (fader_.value() == 0.0f) return;
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(glm::translate(projection, glm::vec3(0.0f, offset_, 0.0f)));
    mesh_.draw(graphics, shader, glm::vec4(1.0f, 1.0f, 1.0f, fader_.value()));
}
