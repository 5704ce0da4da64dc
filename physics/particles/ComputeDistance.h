#pragma once
#include <box2d/b2_math.h>
#include <box2d/b2_shape.h>

// Distance from the world point p to child `child` of the shape placed at xf, and the unit normal
// pointing from the shape toward p. Signed for circles and polygons (negative inside), unsigned
// for edges and chain children; skin radii are not subtracted. Unknown shape types give FLT_MAX.
void computeDistance(const b2Shape& shape, const b2Transform& xf, b2Vec2 p, int32 child, float* distance,
                     b2Vec2* normal);
