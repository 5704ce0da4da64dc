#include "world/WorldConstants.h"

glm::mat4 const& worldPixelMatrix() {
    static glm::mat4 const matrix(worldScale, 0.0f, 0.0f, 0.0f,  //
                                  0.0f, worldScale, 0.0f, 0.0f,  //
                                  0.0f, 0.0f, 1.0f, 0.0f,        //
                                  0.0f, 0.0f, 0.0f, 1.0f);
    return matrix;
}
