#pragma once

// An axis-aligned rectangle: x bounds first, then y bounds.
struct Rect {
    float minX;
    float maxX;
    float minY;
    float maxY;
};
