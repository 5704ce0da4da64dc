#pragma once
// The rendering context: the texture table with its memory budget and per-frame texture pass,
// the background decode pool, the GL state caches, and the program, buffer and framebuffer
// tables. Main thread only (it owns the GL context); the decode workers touch only the queue.
#include <GLES2/gl2.h>

#include <array>
#include <boost/optional.hpp>
#include <cstdint>
#include <glm/mat4x4.hpp>
#include <memory>
#include <string>

#include "graphics/BufferEntry.h"
#include "graphics/DecompressionQueue.h"
#include "graphics/FramebufferSlot.h"
#include "graphics/PendingUpload.h"
#include "graphics/ProgramEntry.h"
#include "graphics/SortedTable.h"
#include "graphics/TextureEntry.h"
#include "graphics/VertexAttribState.h"
#include "os/TextureDescriptor.h"

namespace Graphics {

class Context {
public:
    static constexpr uint64_t kTextureCapacity = 1024;
    static constexpr uint64_t kProgramCapacity = 32;
    static constexpr uint64_t kBufferCapacity = 512;
    static constexpr uint64_t kFramebufferCapacity = 16;
    static constexpr uint64_t kVertexAttribCount = 6;
    static constexpr uint64_t kTextureUnitCount = 4;
    static constexpr uint16_t kPageSide = 1024;
    static constexpr uint64_t kPageBytes = 0x400000;

    // The decode pool: `count` 0 takes the hardware's thread count. Tests start the workers
    // later (`decodeQueue().startWorkers()`) to look at the queue before anything is taken.
    struct Workers {
        unsigned count = 0;
        bool startNow = true;
    };

    Context(uint64_t textureBudget, boost::optional<uint16_t> lowEndDownscale);
    Context(uint64_t textureBudget, boost::optional<uint16_t> lowEndDownscale, Workers workers);
    ~Context();
    Context(Context const&) = delete;
    Context& operator=(Context const&) = delete;

    // The key of textures, programs and buffers: std::hash of the text.
    static uint64_t hashName(std::string const& name);

    // --- Texture table ---
    // Finds the entry of `hash` and adds a reference, or creates it from the descriptor (reading
    // the image header now; pixels follow in later texture passes). Null when the table is full
    // or the hash is unknown and no descriptor is given.
    TextureEntry* requestTexture(uint64_t hash, TextureDescriptor const* descriptor);
    // Drops one reference of the entry with exactly this hash.
    void releaseTexture(uint64_t hash);
    // The per-frame texture pass: evict to the budget, queue decodes, upload finished images.
    void updateTextures();
    // Frees the least important resident texture and moves it back to pending.
    void evictTexture();
    // Nothing queued, decoding, finished or being uploaded after the last pass.
    bool texturesLoaded() const { return texturesLoaded_ != 0; }
    void setBurstLoading(bool on) { burstLoading_ = on ? 1 : 0; }
    bool burstLoading() const { return burstLoading_ != 0; }
    void setSuspendTextureRequests(bool on) { suspendTextureRequests_ = on ? 1 : 0; }
    bool suspendTextureRequests() const { return suspendTextureRequests_ != 0; }
    uint64_t textureBudget() const { return textureBudget_; }
    void setTextureBudget(uint64_t bytes) { textureBudget_ = bytes; }
    // The page order counter; the draw list numbers on-demand page textures from it.
    uint64_t& textureRequestCounter() { return pageOrderCounter_; }
    glm::mat4& projectionView() { return projectionView_; }

    // --- GL state caches (each skips the GL call when the value is already set) ---
    // Exactly attribute arrays 0 to n - 1 enabled.
    void setEnabledVertexAttribCount(uint64_t n);
    uint64_t enabledVertexAttribCount() const { return enabledVertexAttribCount_; }
    // GL_ARRAY_BUFFER and GL_ELEMENT_ARRAY_BUFFER are cached; other targets are ignored.
    void bindBuffer(GLenum target, GLuint name);
    void vertexAttribPointer(GLuint index, GLint size, GLenum type, bool normalized, GLsizei stride,
                             void const* pointer);
    void useProgram(GLuint program);
    void activeTexture(GLenum unit);
    // Binds GL_TEXTURE_2D on the active unit.
    void bindTexture(GLuint name);
    void bindTextureUnit(GLenum unit, GLuint name);
    void setBlend(bool on);
    void setBlendFunc(GLenum source, GLenum destination);
    void restoreBlendFunc();
    void bufferSubData(GLenum target, GLintptr offset, GLsizeiptr size, void const* data);
    void discardFramebuffer(GLenum target, GLsizei count, GLenum const* attachments);
    // A new GL texture bound on the active unit with the sampler options applied.
    GLuint createTexture(TextureOptions const& options);

    // --- Programs ---
    // The GL program name of the entry for `key`, compiling and linking it on first use. The
    // attribute list names attributes bound to locations 0, 1, 2... in order (empty: none).
    // Null (and no reference taken) when the table is full.
    GLuint const* acquireProgram(uint64_t key, std::string const& vertexFile, std::string const& fragmentFile,
                                 std::string const& attributes, std::string const& vertexPrefix,
                                 std::string const& fragmentPrefix);
    void releaseProgram(uint64_t key);

