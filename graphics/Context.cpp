// Construction, GL state caches, programs, buffers and framebuffers of the context. The texture
// table and the texture pass are in ContextTextures.cpp.
#include "graphics/Context.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "graphics/GlFunctions.h"
#include "graphics/GraphicsLog.h"
#include "graphics/ShaderCompiler.h"
#include "os/services/PlatformServices.h"

namespace Graphics {

namespace {

char const kBlitVertex[] =
    "attribute lowp vec4 vertex;\n"
    "attribute lowp vec2 uvcoord;\n"
    "varying lowp vec2 vertexUVCoord;\n"
    "void main() {\n"
    "    vertexUVCoord = uvcoord;\n"
    "    gl_Position = vertex;\n"
    "}\n";

char const kBlitFragment[] =
    "uniform lowp sampler2D tex;\n"
    "varying lowp vec2 vertexUVCoord;\n"
    "void main() {\n"
    "    gl_FragColor = texture2D(tex, vertexUVCoord);\n"
    "}\n";

GLint filterFor(uint8_t option) { return option == 1 ? GL_LINEAR : GL_NEAREST; }

GLint wrapFor(uint8_t option) {
    switch (option) {
    case 1: return GL_REPEAT;
    case 2: return GL_MIRRORED_REPEAT;
    default: return GL_CLAMP_TO_EDGE;
    }
}

}  // namespace

Context::Context(uint64_t textureBudget, boost::optional<uint16_t> lowEndDownscale)
    : Context(textureBudget, lowEndDownscale, Workers{}) {}

Context::Context(uint64_t textureBudget, boost::optional<uint16_t> lowEndDownscale, Workers workers)
    : hasDiscardFramebuffer_(hasDiscardFramebufferExtension()),
      lowEndDownscale_(lowEndDownscale),
      textureBudget_(textureBudget),
      projectionView_(1.0f),
      textures_(std::make_unique<SortedTable<TextureSlot, kTextureCapacity>>()) {
    defaultFramebuffer_ = currentFramebuffer_ = currentFramebufferBinding();

    unsigned const count =
        workers.count ? workers.count : DecompressionQueue::workerCountFor(std::thread::hardware_concurrency());
    queue_ = std::make_unique<DecompressionQueue>(count, isLowEndDevice(), workers.startNow);

    blit_ = compileProgram(kBlitVertex, kBlitFragment, "vertex,uvcoord", "", "", "built-in blit");
    useProgram(blit_.program);
    if (blit_.program) gl::uniform1i(gl::getUniformLocation(blit_.program, "tex"), 0);

    gl::disable(GL_BLEND);
    gl::clearColor(0, 0, 0, 0);
    gl::enable(GL_BLEND);
    gl::blendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    gl::disable(GL_DEPTH_TEST);
    gl::depthMask(false);
    gl::disable(GL_DITHER);
    gl::pixelStorei(GL_UNPACK_ALIGNMENT, 1);
    projectionView_ = glm::mat4(0.0f);
}

Context::~Context() {
    // The workers go first: they write into the queue's areas and read the slots.
    queue_.reset();
}

uint64_t Context::hashName(std::string const& name) { return uint64_t(std::hash<std::string>{}(name)); }

// --- GL state caches ---

void Context::setEnabledVertexAttribCount(uint64_t n) {
    n = std::min(n, kVertexAttribCount);
    for (uint64_t i = enabledVertexAttribCount_; i < n; ++i) gl::enableVertexAttribArray(GLuint(i));
    for (uint64_t i = n; i < enabledVertexAttribCount_; ++i) gl::disableVertexAttribArray(GLuint(i));
    enabledVertexAttribCount_ = n;
}

void Context::bindBuffer(GLenum target, GLuint name) {
    GLuint* cached = target == GL_ARRAY_BUFFER           ? &arrayBuffer_
                     : target == GL_ELEMENT_ARRAY_BUFFER ? &elementArrayBuffer_
                                                         : nullptr;
    if (!cached || *cached == name) return;
    *cached = name;
    gl::bindBuffer(target, name);
}

void Context::vertexAttribPointer(GLuint index, GLint size, GLenum type, bool normalized, GLsizei stride,
                                  void const* pointer) {
    VertexAttribState state;
    state.arrayBuffer = arrayBuffer_;
    state.size = uint32_t(size);
    state.type = type;
    state.normalized = normalized ? 1 : 0;
    state.stride = uint32_t(stride);
    state.pointer = uint64_t(reinterpret_cast<uintptr_t>(pointer));
    if (index < kVertexAttribCount) {
        if (attribs_[index] == state) return;
        attribs_[index] = state;
    }
    // Indices past the cached ones still reach GL, uncached.
    gl::vertexAttribPointer(index, size, type, normalized ? GL_TRUE : GL_FALSE, stride, pointer);
}

void Context::useProgram(GLuint program) {
    if (currentProgram_ == program) return;
    currentProgram_ = program;
    gl::useProgram(program);
}

void Context::activeTexture(GLenum unit) {
    uint64_t const index = uint64_t(unit - GL_TEXTURE0);
    if (index >= kTextureUnitCount) {
        logLine("texture unit " + std::to_string(index) + " is past the " + std::to_string(kTextureUnitCount) +
                " cached units; ignored");
        return;
    }
    if (activeUnit_ == index) return;
    activeUnit_ = index;
    gl::activeTexture(unit);
}

void Context::bindTexture(GLuint name) {
    if (boundTextures_[activeUnit_] == name) return;
    boundTextures_[activeUnit_] = name;
    gl::bindTexture(GL_TEXTURE_2D, name);
}

void Context::bindTextureUnit(GLenum unit, GLuint name) {
    uint64_t const index = uint64_t(unit - GL_TEXTURE0);
    if (index >= kTextureUnitCount) {
        logLine("texture unit " + std::to_string(index) + " is past the " + std::to_string(kTextureUnitCount) +
                " cached units; binding ignored");
        return;
    }
    if (boundTextures_[index] == name) return;
    activeTexture(unit);
    bindTexture(name);
}

void Context::setBlend(bool on) {
    uint8_t const value = on ? 1 : 0;
    if (blendEnabled_ == value) return;
    blendEnabled_ = value;
    if (on) {
        gl::enable(GL_BLEND);
    } else {
        gl::disable(GL_BLEND);
    }
}

void Context::setBlendFunc(GLenum source, GLenum destination) {
    if (blendSource_ == source && blendDestination_ == destination) return;
    blendSource_ = source;
    blendDestination_ = destination;
    gl::blendFunc(source, destination);
}

void Context::restoreBlendFunc() { setBlendFunc(kDefaultBlendSource, kDefaultBlendDestination); }

void Context::bufferSubData(GLenum target, GLintptr offset, GLsizeiptr size, void const* data) {
    gl::bufferSubData(target, offset, size, data);
}

void Context::discardFramebuffer(GLenum target, GLsizei count, GLenum const* attachments) {
    if (hasDiscardFramebuffer_) gl::discardFramebufferEXT(target, count, attachments);
}

void Context::applySamplerOptions(TextureOptions const& options) {
    gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filterFor(options.minFilter));
    gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filterFor(options.magFilter));
    gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrapFor(options.wrapS));
    gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrapFor(options.wrapT));
}

