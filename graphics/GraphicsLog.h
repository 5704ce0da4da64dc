#pragma once
// One line on the error stream for the failures the renderer absorbs (a damaged image, a shader
// that does not build, a full table), so they are visible without stopping the game.
#include <string>

namespace Graphics {

void logLine(std::string const& message);

}  // namespace Graphics
