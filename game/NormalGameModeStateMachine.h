#pragma once
#include "game/GameModeStateMachine.h"

// The main levels: the world, the player and the end-of-level slot make the level.
class NormalGameModeStateMachine : public GameModeStateMachine {
public:
    void update(GameViewController&, float, float) override {}
    void preDraw(GameViewController&) override {}
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*, glm::mat4 const&) override {}
};
