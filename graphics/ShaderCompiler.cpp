#include "graphics/ShaderCompiler.h"

#include <boost/algorithm/string/replace.hpp>
#include <boost/algorithm/string/split.hpp>
#include <vector>

#include "graphics/GlFunctions.h"
#include "graphics/GraphicsLog.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"

namespace Graphics {

namespace {

std::string infoLog(GLuint object, bool program) {
    GLint length = 0;
    auto& gl = glFunctions();
    (program ? gl.getProgramiv : gl.getShaderiv)(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1) return std::string();
    std::string text(size_t(length), '\0');
    GLsizei written = 0;
    (program ? gl.getProgramInfoLog : gl.getShaderInfoLog)(object, length, &written, text.data());
    text.resize(size_t(std::max<GLsizei>(written, 0)));
    return text;
}

GLuint compileStage(GLenum stage, std::string const& prefix, std::string const& source, std::string const& name) {
    auto& gl = glFunctions();
    GLuint const shader = gl.createShader(stage);
    GLchar const* texts[2] = {prefix.c_str(), source.c_str()};
    GLint const lengths[2] = {GLint(prefix.size()), GLint(source.size())};
    gl.shaderSource(shader, 2, texts, lengths);
    gl.compileShader(shader);
    GLint status = GL_FALSE;
    gl.getShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        std::string const what = std::string(stage == GL_VERTEX_SHADER ? "vertex" : "fragment") + " shader " + name;
        logLineOnce(what, what + " does not compile: " + infoLog(shader, false));
    }
    return status == GL_TRUE ? shader : (gl.deleteShader(shader), 0u);
}

}  // namespace

std::string readShaderSource(std::string const& path) {
    auto file = Singleton<FileSystem>::instance().open(path);
    if (file->size() == 0 || !file->data()) return std::string();
    std::string text(reinterpret_cast<char const*>(file->data()), size_t(file->size()));
    boost::replace_all(text, "\r", "\n");
    return text;
}

ProgramEntry compileProgram(std::string const& vertexSource, std::string const& fragmentSource,
                            std::string const& attributes, std::string const& vertexPrefix,
                            std::string const& fragmentPrefix, std::string const& name) {
    auto& gl = glFunctions();
    ProgramEntry entry;
    entry.referenceCount = 1;
    GLuint const fragment = compileStage(GL_FRAGMENT_SHADER, fragmentPrefix, fragmentSource, name);
    GLuint const vertex = compileStage(GL_VERTEX_SHADER, vertexPrefix, vertexSource, name);
    if (!fragment || !vertex) {
        if (fragment) gl.deleteShader(fragment);
        if (vertex) gl.deleteShader(vertex);
        return entry;
    }
    GLuint const program = gl.createProgram();
    gl.attachShader(program, fragment);
    gl.attachShader(program, vertex);
    if (!attributes.empty()) {
        std::vector<std::string> names;
        boost::split(names, attributes, [](char c) { return c == ','; });
        for (size_t i = 0; i < names.size(); ++i) gl.bindAttribLocation(program, GLuint(i), names[i].c_str());
    }
    gl.linkProgram(program);
    GLint status = GL_FALSE;
    gl.getProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        logLineOnce("program " + name, "program " + name + " does not link: " + infoLog(program, true));
        gl.deleteProgram(program);
        gl.deleteShader(fragment);
        gl.deleteShader(vertex);
        return entry;
    }
    entry.program = program;
    entry.fragmentShader = fragment;
    entry.vertexShader = vertex;
    return entry;
}

ProgramEntry loadProgram(std::string const& vertexFile, std::string const& fragmentFile, std::string const& attributes,
                         std::string const& vertexPrefix, std::string const& fragmentPrefix) {
    std::string const vertex = readShaderSource(vertexFile);
    std::string const fragment = readShaderSource(fragmentFile);
    // Named once, not once per variant built from it.
    if (vertex.empty()) logLineOnce("missing " + vertexFile, "shader file \"" + vertexFile + "\" is missing");
    if (fragment.empty()) logLineOnce("missing " + fragmentFile, "shader file \"" + fragmentFile + "\" is missing");
    return compileProgram(vertex, fragment, attributes, vertexPrefix, fragmentPrefix, vertexFile + " + " + fragmentFile);
}

std::string blurWeightsPrelude() {
    float const w[8] = {0.0725778266787529f, 0.07149728387594223f, 0.06973201036453247f, 0.06733360886573792f,
                        0.06437075883150101f, 0.06092597171664238f, 0.057091742753982544f, 0.052966490387916565f};
    float const centre = 0.07294163107872009f;
    auto vec4 = [&](char const* name, int first) {
        std::string s = std::string("const highp vec4 ") + name + " = vec4(";
        for (int i = first; i < first + 4; ++i) s += (i > first ? ", " : "") + std::to_string(w[i]);
        return s + ");";
    };
    return vec4("weights", 0) + vec4("weights2", 4) + "const highp float centerWeight = " + std::to_string(centre) +
           ";";
}

}  // namespace Graphics
