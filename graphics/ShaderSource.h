#pragma once
// What one program is built from; held only while the program is being made.
#include <string>

namespace Graphics {

struct ShaderSource {
    std::string const& vertexFile;    // e.g. "shaders/standard.vert"
    std::string const& fragmentFile;  // e.g. "shaders/standard.frag"
    std::string const& attributes;    // bound to locations 0, 1, 2... in order, e.g. "vertex,uvcoord"
    std::string const& vertexPrefix;  // placed before the vertex file's text
    std::string const& fragmentPrefix;
};

}  // namespace Graphics
