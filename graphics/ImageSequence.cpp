#include "graphics/ImageSequence.h"

#include <cstdio>

#include "os/FileSystem.h"

std::string ImageSequence::framePath(std::string const& firstPath, uint32_t index) {
    std::string const stem = FileSystem::replaceExtension(firstPath, "");
    std::string const extension = FileSystem::extension(firstPath);
    std::size_t digits = 0;
    while (digits < stem.size() && stem[stem.size() - 1 - digits] == '0') ++digits;
    // The number replaces the trailing zeros, not an earlier run of zeros in a folder name.
    std::string const prefix = stem.substr(0, stem.size() - digits);
    std::string const number = std::to_string(index);
    std::size_t const padding = number.size() < digits ? digits - number.size() : 0;
    return prefix + std::string(padding, '0') + number + extension;
}

ImageSequence::ImageSequence(Graphics::Context* context, TextureDescriptor const& firstFrame, uint32_t fps,
                             uint32_t frameCount, glm::vec2 const& offset) {
    if (fps == 0 || frameCount == 0) {
        std::fprintf(stderr, "ImageSequence: %s has %u frames at %u per second; nothing to show\n",
                     firstFrame.path.c_str(), frameCount, fps);
        return;
    }
    duration_ = float(frameCount) / float(fps) * 1000.0f;
    for (uint32_t i = 0; i < frameCount; ++i) {
        TextureDescriptor descriptor = firstFrame;
        descriptor.path = framePath(firstFrame.path, i);
        Graphics::Texture texture(context, descriptor);
        frames_.emplace(float(i) / float(fps) * 1000.0f,
                        Sprite(std::move(texture), kAnchorCenter, offset, std::nullopt, glm::vec2(1.0f)));
    }
    step_ = 1.0f / float(fps) * 1000.0f;
    advance();
}

void ImageSequence::advance() {
    time_ += step_;
    if (time_ > duration_) time_ -= duration_;
}

void ImageSequence::selectFrame() {
    auto it = frames_.lower_bound(time_);  // descending keys: the first key <= time
    current_ = it != frames_.end() ? &it->second : nullptr;
}

void ImageSequence::draw(Graphics::StandardShader& shader) const {
    if (current_) current_->draw(shader);
}
