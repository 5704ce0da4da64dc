#pragma once
// The player's boards and achievements, drawn by the game over whatever screen is up: a dark
// panel with the best local score of every board played and the achievements earned so far, and
// an OK button. It reads the local game services when it is built. The screen under it keeps
// running; the app frame sends it the input while it is up. OK, A, B or the pause button close it
// through onDone (once); the owner then dismisses it.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/Sound.h"
#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "graphics/Texture.h"
#include "menus/AnimatedButton.h"
#include "menus/FocusNavigator.h"
#include "os/ViewController.h"

namespace Fonts {
class Context;
}

class GameServicesViewController : public ViewController {
public:
    // The panel's size in layout units; the whole view scales down to fit smaller screens.
    static constexpr float kPanelWidth = 1040.0f;
    static constexpr float kPanelHeight = 600.0f;
    // Rows per column: one more board or achievement than fits becomes a "+N more" row.
    static constexpr size_t kRows = 11;

    struct Row {
        std::string name;
        std::string value;
        bool highlighted = false;  // the board the view was opened for
    };

    // leaderboard: the identifier of the board to show first (empty: all in catalog order).
    GameServicesViewController(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                               std::string const& leaderboard, std::function<void()> onDone);
    GameServicesViewController(GameServicesViewController const&) = delete;
    GameServicesViewController& operator=(GameServicesViewController const&) = delete;

    // The rows as read from the local services, before they are cut to the columns.
    static std::vector<Row> boardRows(Fonts::Context const& fonts, std::string const& first);
    static std::vector<Row> achievementRows(Fonts::Context const& fonts);

    void update(Audio::Context& audio, float dt, float now) override;
    void preDraw(Graphics::Context* graphics) override;
    // Draws straight over the finished frame.
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void touchBegan(glm::vec2 const& point, uint32_t tapCount) override;
    void touchMoved(glm::vec2 const& point, uint32_t tapCount) override;
    void touchEnded(glm::vec2 const& point, uint32_t tapCount) override;
    void buttonPressed(uint32_t code) override;
    void gamepadInput(GamepadState const& state) override;

    // Shown and taking input (its textures are there).
    bool isInteractive() const { return interactive_; }
    bool isDone() const { return done_; }
    // Layout units to virtual screen pixels.
    glm::mat4 const& layout() const { return layout_; }
    std::vector<TextLabel> const& labels() const { return labels_; }
    Button const& okButton() const { return ok_.button(); }

private:
    struct ColouredLabel {
        size_t label;
        glm::vec4 colour;
    };
    void addLabel(std::string const& text, glm::vec2 at, Fonts::Font font, int32_t alignment, glm::vec4 colour,
                  float maxWidth);
    void addColumn(std::vector<Row> const& rows, float left, float right, std::string const& empty);
    void finish();
    glm::vec2 toLayout(glm::vec2 const& point) const;

    Fonts::Context* fonts_;
    std::function<void()> onDone_;
    glm::mat4 projection_;
    glm::mat4 layout_;
    Graphics::Texture white_;
    Quad backdrop_;
    Quad panel_;
    std::vector<TextLabel> labels_;
    std::vector<glm::vec4> colours_;
    Fonts::TextMesh textMesh_;
    Fonts::TextMesh buttonMesh_;
    bool laidOut_ = false;
    AnimatedButton ok_;
    FocusNavigator focus_;
    bool interactive_ = false;
    bool done_ = false;
};
