#pragma once
// The GL view's one-line text entry: a field over the dimmed game, typed into through SDL's text
// input while it has the focus. Return posts the text, a tap on the dimmed background (or Escape)
// cancels; either way the callback runs once with (cancelled, text) and the field fades away. The
// game draws the field (TextEntryViewController) through the app frame. Main thread only.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "menus/TextEntryViewController.h"

union SDL_Event;

namespace os {

class AppFrame;

class TextEntryKeyboard {
public:
    using Callback = std::function<void(bool cancelled, std::string text)>;
    using AppGetter = std::function<AppFrame*()>;
    // Typing stops here; longer text is not a line.
    static constexpr size_t kMaxTextBytes = 1024;

    // Where the field is drawn; without an app frame the field still takes text, unseen.
    void setApp(AppGetter app) { app_ = std::move(app); }

    // Replaces any earlier callback, sets the text and the placeholder, fades the field in and
    // gives it the focus.
    void initializeKeyboardWithCallback(Callback callback, std::string const& initText,
                                        std::string const& placeholderText);
    // The field takes or gives up the typing focus.
    void showKeyboard();
    void hideKeyboard();
    bool isKeyboardShown() const { return focused_; }
    // Drops the field; the dimmed background stays as it is.
    void releaseKeyboard();
    // Gives up the focus, calls a stored callback once with (cancelled, text) and clears it, and
    // fades the field out.
    void postTextCallbackAndRemoveKeyboard(bool cancelled);
    // A tap on the dimmed background.
    void textInputCanceled() { postTextCallbackAndRemoveKeyboard(true); }
    // Return in the field.
    bool textFieldShouldReturn() {
        postTextCallbackAndRemoveKeyboard(false);
        return true;
    }

    // Typing and editing keys while the field has the focus; true when the event was the
    // field's, and so not the game's.
    bool handle(SDL_Event const& event);

    std::string text() const { return field_ ? field_->text : std::string(); }
    // The field and its background are up (or fading).
    bool isVisible() const { return presented_; }

private:
    void present();
    void faded();

    AppGetter app_;
    Callback callback_;
    std::shared_ptr<TextEntryViewController::Field> field_;
    bool focused_ = false;
    bool presented_ = false;
};

}  // namespace os
