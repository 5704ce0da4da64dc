// The texture table of the context and the per-frame texture pass.
#include <algorithm>
#include <mutex>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "graphics/GraphicsLog.h"
#include "graphics/ImageDecoding.h"

namespace Graphics {

namespace {

uint64_t orderOf(TextureSlot const* slot) { return slot->entry.loadOrder; }

// Heap comparators: the pending list is a max-heap, the others min-heaps, by load order.
template <class Pair>
bool lessImportant(Pair const& a, Pair const& b) {
    return orderOf(a.slot) < orderOf(b.slot);
}
template <class Pair>
bool moreImportant(Pair const& a, Pair const& b) {
    return orderOf(a.slot) > orderOf(b.slot);
}

GLenum formatFor(TextureEntry const& e) {
    switch (e.channels) {
    case 1: return (e.loadFlags & kLoadLuminance) ? GL_LUMINANCE : GL_ALPHA;
    case 2: return GL_LUMINANCE_ALPHA;
    case 3: return GL_RGB;
    default: return GL_RGBA;
    }
}

// The built-in quad: x, y, u, v per corner, drawn as a triangle strip.
float const kBlitQuad[16] = {1, -1, 1, 0, 1, 1, 1, 1, -1, -1, 0, 0, -1, 1, 0, 1};

}  // namespace

TextureSlot* Context::findTexture(uint64_t hash) const { return textures_->find(hash); }

TextureEntry* Context::requestTexture(uint64_t hash, TextureDescriptor const* descriptor) {
    if (TextureSlot* found = textures_->find(hash)) {
        ++found->referenceCount;
        return &found->entry;
    }
    if (!descriptor) return nullptr;
    if (textures_->full()) {
        logLine("texture table full (" + std::to_string(kTextureCapacity) + "): \"" + descriptor->path +
                "\" refused");
        return nullptr;
    }
    uint16_t width = 0, height = 0;
    uint8_t channels = 3;
    bool const scaled = (descriptor->flags & kLoadLowEndDownscale) && lowEndDownscale_;
    readImageInfo(*descriptor, width, height, channels, scaled ? lowEndDownscale_ : boost::none);
    bool const page = (channels == 3 || channels == 4) && width == kPageSide && height == kPageSide;
    if (page) channels = 4;
    if (uint64_t(width) * height * channels > DecompressionQueue::kAreaBytes) {
        // It could never be decoded: refuse it now rather than reserve budget for it.
        logLine("\"" + descriptor->path + "\" (" + std::to_string(width) + " x " + std::to_string(height) + " x " +
                std::to_string(channels) + ") is larger than a decode area; it stays empty");
        width = height = 0;
        channels = 3;
    }

    TextureSlot* slot = textures_->insert(hash);
    slot->referenceCount = 1;
    TextureEntry& e = slot->entry;
    e.width = width;
    e.height = height;
    e.path = descriptor->path;
    e.options = descriptor->options;
    e.loadFlags = descriptor->flags;
    e.loadOrder = (page && !(descriptor->flags & kLoadOrdinaryOrder)) ? pageOrderCounter_++ : ordinaryOrderCounter_--;
    e.channels = channels;
    e.pageTexture = page ? 1 : 0;
    e.byteSize = uint64_t(width) * height * channels;
    pending_[pendingCount_++] = TexturePair{hash, slot};
    return &e;
}

void Context::releaseTexture(uint64_t hash) {
    TextureSlot* slot = textures_->find(hash);
    if (!slot) {
        logLine("release of a texture that is not in the table; ignored");
        return;
    }
    if (slot->referenceCount > 0) --slot->referenceCount;
    // A decode job still holding the slot is dropped by the next texture pass.
    if (slot->referenceCount > 0) return;
    auto isSlot = [slot](TexturePair const& p) { return p.slot == slot; };
    auto residentEnd = resident_.begin() + residentCount_;
    auto inResident = std::find_if(resident_.begin(), residentEnd, isSlot);
    if (inResident != residentEnd) {
        freeTexture(slot->entry);
        std::move(inResident + 1, residentEnd, inResident);
        --residentCount_;
    } else {
        auto pendingEnd = pending_.begin() + pendingCount_;
        auto inPending = std::find_if(pending_.begin(), pendingEnd, isSlot);
        if (inPending != pendingEnd) {
            std::move(inPending + 1, pendingEnd, inPending);
            --pendingCount_;
        }
    }
    textures_->erase(hash);
}

void Context::freeTexture(TextureEntry& e) {
    usedBytes_ -= e.byteSize;
    if (e.glName == 0) return;
    if (e.pageTexture) {
        if (removePageInUse(e.glName)) {
            // Keep the page texture for the next large image unless its memory is needed now.
            if (usedBytes_ + e.byteSize <= textureBudget_) {
                pushSpare(e.glName);
                usedBytes_ += e.byteSize;
            } else {
                clearFromUnits(e.glName);
                gl::deleteTextures(1, &e.glName);
            }
        }
        e.resident = 0;
    } else {
        clearFromUnits(e.glName);
        gl::deleteTextures(1, &e.glName);
    }
    e.glName = 0;
}

void Context::pushPending(TexturePair pair) {
    pending_[pendingCount_++] = pair;
    std::push_heap(pending_.begin(), pending_.begin() + pendingCount_, lessImportant<TexturePair>);
}

void Context::pushSpare(GLuint name) {
    if (spareCount_ < kTextureCapacity) spares_[spareCount_++] = name;
}

void Context::deleteSpare() {
    GLuint const name = spares_[--spareCount_];
    clearFromUnits(name);
    gl::deleteTextures(1, &name);
    usedBytes_ -= kPageBytes;
}

void Context::insertPageInUse(GLuint name) {
    auto end = pagesInUse_.begin() + pagesInUseCount_;
    auto at = std::lower_bound(pagesInUse_.begin(), end, name, std::greater<GLuint>());
    std::move_backward(at, end, end + 1);
    *at = name;
    ++pagesInUseCount_;
}

bool Context::removePageInUse(GLuint name) {
    auto end = pagesInUse_.begin() + pagesInUseCount_;
    auto at = std::lower_bound(pagesInUse_.begin(), end, name, std::greater<GLuint>());
    if (at == end || *at != name) return false;
    std::move(at + 1, end, at);
    --pagesInUseCount_;
    return true;
}

void Context::evictTexture() {
    if (residentCount_ == 0) return;
    auto begin = resident_.begin(), end = resident_.begin() + residentCount_;
    TexturePair const top = resident_[0];
    freeTexture(top.slot->entry);
    pushPending(top);
    top.slot->entry.resident = 0;
    std::pop_heap(begin, end, moreImportant<TexturePair>);
    --residentCount_;
}

void Context::takeBackQueuedJob() {
    auto& queued = queue_->queued();
    QueuedTexture const least = queued.front();
    --least.slot->referenceCount;
    freeTexture(least.slot->entry);
    pushPending(TexturePair{least.hash, least.slot});
    std::pop_heap(queued.begin(), queued.end(), moreImportant<QueuedTexture>);
    queued.pop_back();
}

void Context::dropOrphanedJobs() {
    // Jobs whose texture nobody holds any more: only the job's own reference is left.
    auto orphan = [](auto const& job) { return job.slot->referenceCount == 1; };
    auto dropSlot = [this](uint64_t hash, TextureSlot* slot) {
        slot->referenceCount = 0;
        freeTexture(slot->entry);
        if (textures_->find(hash) == slot) textures_->erase(hash);
    };
    auto& queued = queue_->queued();
    auto firstQueued = std::stable_partition(queued.begin(), queued.end(), [&](auto const& j) { return !orphan(j); });
    for (auto it = firstQueued; it != queued.end(); ++it) dropSlot(it->hash, it->slot);
    queued.erase(firstQueued, queued.end());

    auto& finished = queue_->finished();
    auto firstFinished =
        std::stable_partition(finished.begin(), finished.end(), [&](auto const& j) { return !orphan(j); });
    for (auto it = firstFinished; it != finished.end(); ++it) {
        dropSlot(it->hash, it->slot);
        queue_->releaseArea(it->area);
    }
    finished.erase(firstFinished, finished.end());
}

void Context::placePendingTextures() {
    auto& queued = queue_->queued();
    auto& finished = queue_->finished();
    while (!suspendTextureRequests_ && pendingCount_ > 0) {
        TexturePair const top = pending_[0];
        TextureEntry& t = top.slot->entry;
        // In 128 bits: used bytes may exceed the budget while jobs are in flight.
        unsigned __int128 room = textureBudget_;
        if (t.pageTexture) room += (unsigned __int128)spareCount_ * kPageBytes;
        bool const fits = (unsigned __int128)usedBytes_ + t.byteSize <= room;
        if (fits) {
            if (queued.size() >= queue_->capacity()) {
                if (orderOf(queued.front().slot) >= t.loadOrder) break;
                takeBackQueuedJob();
                continue;
            }
            ++top.slot->referenceCount;
            if (t.pageTexture) {
                if (spareCount_ > 0) {
                    usedBytes_ -= kPageBytes;
                } else {
                    GLuint const name = createTexture(t.options);
                    gl::texImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kPageSide, kPageSide, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                                   nullptr);
                    pushSpare(name);
                }
                t.glName = spares_[--spareCount_];
                insertPageInUse(t.glName);
            }
            queued.push_back(QueuedTexture{top.hash, top.slot});
            std::push_heap(queued.begin(), queued.end(), moreImportant<QueuedTexture>);
            usedBytes_ += t.byteSize;
            std::pop_heap(pending_.begin(), pending_.begin() + pendingCount_, lessImportant<TexturePair>);
            --pendingCount_;
            continue;
        }
        if (!t.pageTexture && spareCount_ > 0) {
            deleteSpare();
        } else if (!finished.empty() && orderOf(finished.front().slot) < t.loadOrder) {
            DecodeJob const least = finished.front();
            --least.slot->referenceCount;
            freeTexture(least.slot->entry);
            queue_->releaseArea(least.area);
            pushPending(TexturePair{least.hash, least.slot});
            std::pop_heap(finished.begin(), finished.end(), moreImportant<DecodeJob>);
            finished.pop_back();
        } else if (!queued.empty() && orderOf(queued.front().slot) < t.loadOrder) {
            takeBackQueuedJob();
        } else if (residentCount_ > 0 && orderOf(resident_[0].slot) < t.loadOrder) {
            evictTexture();
        } else {
            break;
        }
    }
}

