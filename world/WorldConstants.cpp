#include "world/WorldConstants.h"

#include <glm/matrix.hpp>

glm::mat4 const& worldPixelMatrix() {
    static glm::mat4 const matrix(worldScale, 0.0f, 0.0f, 0.0f,  //
                                  0.0f, worldScale, 0.0f, 0.0f,  //
                                  0.0f, 0.0f, 1.0f, 0.0f,        //
                                  0.0f, 0.0f, 0.0f, 1.0f);
    return matrix;
}

glm::mat4 const& worldToPixelMatrix() {
    static glm::mat4 const matrix = glm::inverse(worldPixelMatrix());
    return matrix;
}
