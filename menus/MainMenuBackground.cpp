#include "menus/MainMenuBackground.h"

#include <glm/gtc/matrix_transform.hpp>
#include <string>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"

namespace {

Graphics::ShaderProgram makeProgram(Graphics::Context* graphics) {
    static std::string const vertexFile = "shaders/menubg.vert", fragmentFile = "shaders/standard.frag",
                             attributes = "vertex,uvcoord", none;
    return Graphics::ShaderProgram(graphics, Graphics::ShaderSource{vertexFile, fragmentFile, attributes, none, none});
}

}  // namespace

MainMenuBackground::MainMenuBackground(Graphics::Context* graphics)
    : program_(makeProgram(graphics)),
      vertexLocation_(program_.attribLocation("vertex")),
      uvLocation_(program_.attribLocation("uvcoord")),
      projViewLocation_(program_.uniformLocation("projView")),
      texLocation_(program_.uniformLocation("tex")),
      timeLocation_(program_.uniformLocation("time")),
      texture_(graphics, Assets::texMenusMainmenuMainmenuBackground) {
    float const W = virtualWidth(), H = virtualHeight();
    // At z = 0, 1000 units in front of the eye, the frustum spans the logical screen exactly.
    float const h = H * 0.5f / 1000.0f, w = (W / H) * h;
    projView_ = glm::frustum(-w, w, -h, h, 1.0f, 5000.0f) *
                glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, -1000.0f));

    vertices_.reserve(kVertexCount);
    for (int r = 0; r < kCells; ++r) {
        float const y0 = -H / 2 + float(r) * H / kCells, y1 = -H / 2 + float(r + 1) * H / kCells;
        float const v0 = 1.0f - 0.05f * float(r), v1 = 1.0f - 0.05f * float(r + 1);
        bool const rightward = r % 2 == 0;
        for (int c = 0; c <= kCells; ++c) {
            int const k = rightward ? c : kCells - c;
            float const x = -W / 2 + float(k) * W / kCells, u = 0.05f * float(k);
            vertices_.push_back({x, y0, 0.0f, u, v0});
            vertices_.push_back({x, y1, 0.0f, u, v1});
        }
        // The repeated top vertex turns the strip into the next row.
        vertices_.push_back(vertices_.back());
    }
    startMs_ = uint64_t(nowMs());
}

void MainMenuBackground::draw(Graphics::Context* graphics) {
    if (!program_.glName()) return;
    graphics->setBlend(false);
    program_.use();
    graphics->setEnabledVertexAttribCount(2);
    Graphics::ShaderProgram::setUniformMatrix4(projViewLocation_, projView_);
    Graphics::ShaderProgram::setUniform1i(texLocation_, 0);
    Graphics::ShaderProgram::setUniform1f(timeLocation_, timeAt(uint64_t(nowMs())));
    texture_.bind(GL_TEXTURE0);
    graphics->bindBuffer(GL_ARRAY_BUFFER, 0);
    graphics->vertexAttribPointer(GLuint(vertexLocation_), 3, GL_FLOAT, false, sizeof(Vertex), &vertices_[0].x);
    graphics->vertexAttribPointer(GLuint(uvLocation_), 2, GL_FLOAT, false, sizeof(Vertex), &vertices_[0].u);
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, GLsizei(vertices_.size()));
    graphics->setBlend(true);
}