void Context::updateTextures() {
    if (pendingCount_ > 0) {
        std::make_heap(pending_.begin(), pending_.begin() + pendingCount_, lessImportant<TexturePair>);
    }
    std::make_heap(resident_.begin(), resident_.begin() + residentCount_, moreImportant<TexturePair>);
    while (spareCount_ > 0 && usedBytes_ > textureBudget_) deleteSpare();
    while (residentCount_ > 0 && usedBytes_ > textureBudget_) evictTexture();

    texturesLoaded_ = 0;
    {
        std::lock_guard<std::mutex> lock(queue_->mutex());
        dropOrphanedJobs();
        auto& queued = queue_->queued();
        auto& finished = queue_->finished();
        std::make_heap(queued.begin(), queued.end(), moreImportant<QueuedTexture>);
        std::make_heap(finished.begin(), finished.end(), moreImportant<DecodeJob>);
        placePendingTextures();
        std::sort(queued.begin(), queued.end(), lessImportant<QueuedTexture>);
        texturesLoaded_ = queue_->allAreasIdle() && queued.empty() ? 1 : 0;
        queue_->wakeWorkers();
    }
    uploadFinishedImages();
    rotateBuffers();
}

void Context::uploadFinishedImages() {
    // The blit after an upload draws with the context's own program and two arrays; put back what
    // the caller had selected, so a shader mode chosen before the pass still draws after it.
    GLuint const program = currentProgram_;
    uint64_t const enabledArrays = enabledVertexAttribCount_;
    bool stop = !burstLoading_;
    do {
        if (!upload_.slot) {
            std::lock_guard<std::mutex> lock(queue_->mutex());
            auto& finished = queue_->finished();
            auto best = finished.end();
            for (auto it = finished.begin(); it != finished.end(); ++it) {
                if (best == finished.end() || orderOf(it->slot) > orderOf(best->slot)) best = it;
            }
            if (best != finished.end()) {
                upload_ = PendingUpload{best->hash, best->slot, best->area, 0, 0};
                finished.erase(best);
            }
            if (burstLoading_) stop = !upload_.slot;
        }
        if (upload_.slot) uploadStep();
    } while (!stop);
    useProgram(program);
    setEnabledVertexAttribCount(enabledArrays);
}

