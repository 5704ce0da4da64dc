#pragma once
// Reading, compiling and linking shader programs from the data archives.
#include <string>

#include "graphics/ProgramEntry.h"

namespace Graphics {

// The file's text with every "\r" made "\n"; empty when the file is missing.
std::string readShaderSource(std::string const& path);

// Compiles both stages, each from its prefix followed by its source, binds the listed attributes
// to locations 0, 1, 2... and links. A stage that does not compile or a program that does not
// link is logged with its info log and `name` (a file name, for the log); the GL objects are
// then deleted and the entry's program is 0. The reference count is 1.
ProgramEntry compileProgram(std::string const& vertexSource, std::string const& fragmentSource,
                            std::string const& attributes, std::string const& vertexPrefix,
                            std::string const& fragmentPrefix, std::string const& name = std::string());

// readShaderSource of both files, then compileProgram.
ProgramEntry loadProgram(std::string const& vertexFile, std::string const& fragmentFile, std::string const& attributes,
                         std::string const& vertexPrefix, std::string const& fragmentPrefix);

// The blur weights declared as GLSL constants, the fragment prefix of the blur program.
std::string blurWeightsPrelude();

}  // namespace Graphics
