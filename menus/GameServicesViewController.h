#pragma once
// The player's boards and achievements, drawn by the game over whatever screen is up: a dark
// panel with the best local score of every board played and the achievements earned so far, and
// an OK button. It reads the local game services when it is built. The screen under it keeps
// running; the app frame sends it the input while it is up. OK, A, B or the pause button close it
// through onDone (once); the owner then dismisses it.
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fonts/Font.h"
#include "menus/DimmedPanelViewController.h"

namespace Fonts {
class Context;
}

class GameServicesViewController : public DimmedPanelViewController {
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

    // The rows as read from the local services, before they are cut to the columns.
    static std::vector<Row> boardRows(Fonts::Context const& fonts, std::string const& first);
    static std::vector<Row> achievementRows(Fonts::Context const& fonts);

    Button const& okButton() const { return answers()[0].button(); }

private:
    void addLabel(std::string const& text, glm::vec2 at, Fonts::Font font, int32_t alignment, glm::vec4 colour,
                  float maxWidth);
    void addColumn(std::vector<Row> const& rows, float left, float right, std::string const& empty);

    Fonts::Context* fonts_;
};
