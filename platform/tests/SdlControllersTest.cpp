// Controllers through SDL: a virtual game controller connects, reports its buttons and sticks in
// the standard and extended profiles, Start calls the pause handler, and it goes when detached;
// the keyboard joins as one more controller once used, P and Escape pausing. Events between two
// frames reach the frames in order: a tap in two, two presses one a frame.
#include <gtest/gtest.h>

#include <SDL.h>

#include <string>

#include "platform/SdlControllers.h"

namespace {

// SDL's events, then `frames` frames' shares of them.
void pump(platform::SdlControllers& c, int frames = 1) {
    SDL_GameControllerUpdate();
    SDL_Event e;
    while (SDL_PollEvent(&e)) c.handle(e);
    for (int i = 0; i < frames; ++i) c.takeFrame();
}

TEST(SdlControllers, VirtualControllerConnectsReportsPausesAndLeaves) {
    ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
    {
        platform::SdlControllers controllers;
        EXPECT_TRUE(controllers.controllers().empty());
        int const device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                                     SDL_CONTROLLER_BUTTON_MAX, 0);
        ASSERT_GE(device, 0) << SDL_GetError();
        pump(controllers);
        auto list = controllers.controllers();
        ASSERT_EQ(list.size(), 1u);
        platform::GameController* pad = list[0];
        int pauses = 0;
        pad->setPausedHandler([&] { ++pauses; });

        SDL_Joystick* js = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(device));
        ASSERT_NE(js, nullptr);
        SDL_JoystickSetVirtualButton(js, SDL_CONTROLLER_BUTTON_A, 1);
        SDL_JoystickSetVirtualButton(js, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
        SDL_JoystickSetVirtualAxis(js, SDL_CONTROLLER_AXIS_LEFTX, 32767);
        SDL_JoystickSetVirtualAxis(js, SDL_CONTROLLER_AXIS_LEFTY, -32768);
        SDL_JoystickSetVirtualAxis(js, SDL_CONTROLLER_AXIS_RIGHTX, 2000);  // inside the dead zone
        pump(controllers, 4);  // four presses, one a frame
        auto g = pad->gamepad();
        ASSERT_TRUE(g);
        EXPECT_TRUE(g->buttonA);
        EXPECT_FALSE(g->buttonB);
        EXPECT_EQ(g->dpadY, 1.0f);
        auto e = pad->extendedGamepad();
        ASSERT_TRUE(e);
        EXPECT_FLOAT_EQ(e->leftX, 1.0f);
        EXPECT_FLOAT_EQ(e->leftY, 1.0f);  // up is positive
        EXPECT_EQ(e->rightX, 0.0f);

        SDL_JoystickSetVirtualButton(js, SDL_CONTROLLER_BUTTON_START, 1);
        pump(controllers);
        SDL_JoystickSetVirtualButton(js, SDL_CONTROLLER_BUTTON_START, 0);
        pump(controllers);
        EXPECT_EQ(pauses, 1);

        // Taken in order, one press a frame: a down and an up between two frames reach two
        // frames, and so does a press let go and made again; a pause waits for its turn.
        auto set = [&](SDL_GameControllerButton button, int down) {
            SDL_JoystickSetVirtualButton(js, button, Uint8(down));
            SDL_GameControllerUpdate();
        };
        set(SDL_CONTROLLER_BUTTON_A, 0);
        set(SDL_CONTROLLER_BUTTON_DPAD_UP, 0);
        pump(controllers, 2);
        set(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
        set(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0);
        set(SDL_CONTROLLER_BUTTON_A, 1);
        set(SDL_CONTROLLER_BUTTON_A, 0);
        set(SDL_CONTROLLER_BUTTON_A, 1);
        set(SDL_CONTROLLER_BUTTON_START, 1);
        std::string seen;
        for (int i = 0; i < 6; ++i) {
            pump(controllers);
            seen += pad->gamepad()->dpadX > 0 ? "R" : pad->gamepad()->buttonA ? "A" : "-";
            seen += std::to_string(pauses) + " ";
        }
        EXPECT_EQ(seen, "R1 A1 -1 A1 A2 A2 ");
        set(SDL_CONTROLLER_BUTTON_START, 0);
        set(SDL_CONTROLLER_BUTTON_A, 0);
        // A stick flicked and eased back between two frames counts as far as it went.
        SDL_JoystickSetVirtualAxis(js, SDL_CONTROLLER_AXIS_LEFTX, 0);
        pump(controllers, 3);
        for (int16_t x : {32767, 9830, 0}) {
            SDL_JoystickSetVirtualAxis(js, SDL_CONTROLLER_AXIS_LEFTX, x);
            SDL_GameControllerUpdate();
        }
        pump(controllers);
        EXPECT_FLOAT_EQ(pad->extendedGamepad()->leftX, 1.0f);
        pump(controllers);
        EXPECT_EQ(pad->extendedGamepad()->leftX, 0.0f);
        // Taps without end between two frames: past a bound they are taken at once, so the
        // frames catch up within that many.
        for (int i = 0; i < 400; ++i) set(SDL_CONTROLLER_BUTTON_B, 1 - i % 2);
        int downs = 0;
        pump(controllers);
        for (size_t i = 0; i < platform::SdlControllers::kMaxQueued; ++i) {
            downs += pad->gamepad()->buttonB;
            controllers.takeFrame();
        }
        EXPECT_FALSE(pad->gamepad()->buttonB);
        EXPECT_GE(downs, int(platform::SdlControllers::kMaxQueued / 2) - 1);

        SDL_JoystickDetachVirtual(device);
        pump(controllers);
        EXPECT_TRUE(controllers.controllers().empty());

        // The keyboard appears once one of its keys is used; P pauses, repeats do not.
        SDL_Event key{};
        key.type = SDL_KEYDOWN;
        key.key.keysym.scancode = SDL_SCANCODE_Q;
        controllers.handle(key);
        EXPECT_TRUE(controllers.controllers().empty());
        key.key.keysym.scancode = SDL_SCANCODE_SPACE;
        controllers.handle(key);
        ASSERT_EQ(controllers.controllers().size(), 1u);
        int keyPauses = 0;
        controllers.controllers()[0]->setPausedHandler([&] { ++keyPauses; });
        key.key.keysym.scancode = SDL_SCANCODE_P;
        controllers.handle(key);
        key.key.repeat = 1;
        controllers.handle(key);
        key.key.repeat = 0;
        key.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
        controllers.handle(key);
        for (int i = 0; i < 3; ++i) controllers.takeFrame();
        EXPECT_EQ(keyPauses, 2);
        EXPECT_TRUE(controllers.controllers()[0]->extendedGamepad().has_value());
    }
    SDL_Quit();
}

}  // namespace
