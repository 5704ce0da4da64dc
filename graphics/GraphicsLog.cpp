#include "graphics/GraphicsLog.h"

#include <cstdio>

namespace Graphics {

void logLine(std::string const& message) { std::fprintf(stderr, "Graphics: %s\n", message.c_str()); }

}  // namespace Graphics