bool Context::uploadStep() {
    TextureSlot* slot = upload_.slot;
    TextureEntry& e = slot->entry;
    if (slot->referenceCount == 1) {
        dropUpload();
        return false;
    }
    bool const whole = burstLoading_ || !(e.loadFlags & kLoadSliced);
    GLenum const format = formatFor(e);
    if (e.glName) {
        bindTexture(e.glName);
    } else {
        e.glName = createTexture(e.options);
    }
    if (whole && upload_.nextSlice == 0) {
        if (e.pageTexture) applySamplerOptions(e.options);
        gl::texImage2D(GL_TEXTURE_2D, 0, GLint(format), e.width, e.height, 0, format, GL_UNSIGNED_BYTE,
                       upload_.pixels);
        drawBlit();
        finishUpload();
        return true;
    }
    if (!upload_.storageMade) {
        if (e.pageTexture) {
            applySamplerOptions(e.options);
        } else {
            gl::texImage2D(GL_TEXTURE_2D, 0, GLint(format), e.width, e.height, 0, format, GL_UNSIGNED_BYTE, nullptr);
        }
        upload_.storageMade = 1;
    }
    uint64_t const rowsPerSlice = e.width ? ((65536 / e.width) + 3) / 4 * 4 : 0;
    uint64_t const y = rowsPerSlice * upload_.nextSlice;
    uint64_t const remaining = e.height > y ? e.height - y : 0;
    // An image without width has no slices to speak of: it goes in one step.
    uint64_t const rows = (whole || rowsPerSlice == 0) ? remaining : std::min(remaining, rowsPerSlice);
    if (rows > 0) {
        gl::texSubImage2D(GL_TEXTURE_2D, 0, 0, GLint(y), e.width, GLsizei(rows), format, GL_UNSIGNED_BYTE,
                          upload_.pixels + y * e.width * e.channels);
    }
    if (y + rows < e.height) {
        ++upload_.nextSlice;
        return false;
    }
    finishUpload();
    return true;
}

