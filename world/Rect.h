#pragma once
// The screen rectangle the camera and the game screen test points against.
#include "fonts/Rect.h"
