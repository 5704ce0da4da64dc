#include "menus/PopInTransform.h"

#include <glm/gtc/matrix_transform.hpp>

PopInTransform::PopInTransform(ScreenAnchor anchor, glm::vec2 const& translation, glm::vec2 const& centre)
    : pivot_(anchoredPosition(anchor, nullptr) + centre + translation), negCentre_(-centre) {}

void PopInTransform::update(float dt) {
    animation_.update(dt);
    float const s = animation_.value();
    glm::mat4 m = glm::translate(glm::mat4(1.0f), glm::vec3(pivot_, 0.0f));
    m = glm::scale(m, glm::vec3(s, s, 1.0f));
    matrix_ = glm::translate(m, glm::vec3(negCentre_, 0.0f));
}
