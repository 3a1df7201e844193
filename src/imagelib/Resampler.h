#pragma once
// Scaling of pixel storage: a separable two-pass filter with per-axis weights precomputed in
// fixed point. Along an axis that shrinks, each destination pixel is the area-weighted mean
// of the source pixels it covers (no pixel is skipped, so fine detail averages out instead of
// aliasing); along an axis that grows, values are interpolated linearly between pixel centres.
// The two axes are independent. Four-channel pixels are premultiplied, which is what makes
// filtering them correct.

#include "imagelib/Pixels.h"

#include <cstdint>

namespace imagelib {

// Part of a destination image, from its top-left corner; right and bottom are exclusive.
struct Window {
    uint32_t left = 0;
    uint32_t top = 0;
    uint32_t right = 0;
    uint32_t bottom = 0;
};

// src scaled to dstWidth x dstHeight. False when src is empty or the result is too large.
bool Resample(const Pixels& src, uint32_t dstWidth, uint32_t dstHeight, Pixels& out);

// Only `window` of the result of scaling src to dstWidth x dstHeight, so that drawing a large
// enlargement costs what is visible. The window must lie inside the destination.
bool ResampleWindow(const Pixels& src, uint32_t dstWidth, uint32_t dstHeight, const Window& window,
                    Pixels& out);

}  // namespace imagelib
