#include "os/shell/TextEntryKeyboard.h"

#include <SDL.h>

#include <cstring>

#include "os/shell/AppFrame.h"

namespace os {

void TextEntryKeyboard::initializeKeyboardWithCallback(Callback callback, std::string const& initText,
                                                       std::string const& placeholderText) {
    callback_ = std::move(callback);
    if (!field_) field_ = std::make_shared<TextEntryViewController::Field>();
    field_->hasField = true;
    field_->text = initText.substr(0, kMaxTextBytes);
    field_->placeholder = placeholderText;
    field_->shown = true;
    present();
    showKeyboard();
}

void TextEntryKeyboard::showKeyboard() {
    if (!field_ || !field_->hasField) return;
    focused_ = true;
    SDL_StartTextInput();
}

void TextEntryKeyboard::hideKeyboard() {
    if (!focused_) return;
    focused_ = false;
    SDL_StopTextInput();
}

void TextEntryKeyboard::releaseKeyboard() {
    if (!field_ || !field_->hasField) return;
    hideKeyboard();
    field_->hasField = false;
    field_->text.clear();
}

void TextEntryKeyboard::postTextCallbackAndRemoveKeyboard(bool cancelled) {
    hideKeyboard();
    std::string const text = this->text();
    if (auto callback = std::move(callback_)) {
        callback_ = nullptr;
        callback(cancelled, text);
    }
    // The callback may have opened the field again.
    if (field_ && !focused_) field_->shown = false;
}

void TextEntryKeyboard::present() {
    if (presented_) return;
    AppFrame* app = app_ ? app_() : nullptr;
    if (!app) return;
    std::shared_ptr<TextEntryViewController::Field const> field = field_;
    TextEntryViewController::Taps taps{[this] { textInputCanceled(); }, [this] { showKeyboard(); },
                                       [this] { faded(); }};
    presented_ = app->presentOverlay(Overlay::TextEntry,
                                     [&](Graphics::Context* g, Audio::Context* a, Fonts::Context* f) {
                                         return std::make_unique<TextEntryViewController>(g, a, f, field, taps);
                                     });
}

void TextEntryKeyboard::faded() {
    if (!presented_ || (field_ && field_->shown)) return;
    presented_ = false;
    if (AppFrame* app = app_ ? app_() : nullptr) app->dismissOverlay(Overlay::TextEntry);
}

bool TextEntryKeyboard::handle(SDL_Event const& e) {
    if (!focused_ || !field_) return false;
    switch (e.type) {
        case SDL_TEXTINPUT: {
            size_t const n = strnlen(e.text.text, sizeof e.text.text);
            if (field_->text.size() + n <= kMaxTextBytes) field_->text.append(e.text.text, n);
            return true;
        }
        case SDL_KEYDOWN:
            switch (e.key.keysym.scancode) {
                case SDL_SCANCODE_BACKSPACE: {
                    std::string& t = field_->text;
                    // The last character, continuation bytes (10xxxxxx) and all.
                    while (!t.empty() && (static_cast<unsigned char>(t.back()) & 0xC0) == 0x80) t.pop_back();
                    if (!t.empty()) t.pop_back();
                    break;
                }
                case SDL_SCANCODE_RETURN:
                case SDL_SCANCODE_KP_ENTER:
                    if (!e.key.repeat) textFieldShouldReturn();
                    break;
                case SDL_SCANCODE_ESCAPE:
                    if (!e.key.repeat) textInputCanceled();
                    break;
                default:
                    break;
            }
            return true;
        case SDL_KEYUP:
        case SDL_TEXTEDITING:
            return true;
        default:
            return false;
    }
}

}  // namespace os