    // --- Buffers ---
    // The current name of the buffer entry for `key`, made on first use with `count` (1 to 3)
    // names filled with the data. Null (and no reference taken) when the table is full.
    GLuint const* acquireBuffer(uint64_t key, uint64_t count, GLenum target, GLsizeiptr size, void const* data,
                                GLenum usage);
    void releaseBuffer(uint64_t key);
    void beginDynamicBuffers();
    void endDynamicBuffers();

    // --- Framebuffers ---
    // Null when all slots are taken.
    FramebufferSlot* createFramebuffer(GLsizei width, GLsizei height, TextureOptions const& options, GLenum format);
    void bindFramebuffer(GLuint name);
    void bindDefaultFramebuffer();
    void deleteFramebuffer(FramebufferSlot* slot);

    // --- Inspection (tests, loading screens, diagnostics) ---
    uint64_t usedTextureBytes() const { return usedBytes_; }
    uint64_t liveTextureCount() const { return textures_->size(); }
    uint64_t pendingTextureCount() const { return pendingCount_; }
    uint64_t residentTextureCount() const { return residentCount_; }
    uint64_t sparePageCount() const { return spareCount_; }
    uint64_t pagesInUseCount() const { return pagesInUseCount_; }
    // The slot of exactly this hash, or null.
    TextureSlot* findTexture(uint64_t hash) const;
    DecompressionQueue& decodeQueue() { return *queue_; }
    PendingUpload const& currentUpload() const { return upload_; }
    GLuint currentProgram() const { return currentProgram_; }
    GLenum activeTextureUnit() const { return GLenum(GL_TEXTURE0 + activeUnit_); }
    GLuint boundTexture(uint64_t unit) const { return unit < kTextureUnitCount ? boundTextures_[unit] : 0; }
    GLuint currentFramebuffer() const { return currentFramebuffer_; }
    GLuint defaultFramebuffer() const { return defaultFramebuffer_; }
    bool blendEnabled() const { return blendEnabled_ != 0; }
    uint64_t programCount() const { return programs_.size(); }
    uint64_t bufferCount() const { return buffers_.size(); }
    GLuint blitProgram() const { return blit_.program; }

private:
    struct TexturePair {
        uint64_t hash;
        TextureSlot* slot;
    };

    void freeTexture(TextureEntry& entry);
    void clearFromUnits(GLuint name);
    void dropOrphanedJobs();
    void placePendingTextures();
    void takeBackQueuedJob();
    void uploadFinishedImages();
    bool uploadStep();
    void finishUpload();
    void dropUpload();
    void drawBlit();
    void applySamplerOptions(TextureOptions const& options);
    void rotateBuffers();
    void pushPending(TexturePair pair);
    void pushSpare(GLuint name);
    void insertPageInUse(GLuint name);
    bool removePageInUse(GLuint name);
    void deleteSpare();

    bool hasDiscardFramebuffer_ = false;
    boost::optional<uint16_t> lowEndDownscale_;
    uint64_t textureBudget_ = 0;
    glm::mat4 projectionView_;
    // On the heap: the slots hold a path string each and make the table large.
    std::unique_ptr<SortedTable<TextureSlot, kTextureCapacity>> textures_;
    uint64_t pendingCount_ = 0;
    std::array<TexturePair, kTextureCapacity> pending_{};
    uint64_t residentCount_ = 0;
    std::array<TexturePair, kTextureCapacity> resident_{};
    uint64_t ordinaryOrderCounter_ = ~uint64_t(0);
    uint64_t pageOrderCounter_ = 0;
    uint64_t usedBytes_ = 0;

    SortedTable<ProgramEntry, kProgramCapacity> programs_;
    SortedTable<BufferEntry, kBufferCapacity> buffers_;
    std::array<FramebufferSlot, kFramebufferCapacity> framebuffers_{};
    GLuint currentProgram_ = 0;
    uint64_t activeUnit_ = 0;
    std::array<GLuint, kTextureUnitCount> boundTextures_{};
    GLuint defaultFramebuffer_ = 0;
    GLuint currentFramebuffer_ = 0;
    std::array<VertexAttribState, kVertexAttribCount> attribs_{};
    GLuint arrayBuffer_ = 0;
    GLuint elementArrayBuffer_ = 0;
    GLenum blendSource_ = GL_ONE;
    GLenum blendDestination_ = GL_ONE_MINUS_SRC_ALPHA;
    static constexpr GLenum kDefaultBlendSource = GL_ONE;
    static constexpr GLenum kDefaultBlendDestination = GL_ONE_MINUS_SRC_ALPHA;
    uint8_t blendEnabled_ = 1;

    std::unique_ptr<DecompressionQueue> queue_;
    uint8_t burstLoading_ = 0;
    uint64_t enabledVertexAttribCount_ = 0;
    uint8_t texturesLoaded_ = 0;
    uint8_t suspendTextureRequests_ = 0;
    PendingUpload upload_;
    uint64_t pagesInUseCount_ = 0;
    std::array<GLuint, kTextureCapacity> pagesInUse_{};  // descending
    uint64_t spareCount_ = 0;
    std::array<GLuint, kTextureCapacity> spares_{};  // a stack
    ProgramEntry blit_;
};

}  // namespace Graphics
