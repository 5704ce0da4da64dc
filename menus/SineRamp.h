#pragma once
// The easing curves shared by menus, widgets and in-level tweens.

// 0 at t = 0 to 1 at t = 1: a quarter-sine ease-in up to a, a straight line from a to b and a
// quarter-sine ease-out after b, with a continuous slope. a == b is allowed (no straight part).
float sineRamp(float t, float a, float b);

// 1 - (1 - 2t)^n, with the power's absolute value for n >= 3: 0 at both ends, 1 at t = 0.5.
float pulseCurve(int n, float t);