GLuint Context::createTexture(TextureOptions const& options) {
    GLuint const name = gl::genTexture();
    bindTexture(name);
    applySamplerOptions(options);
    return name;
}

void Context::clearFromUnits(GLuint name) {
    for (auto& bound : boundTextures_) {
        if (bound == name) bound = 0;
    }
}

// --- Programs ---

GLuint const* Context::acquireProgram(uint64_t key, std::string const& vertexFile, std::string const& fragmentFile,
                                      std::string const& attributes, std::string const& vertexPrefix,
                                      std::string const& fragmentPrefix) {
    if (ProgramEntry* found = programs_.find(key)) {
        ++found->referenceCount;
        return &found->program;
    }
    ProgramEntry* record = programs_.insert(key);
    if (!record) {
        logLine("program table full (" + std::to_string(kProgramCapacity) + "): " + vertexFile + " + " +
                fragmentFile + " refused");
        return nullptr;
    }
    *record = loadProgram(vertexFile, fragmentFile, attributes, vertexPrefix, fragmentPrefix);
    return &record->program;
}

void Context::releaseProgram(uint64_t key) {
    ProgramEntry* record = programs_.find(key);
    if (!record || --record->referenceCount > 0) return;
    if (record->program) {
        gl::deleteShader(record->vertexShader);
        gl::deleteShader(record->fragmentShader);
        gl::deleteProgram(record->program);
    }
    // A deleted program must not stay "current": a new one may get the same name.
    if (currentProgram_ == record->program) currentProgram_ = 0;
    programs_.erase(key);
}

