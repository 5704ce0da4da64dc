#pragma once
// One line on the error stream for the failures the renderer absorbs (a damaged image, a shader
// that does not build, a full table), so they are visible without stopping the game.
#include <string>

namespace Graphics {

void logLine(std::string const& message);
// The same, but only the first time for a key: a failure repeated for every variant or every
// load of one resource is said once per run.
void logLineOnce(std::string const& key, std::string const& message);

}  // namespace Graphics
