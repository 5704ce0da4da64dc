#pragma once
#include "game/GameModeStateMachine.h"

// The main levels played one after another as one run. The run's total time outlives every game
// screen, which is rebuilt between the levels.
class HardcoreGameModeStateMachine : public GameModeStateMachine {
public:
    void update(GameViewController&, float, float) override {}
    void preDraw(GameViewController&) override {}
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*, glm::mat4 const&) override {}

    static void resetRunTime() { runTime_ = 0.0f; }
    static void addRunTime(float ms) { runTime_ += ms; }
    static float runTime() { return runTime_; }

private:
    static inline float runTime_ = 0.0f;
};