// --- Buffers ---

GLuint const* Context::acquireBuffer(uint64_t key, uint64_t count, GLenum target, GLsizeiptr size, void const* data,
                                     GLenum usage) {
    if (BufferEntry* found = buffers_.find(key)) {
        ++found->referenceCount;
        return &found->current;
    }
    BufferEntry* record = buffers_.insert(key);
    if (!record) {
        logLine("buffer table full (" + std::to_string(kBufferCapacity) + "): buffer refused");
        return nullptr;
    }
    count = std::clamp<uint64_t>(count, 1, 3);
    gl::genBuffers(GLsizei(count), record->names);
    for (uint64_t i = 0; i < count; ++i) {
        if (target == GL_ARRAY_BUFFER || target == GL_ELEMENT_ARRAY_BUFFER) bindBuffer(target, record->names[i]);
        gl::bufferData(target, size, data, usage);
    }
    record->current = record->names[0];
    record->usage = usage;
    record->referenceCount = 1;
    return &record->current;
}

void Context::releaseBuffer(uint64_t key) {
    BufferEntry* record = buffers_.find(key);
    if (!record || --record->referenceCount > 0) return;
    for (GLuint name : record->names) {
        if (!name) continue;
        gl::deleteBuffers(1, &name);
        if (arrayBuffer_ == name) arrayBuffer_ = 0;
        if (elementArrayBuffer_ == name) elementArrayBuffer_ = 0;
        for (auto& attrib : attribs_) {
            if (attrib.arrayBuffer == name) attrib = VertexAttribState{};
        }
    }
    buffers_.erase(key);
}

void Context::beginDynamicBuffers() {}

void Context::endDynamicBuffers() {}

void Context::rotateBuffers() {
    for (uint64_t i = 0; i < buffers_.size(); ++i) {
        BufferEntry& b = buffers_[i];
        uint64_t now = 0;
        while (now < 2 && b.names[now] != b.current) ++now;
        uint32_t const next = b.names[(now + 1) % 3];
        b.current = next ? next : b.names[0];
    }
}

// --- Framebuffers ---

FramebufferSlot* Context::createFramebuffer(GLsizei width, GLsizei height, TextureOptions const& options,
                                            GLenum format) {
    auto it = std::find_if(framebuffers_.begin(), framebuffers_.end(),
                           [](FramebufferSlot const& s) { return s.texture == 0; });
    if (it == framebuffers_.end()) {
        logLine("all " + std::to_string(kFramebufferCapacity) + " framebuffer slots are taken; framebuffer refused");
        return nullptr;
    }
    it->texture = createTexture(options);
    gl::texImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, format, GL_UNSIGNED_BYTE, nullptr);
    it->framebuffer = gl::genFramebuffer();
    bindFramebuffer(it->framebuffer);
    gl::framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, it->texture, 0);
    gl::clear(GL_COLOR_BUFFER_BIT);
    bindDefaultFramebuffer();
    return &*it;
}

void Context::bindFramebuffer(GLuint name) {
    if (currentFramebuffer_ == name) return;
    currentFramebuffer_ = name;
    gl::bindFramebuffer(GL_FRAMEBUFFER, name);
}

void Context::bindDefaultFramebuffer() { bindFramebuffer(defaultFramebuffer_); }

void Context::deleteFramebuffer(FramebufferSlot* slot) {
    if (!slot || slot->texture == 0) return;
    if (currentFramebuffer_ == slot->framebuffer) currentFramebuffer_ = 0;
    gl::deleteFramebuffers(1, &slot->framebuffer);
    clearFromUnits(slot->texture);
    gl::deleteTextures(1, &slot->texture);
    *slot = FramebufferSlot{};
}

}  // namespace Graphics
