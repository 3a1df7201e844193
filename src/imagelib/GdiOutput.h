#pragma once
// Pixel storage handed to GDI: bitmaps for the caller and drawing into a device context.
// No scaling happens here; callers resample first, so that the results do not depend on
// how a GDI implementation stretches.

#include "base/Win.h"
#include "imagelib/Pixels.h"

namespace imagelib {

// A DIB section (24 or 32 bits, like the pixels) holding a copy of them, owned by the caller.
// nullptr when the pixels are empty or GDI refuses.
HBITMAP MakeDibSection(const Pixels& pixels);

// Puts the pixels with their top-left corner at (x, y), one to one. Three-channel pixels replace
// what the DC holds; four-channel ones are blended onto it by their alpha.
bool PutPixels(HDC hdc, long x, long y, const Pixels& pixels);

}  // namespace imagelib
