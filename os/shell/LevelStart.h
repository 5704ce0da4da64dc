#pragma once
// A level read as the game's benchmarks load it: the file (localized variant first) read and
// loaded, and every requested texture loaded at once.
#include <cstdio>
#include <memory>
#include <string>

#include "graphics/Context.h"
#include "level/PristineLevel.h"

namespace os {

// Reads the level at path into level; false, with a log line, when it is missing or empty.
bool readLevelFile(std::string const& path, PristineLevel::Data& level);
// Loads every requested texture at once, giving up after a few seconds rather than hanging.
void waitForTextures(Graphics::Context& graphics);

}  // namespace os
