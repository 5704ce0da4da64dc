#pragma once
// Which rules a level runs under. Stored as one byte; values the game modes don't know are kept
// as they were read.
#include <cstdint>

enum class GameMode : uint8_t {
    Normal = 0,
    TimeAttack = 1,
    CollectTime = 2,
    Intro = 3,
    Hardcore = 4,
};
