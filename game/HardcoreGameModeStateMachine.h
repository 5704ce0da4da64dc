#pragma once
#include "game/GameModeStateMachine.h"
#include "world/HardcoreRunTime.h"

// The main levels played one after another as one run. The run's total time outlives every game
// screen, which is rebuilt between the levels.
class HardcoreGameModeStateMachine : public GameModeStateMachine {
public:
    void update(GameViewController&, float, float) override {}
    void preDraw(GameViewController&) override {}
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*, glm::mat4 const&) override {}

    static void resetRunTime() { HardcoreRunTime::total = 0.0f; }
    static void addRunTime(float ms) { HardcoreRunTime::total += ms; }
    static float runTime() { return HardcoreRunTime::total; }
};
