#include "imagelib/Resampler.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace imagelib {
namespace {

// 22 fraction bits: 255 * 2^22 still fits an int32 accumulator, and the weights of a 30000:1
// reduction (about 140 each) keep enough precision.
constexpr int kBits = 22;
constexpr int32_t kOne = int32_t{1} << kBits;
constexpr int32_t kHalf = int32_t{1} << (kBits - 1);

// The weights of one axis. Destination index d reads `width` consecutive source indices from
// first[d] (relative to `lo`), weighted by weights[d * width ...], which sum to exactly kOne and
// are never negative. Shorter footprints are padded with zero weights: one fixed length keeps
// the inner loops free of a data-dependent branch that would mispredict on every other pixel.
struct AxisFilter {
    std::vector<uint32_t> first;
    std::vector<int32_t> weights;
    uint32_t width = 0;
    uint32_t lo = 0;    // first source index read
    uint32_t span = 0;  // number of source indices read
    bool identity = false;

    uint64_t Cost() const { return uint64_t{width} * first.size(); }
};

// One destination index's footprint before padding.
struct Footprint {
    uint64_t first;
    size_t offset;  // into the unpadded weights
    size_t count;
};

// Weights for destination indices [begin, end) of an axis scaled from srcLen to dstLen.
AxisFilter MakeAxis(uint32_t srcLen, uint64_t dstLen, uint32_t begin, uint32_t end) {
    std::vector<Footprint> footprints;
    std::vector<int32_t> raw;
    footprints.reserve(end - begin);
    auto add = [&](uint64_t first, std::initializer_list<int32_t> w) {
        footprints.push_back({first, raw.size(), w.size()});
        raw.insert(raw.end(), w);
    };
    const uint64_t S = srcLen;
    const uint64_t D = dstLen;
    for (uint64_t d = begin; d < end; ++d) {
        if (S == D) {
            add(d, {kOne});
        } else if (S > D) {
            // In units of 1/D, destination pixel d covers [d*S, (d+1)*S) and source pixel s
            // covers [s*D, (s+1)*D). Weights come from the rounded running sum of the overlaps,
            // so they add up to kOne exactly.
            const uint64_t from = d * S;
            const uint64_t to = from + S;
            const uint64_t first = from / D;
            const uint64_t last = (to - 1) / D;
            footprints.push_back({first, raw.size(), static_cast<size_t>(last - first + 1)});
            uint64_t covered = 0;
            int64_t given = 0;
            for (uint64_t s = first; s <= last; ++s) {
                covered += std::min((s + 1) * D, to) - std::max(s * D, from);
                const int64_t upTo = static_cast<int64_t>(((covered << kBits) + S / 2) / S);
                raw.push_back(static_cast<int32_t>(upTo - given));
                given = upTo;
            }
        } else {
            // Pixel centres: destination d sits at source position (d + 0.5) * S / D - 0.5,
            // which is num / den; outside the outer centres the edge pixel is repeated.
            const int64_t num = static_cast<int64_t>((2 * d + 1) * S) - static_cast<int64_t>(D);
            const int64_t den = static_cast<int64_t>(2 * D);
            const uint64_t s0 = num <= 0 ? 0 : static_cast<uint64_t>(num / den);
            const int64_t rem = num <= 0 ? 0 : num % den;
            if (s0 >= S - 1 || rem == 0) {
                add(std::min(s0, S - 1), {kOne});
            } else {
                const int32_t w1 = static_cast<int32_t>(((rem << kBits) + den / 2) / den);
                add(s0, {kOne - w1, w1});
            }
        }
    }

    AxisFilter f;
    f.identity = S == D;
    for (const Footprint& fp : footprints) f.width = std::max(f.width, uint32_t(fp.count));
    // No footprint is longer than the source, so a padded one fits when moved left.
    f.first.resize(footprints.size());
    f.weights.assign(footprints.size() * f.width, 0);
    for (size_t i = 0; i < footprints.size(); ++i) {
        const Footprint& fp = footprints[i];
        const uint64_t start = std::min(fp.first, S - f.width);
        f.first[i] = static_cast<uint32_t>(start);
        std::copy_n(raw.begin() + static_cast<ptrdiff_t>(fp.offset), fp.count,
                    f.weights.begin() + static_cast<ptrdiff_t>(i * f.width + (fp.first - start)));
    }
    // Footprints move right monotonically, so the first and the last bound the range read.
    f.lo = f.first.front();
    f.span = f.first.back() + f.width - f.lo;
    for (uint32_t& first : f.first) first -= f.lo;
    return f;
}

// One row along the horizontal axis: `src` points at source column f.lo.
template <uint32_t C>
void FilterRow(const uint8_t* src, uint8_t* dst, const AxisFilter& f) {
    const uint32_t width = f.width;
    const int32_t* w = f.weights.data();
    for (uint32_t first : f.first) {
        const uint8_t* s = src + size_t{first} * C;
        int32_t acc[C];
        for (uint32_t c = 0; c < C; ++c) acc[c] = kHalf;
        for (uint32_t k = 0; k < width; ++k, s += C) {
            for (uint32_t c = 0; c < C; ++c) acc[c] += w[k] * s[c];
        }
        w += width;
        for (uint32_t c = 0; c < C; ++c) *dst++ = static_cast<uint8_t>(acc[c] >> kBits);
    }
}

void FilterRow(uint32_t channels, const uint8_t* src, uint8_t* dst, const AxisFilter& f) {
    if (channels == 4) {
        FilterRow<4>(src, dst, f);
    } else {
        FilterRow<3>(src, dst, f);
    }
}

// Destination row j along the vertical axis: `base` is source row f.lo, rows `stride` apart,
// `bytes` bytes of each are filtered. The accumulator row runs contiguously, so it vectorises.
void FilterRows(const uint8_t* base, size_t stride, const AxisFilter& f, size_t j, size_t bytes,
                std::vector<int32_t>& acc, uint8_t* dst) {
    std::fill(acc.begin(), acc.begin() + static_cast<ptrdiff_t>(bytes), kHalf);
    int32_t* a = acc.data();
    const int32_t* weights = f.weights.data() + j * f.width;
    for (uint32_t k = 0; k < f.width; ++k) {
        const int32_t w = weights[k];
        if (w == 0) continue;  // padding
        const uint8_t* row = base + size_t{f.first[j] + k} * stride;
        for (size_t i = 0; i < bytes; ++i) a[i] += w * row[i];
    }
    for (size_t i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>(a[i] >> kBits);
}

}  // namespace

bool ResampleWindow(const Pixels& src, uint32_t dstWidth, uint32_t dstHeight, const Window& window,
                    Pixels& out) {
    if (src.Empty() || window.left >= window.right || window.top >= window.bottom ||
        window.right > dstWidth || window.bottom > dstHeight) {
        return false;
    }
    const uint32_t C = src.channels;
    const uint32_t outWidth = window.right - window.left;
    const uint32_t outHeight = window.bottom - window.top;
    Pixels result;
    if (!result.Allocate(outWidth, outHeight, C)) return false;

    // Rows are stored bottom-up; both filters are symmetric, so the vertical axis is simply
    // computed in bottom-up order.
    const AxisFilter fx = MakeAxis(src.width, dstWidth, window.left, window.right);
    const AxisFilter fy =
        MakeAxis(src.height, dstHeight, dstHeight - window.bottom, dstHeight - window.top);
    const uint8_t* srcBase = src.Row(fy.lo) + size_t{fx.lo} * C;
    const size_t outBytes = size_t{outWidth} * C;
    std::vector<int32_t> acc;

    if (fx.identity && fy.identity) {
        for (uint32_t j = 0; j < outHeight; ++j) {
            std::memcpy(result.Row(j), srcBase + size_t{j} * src.stride, outBytes);
        }
    } else if (fy.identity) {
        for (uint32_t j = 0; j < outHeight; ++j) {
            FilterRow(C, srcBase + size_t{j} * src.stride, result.Row(j), fx);
        }
    } else if (fx.identity) {
        acc.resize(outBytes);
        for (uint32_t j = 0; j < outHeight; ++j) {
            FilterRows(srcBase, src.stride, fy, j, outBytes, acc, result.Row(j));
        }
    } else {
        // Take the cheaper order; a pass costs about (rows it filters) x (taps per pixel) x
        // (pixels per row).
        const uint64_t horizontalFirst = fy.span * fx.Cost() + fy.Cost() * outWidth;
        const uint64_t verticalFirst = fx.span * fy.Cost() + fx.Cost() * outHeight;
        std::vector<uint8_t> between;
        if (horizontalFirst <= verticalFirst) {
            // fy.span source rows, each already scaled to the window's width.
            if (uint64_t{fy.span} * outBytes > kMaxPixelBytes) return false;
            between.resize(size_t{fy.span} * outBytes);
            for (uint32_t r = 0; r < fy.span; ++r) {
                FilterRow(C, srcBase + size_t{r} * src.stride, between.data() + r * outBytes, fx);
            }
            acc.resize(outBytes);
            for (uint32_t j = 0; j < outHeight; ++j) {
                FilterRows(between.data(), outBytes, fy, j, outBytes, acc, result.Row(j));
            }
        } else {
            // Each output row is finished at once, so one row, still fx.span pixels wide, holds
            // the vertical pass's result.
            const size_t spanBytes = size_t{fx.span} * C;
            between.resize(spanBytes);
            acc.resize(spanBytes);
            for (uint32_t j = 0; j < outHeight; ++j) {
                FilterRows(srcBase, src.stride, fy, j, spanBytes, acc, between.data());
                FilterRow(C, between.data(), result.Row(j), fx);
            }
        }
    }
    out = std::move(result);
    return true;
}

bool Resample(const Pixels& src, uint32_t dstWidth, uint32_t dstHeight, Pixels& out) {
    return ResampleWindow(src, dstWidth, dstHeight, {0, 0, dstWidth, dstHeight}, out);
}

}  // namespace imagelib