void Context::finishUpload() {
    TextureSlot* slot = upload_.slot;
    --slot->referenceCount;
    slot->entry.resident = 1;
    resident_[residentCount_++] = TexturePair{upload_.hash, slot};
    std::lock_guard<std::mutex> lock(queue_->mutex());
    queue_->releaseArea(upload_.pixels);
    queue_->wakeWorkers();
    upload_ = PendingUpload{};
}

void Context::dropUpload() {
    TextureSlot* slot = upload_.slot;
    slot->referenceCount = 0;
    freeTexture(slot->entry);
    if (textures_->find(upload_.hash) == slot) textures_->erase(upload_.hash);
    std::lock_guard<std::mutex> lock(queue_->mutex());
    queue_->releaseArea(upload_.pixels);
    queue_->wakeWorkers();
    upload_ = PendingUpload{};
}

void Context::drawBlit() {
    // One draw with the new texture makes the driver finish its upload now, not mid-scene.
    useProgram(blit_.program);
    setEnabledVertexAttribCount(2);
    bindBuffer(GL_ARRAY_BUFFER, 0);
    vertexAttribPointer(0, 2, GL_FLOAT, false, 16, kBlitQuad);
    vertexAttribPointer(1, 2, GL_FLOAT, false, 16, kBlitQuad + 2);
    gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

}  // namespace Graphics
