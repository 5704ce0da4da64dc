#include "game/ControlScheme.h"

#include "game/DummyControlScheme.h"
#include "game/OnScreenControlScheme.h"
#include "game/TouchAndSwipeControlScheme.h"
#include "os/services/PlatformServices.h"

std::unique_ptr<ControlScheme> makeControlScheme(uint8_t choice, Graphics::Context* graphics) {
    if (!hasTouchScreen()) return std::make_unique<DummyControlScheme>();
    if (choice == 0) return std::make_unique<TouchAndSwipeControlScheme>(graphics);
    // Any other saved byte, even one no version wrote, gives the buttons.
    return std::make_unique<OnScreenControlScheme>(graphics);
}
