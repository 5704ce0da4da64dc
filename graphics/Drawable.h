#pragma once
// A level object's handle on one draw-list entry: moves it, shows and hides it, recolours it and
// rewrites its vertices.
#include <cstddef>
#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>
#include <optional>
#include <vector>

#include "graphics/DrawList.h"

class Drawable {
public:
    // An index outside the mesh set gives a handle that does nothing.
    Drawable(PristineLevel::MeshSet const& meshSet, DrawList* list, std::size_t index);

    static std::vector<Drawable> createDrawables(PristineLevel::MeshSet const& meshSet, DrawList* list,
                                                 std::vector<std::uint32_t> const& indices);

    // World matrix = m x local transform (or m when there is none).
    void setTransform(glm::mat4 const& m);
    // Refits the tree leaf to the transformed local box.
    void updateBounds();
    void show();
    void hide();
    bool isHidden() const;
    void setColor(glm::vec4 const& color);
    bool isVisible() const;
    DrawList::Handle const* handle() const { return handle_; }
    // Writes `size` bytes over the entry's vertices when it was visible in the last cull. Bytes
    // that would run past the entry's vertex buffer are refused with a log line.
    void uploadVertices(Graphics::Context* context, void const* data, std::size_t size);

private:
    DrawList::Handle const* handle_ = nullptr;
    std::optional<glm::mat4> localTransform_;
    PristineLevel::MeshNode::Box box_;
    DrawList* list_ = nullptr;
    DrawList::Entry* entry_ = nullptr;
    DrawList::Buffer const* vertexBuffer_ = nullptr;
};
