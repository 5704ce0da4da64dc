#pragma once
// Touch rectangles of buttons, read from their "_bb.ai" text assets: after the line "1 XR"
// come a move-to line and the four corners top-right, bottom-right, bottom-left, top-left,
// measured from the lower-left corner of the button image, y up.
#include <glm/vec2.hpp>

#include <string>
#include <string_view>

#include "fonts/Rect.h"

// The rectangle of the asset at path, moved by translation. A missing or malformed asset gives
// the zero rectangle, which nothing can hit; a malformed one is logged once per path.
Rect loadHitRect(std::string const& path, glm::vec2 const& translation);

// The same for text already read ("\r\n" pairs count as one line break). Sets *malformed when
// the text has the marker but not the four corner lines with two numbers each.
Rect hitRectFromText(std::string_view text, glm::vec2 const& translation, bool* malformed = nullptr);

// Hit-area assets are a few hundred bytes; anything larger is not one.
inline constexpr std::size_t maxHitAreaBytes = 64 * 1024;
