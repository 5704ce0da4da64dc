#include "graphics/SlideTransition.h"

#include "os/services/PlatformServices.h"

SlideTransition slideTransition(int32_t direction, bool slow, float W, float H) {
    SlideTransition t;
    t.rate = slow ? 0.001f : 0.0025f;
    float first = 0.01f, second = 0.02f;
    switch (direction) {
    case 1: t.x = 0, t.y = W, first = 0.98f, second = 0.99f; break;
    case 2: t.x = W, t.y = 0; break;
    case 3: t.x = -W, t.y = 0; break;
    case 4: t.x = H, t.y = 0; break;
    case 5: t.x = 0, t.y = H, first = 0.98f, second = 0.99f; break;
    default: t.x = 0, t.y = -W, first = 0.98f, second = 0.99f; break;
    }
    t.firstThreshold = first;
    t.secondThreshold = second;
    t.current = t.x;
    return t;
}

SlideTransition slideTransition(int32_t direction, bool slow) {
    return slideTransition(direction, slow, virtualWidth(), virtualHeight());
}
