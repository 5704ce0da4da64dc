#include "os/Assets.h"

#include <cstdlib>

namespace Assets {

SoundDescriptor const& nextOuchSound() {
    // rand() is never seeded, so every run hears the same sequence.
    static uint64_t counter = uint64_t(std::rand());
    return sounds[firstOuchSound + counter++ % ouchSoundCount];
}

TextureDescriptor const& levelButtonTextTexture(int32_t label) {
    if (label >= 2 && label <= 20) return textures[&texMenusLevelselectButtontext2 - textures + (label - 2)];
    if (label >= 'A' && label <= 'D') return textures[&texMenusLevelselectButtontextA - textures + (label - 'A')];
    return texMenusLevelselectButtontext1;
}

TextureDescriptor const& actMapTexture(int32_t act) {
    if (act >= '1' && act <= '5') return textures[&texMenusLevelselectActmap01 - textures + (act - '1')];
    return texMenusLevelselectActmap01;
}

}  // namespace Assets
