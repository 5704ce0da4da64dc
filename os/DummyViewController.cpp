#include "os/DummyViewController.h"

#include <GLES2/gl2.h>

void DummyViewController::drawOverlay(Graphics::Context*, Graphics::StandardShader*) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}
void DummyViewController::preDraw(Graphics::Context*) {}
void DummyViewController::update(Audio::Context&, float, float) {}
void DummyViewController::touchMoved(glm::vec2 const&, uint32_t) {}
void DummyViewController::touchBegan(glm::vec2 const&, uint32_t) {}
void DummyViewController::touchEnded(glm::vec2 const&, uint32_t) {}
void DummyViewController::buttonPressed(uint32_t) {}
