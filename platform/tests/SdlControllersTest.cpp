// Controllers through SDL: a virtual game controller connects, reports its buttons and sticks in
// the standard and extended profiles, Start calls the pause handler, and it goes when detached;
// the keyboard joins as one more controller once used, P and Escape pausing.
#include <gtest/gtest.h>

#include <SDL.h>

#include "platform/SdlControllers.h"

namespace {

void pump(platform::SdlControllers& c) {
    SDL_GameControllerUpdate();
    SDL_Event e;
    while (SDL_PollEvent(&e)) c.handle(e);
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
        pump(controllers);
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
        EXPECT_EQ(keyPauses, 2);
        EXPECT_TRUE(controllers.controllers()[0]->extendedGamepad().has_value());

        // A tap pressed and let go between two frames holds for the one frame after it.
        EXPECT_TRUE(controllers.controllers()[0]->gamepad()->buttonA);
        controllers.newFrame();
        EXPECT_FALSE(controllers.controllers()[0]->gamepad()->buttonA);
    }
    SDL_Quit();
}

}  // namespace
