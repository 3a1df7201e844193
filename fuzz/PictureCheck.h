#pragma once
// What every picture reader's fuzzer demands of a picture the reader accepted: the shape it
// states, and opaque unless it says it can carry transparency.
#include "decode/RawPictures.h"

#include <cstdlib>

inline void CheckPicture(const decode::RawPicture& picture) {
    if (picture.width == 0 || picture.height == 0 ||
        picture.bgra.size() != size_t{picture.width} * picture.height * 4) {
        std::abort();
    }
    if (!picture.hasAlpha) {
        for (size_t i = 3; i < picture.bgra.size(); i += 4) {
            if (picture.bgra[i] != 255) std::abort();
        }
    }
}
