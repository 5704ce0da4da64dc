#include "graphics/tests/FakeGl.h"

#include <algorithm>
#include <cstring>

namespace gfx_test {

namespace {

std::vector<GlCall> gCalls;
GLuint gNextName = 1;
bool gCompileOk = true;
bool gLinkOk = true;

template <class... A>
void record(char const* name, A... args) {
    gCalls.push_back(GlCall{name, {static_cast<long long>(args)...}});
}

long long p(void const* ptr) { return static_cast<long long>(reinterpret_cast<uintptr_t>(ptr)); }

Graphics::GlFunctions makeFake() {
    Graphics::GlFunctions f{};
    f.blendFunc = [](GLenum s, GLenum d) { record("blendFunc", s, d); };
    f.enable = [](GLenum c) { record("enable", c); };
    f.disable = [](GLenum c) { record("disable", c); };
    f.depthMask = [](GLboolean b) { record("depthMask", b); };
    f.pixelStorei = [](GLenum a, GLint b) { record("pixelStorei", a, b); };
    f.clearColor = [](GLfloat, GLfloat, GLfloat, GLfloat) { record("clearColor"); };
    f.activeTexture = [](GLenum u) { record("activeTexture", u); };
    f.genTextures = [](GLsizei n, GLuint* out) {
        for (GLsizei i = 0; i < n; ++i) out[i] = gNextName++;
        record("genTextures", n, out[0]);
    };
    f.texParameteri = [](GLenum t, GLenum pn, GLint v) { record("texParameteri", t, pn, v); };
    f.texImage2D = [](GLenum, GLint, GLint internal, GLsizei w, GLsizei h, GLint, GLenum format, GLenum,
                      void const* px) { record("texImage2D", internal, w, h, format, p(px)); };
    f.texSubImage2D = [](GLenum, GLint, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum,
                         void const* px) { record("texSubImage2D", x, y, w, h, format, p(px)); };
    f.discardFramebufferEXT = [](GLenum t, GLsizei n, GLenum const*) { record("discardFramebufferEXT", t, n); };
    f.bindBuffer = [](GLenum t, GLuint b) { record("bindBuffer", t, b); };
    f.bufferData = [](GLenum t, GLsizeiptr s, void const*, GLenum u) { record("bufferData", t, s, u); };
    f.genBuffers = [](GLsizei n, GLuint* out) {
        for (GLsizei i = 0; i < n; ++i) out[i] = gNextName++;
        record("genBuffers", n);
    };
    f.deleteBuffers = [](GLsizei n, GLuint const* b) { record("deleteBuffers", n, b[0]); };
    f.bufferSubData = [](GLenum t, GLintptr o, GLsizeiptr s, void const*) { record("bufferSubData", t, o, s); };
    f.vertexAttribPointer = [](GLuint i, GLint s, GLenum t, GLboolean n, GLsizei st, void const* ptr) {
        record("vertexAttribPointer", i, s, t, n, st, p(ptr));
    };
    f.drawElements = [](GLenum m, GLsizei c, GLenum t, void const* o) { record("drawElements", m, c, t, p(o)); };
    f.drawArrays = [](GLenum m, GLint first, GLsizei c) { record("drawArrays", m, first, c); };
    f.uniformMatrix4fv = [](GLint l, GLsizei c, GLboolean, GLfloat const*) { record("uniformMatrix4fv", l, c); };
    f.uniform4f = [](GLint l, GLfloat, GLfloat, GLfloat, GLfloat) { record("uniform4f", l); };
    f.uniform1f = [](GLint l, GLfloat) { record("uniform1f", l); };
    f.uniform1i = [](GLint l, GLint v) { record("uniform1i", l, v); };
    f.getUniformLocation = [](GLuint, GLchar const* n) -> GLint {
        record("getUniformLocation");
        return GLint(std::strlen(n));
    };
    f.getAttribLocation = [](GLuint, GLchar const*) -> GLint { return 0; };
    f.createShader = [](GLenum t) -> GLuint {
        record("createShader", t);
        return gNextName++;
    };
    f.shaderSource = [](GLuint s, GLsizei n, GLchar const* const*, GLint const*) { record("shaderSource", s, n); };
    f.compileShader = [](GLuint s) { record("compileShader", s); };
    f.getShaderiv = [](GLuint, GLenum pn, GLint* out) { *out = pn == GL_COMPILE_STATUS ? (gCompileOk ? 1 : 0) : 0; };
    f.getShaderInfoLog = [](GLuint, GLsizei, GLsizei* w, GLchar*) { *w = 0; };
    f.deleteShader = [](GLuint s) { record("deleteShader", s); };
    f.createProgram = []() -> GLuint {
        record("createProgram");
        return gNextName++;
    };
    f.attachShader = [](GLuint pr, GLuint s) { record("attachShader", pr, s); };
    f.bindAttribLocation = [](GLuint pr, GLuint i, GLchar const* n) {
        gCalls.push_back(GlCall{std::string("bindAttribLocation:") + n, {pr, i}});
    };
    f.linkProgram = [](GLuint pr) { record("linkProgram", pr); };
    f.getProgramiv = [](GLuint, GLenum pn, GLint* out) { *out = pn == GL_LINK_STATUS ? (gLinkOk ? 1 : 0) : 0; };
    f.getProgramInfoLog = [](GLuint, GLsizei, GLsizei* w, GLchar*) { *w = 0; };
    f.deleteProgram = [](GLuint pr) { record("deleteProgram", pr); };
    f.genFramebuffers = [](GLsizei n, GLuint* out) {
        for (GLsizei i = 0; i < n; ++i) out[i] = gNextName++;
        record("genFramebuffers", n);
    };
    f.framebufferTexture2D = [](GLenum, GLenum, GLenum, GLuint t, GLint) { record("framebufferTexture2D", t); };
    f.clear = [](GLbitfield m) { record("clear", m); };
    f.deleteFramebuffers = [](GLsizei n, GLuint const* fb) { record("deleteFramebuffers", n, fb[0]); };
    f.useProgram = [](GLuint pr) { record("useProgram", pr); };
    f.bindTexture = [](GLenum t, GLuint tex) { record("bindTexture", t, tex); };
    f.bindFramebuffer = [](GLenum t, GLuint fb) { record("bindFramebuffer", t, fb); };
    f.enableVertexAttribArray = [](GLuint i) { record("enableVertexAttribArray", i); };
    f.disableVertexAttribArray = [](GLuint i) { record("disableVertexAttribArray", i); };
    f.viewport = [](GLint x, GLint y, GLsizei w, GLsizei h) { record("viewport", x, y, w, h); };
    f.deleteTextures = [](GLsizei n, GLuint const* t) { record("deleteTextures", n, t[0]); };
    f.getIntegerv = [](GLenum pn, GLint* out) {
        record("getIntegerv", pn);
        *out = 0;
    };
    f.getString = [](GLenum) -> GLubyte const* { return reinterpret_cast<GLubyte const*>(""); };
    return f;
}

}  // namespace

FakeGl::FakeGl() : scope_(makeFake()) {
    gCalls.clear();
    gNextName = 1;
    gCompileOk = gLinkOk = true;
}

FakeGl::~FakeGl() = default;

std::vector<GlCall> const& FakeGl::calls() const { return gCalls; }

int FakeGl::count(std::string const& name) const {
    return int(std::count_if(gCalls.begin(), gCalls.end(), [&](GlCall const& c) { return c.name == name; }));
}

std::vector<GlCall> FakeGl::callsOf(std::string const& name) const {
    std::vector<GlCall> out;
    for (auto const& c : gCalls) {
        if (c.name == name) out.push_back(c);
    }
    return out;
}

void FakeGl::clear() { gCalls.clear(); }

void FakeGl::setCompileOk(bool ok) { gCompileOk = ok; }
void FakeGl::setLinkOk(bool ok) { gLinkOk = ok; }

}  // namespace gfx_test
