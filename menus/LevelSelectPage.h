#pragma once
// One act's page of the level select: the act map, its header and a tile for every level of
// the act that may be played, worked out from the save record and the level catalog.
#include <boost/optional.hpp>
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fonts/TextMesh.h"
#include "graphics/Sprite.h"
#include "menus/LevelTileButton.h"

class RoamingData;

class LevelSelectPage {
public:
    LevelSelectPage(char act, Sprite&& map) : act(act), map(std::move(map)) {}

    // The header takes its own alpha: a page at the side shows its map and tiles but not a
    // header cut by the window's edge. The star counters belong to their tiles and show with them.
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& matrix, float alpha,
              float textAlpha) const;
    void update(float dt);
    void preDraw();
    void touchBegan(glm::vec2 const& point, unsigned touch);
    void touchMoved(glm::vec2 const& point, unsigned touch);
    void touchEnded(glm::vec2 const& point, unsigned touch);
    bool isReady() const;
    std::vector<LevelTileButton>& tileList() { return tiles; }
    std::vector<LevelTileButton> const& tileList() const { return tiles; }

    char act;
    Sprite map;
    std::vector<LevelTileButton> tiles;
    std::string header;
    Fonts::TextMesh text;
    Fonts::TextMesh counters;
};

// Builds the page of one act. onLevelChosen(path, name key) answers whether the level started.
LevelSelectPage levelSelectItems(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                 std::function<bool(std::string const&, std::string const&)> const& onLevelChosen,
                                 std::function<void()> const& showBonusHint, char act, RoamingData const& save,
                                 boost::optional<unsigned long> const& selectedLevel);
