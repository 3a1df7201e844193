#include "decode/JpegScaled.h"

#include "decode/JpegStream.h"
#include "decode/Limits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

namespace decode {
namespace {

// The inverse DCT to n x n pixels (n = 8, 4, 2, 1) as a matrix applied down the columns and
// then along the rows: basis[m][u] is the mean of coefficient u's contribution over the g = 8/n
// full-size pixels g*m .. g*m+g-1, that is
//   C(u)/2 * cos((2m+1) u pi g / 16) * sin(g u pi / 16) / (g sin(u pi / 16)),
// (C(0) = 1/sqrt 2, the last factor 1 for u = 0), so every coefficient counts, not only the
// low frequencies, and the result is exactly the area average of the full-size block.
struct Basis {
    int n = 8;
    float down[8][8] = {};    // [m][v]: rows of the output from rows of coefficients
    float across[8][8] = {};  // [u][x]: the same, transposed, zero for x >= n

    explicit Basis(int size) : n(size) {
        const double pi = std::numbers::pi;
        const int g = 8 / n;
        for (int m = 0; m < n; ++m) {
            for (int u = 0; u < 8; ++u) {
                const double c = u == 0 ? 1.0 / std::sqrt(2.0) : 1.0;
                const double mean =
                    u == 0 ? 1.0 : std::sin(g * u * pi / 16) / (g * std::sin(u * pi / 16));
                const double value = c / 2 * std::cos((2 * m + 1) * u * pi * g / 16) * mean;
                down[m][u] = static_cast<float>(value);
                across[u][m] = static_cast<float>(value);
            }
        }
    }
};

const Basis& BasisFor(int shift) {
    static const Basis bases[4] = {Basis(8), Basis(4), Basis(2), Basis(1)};
    return bases[shift];
}

inline uint8_t ToSample(float value) {
    // value + 128, rounded; anything below -0.5 ends at 0 either way.
    const int sample = static_cast<int>(value + 128.5f);
    return static_cast<uint8_t>(std::clamp(sample, 0, 255));
}

// One block's coefficients (natural order) to samples at `out`, rows `stride` apart: Rows
// rows of Columns samples (different where subsampled chroma comes at twice the scale across
// or down). The sizes are constants so that the loops unroll and vectorise.
template <int Rows, int Columns>
void InverseBlock(const int16_t* coefficients, const float* steps, const Basis& down,
                  const Basis& across, uint8_t* out, size_t stride) {
    int16_t any = 0;
    for (int k = 1; k < 64; ++k) any |= coefficients[k];
    if (any == 0) {
        // Flat: the DC term alone, its mean (DC x step / 8) everywhere.
        const uint8_t sample = ToSample(coefficients[0] * steps[0] * 0.125f);
        for (int y = 0; y < Rows; ++y) std::memset(out + y * stride, sample, Columns);
        return;
    }
    float f[64];
    uint32_t rows = 0;
    int16_t columns[8] = {};
    for (int v = 0; v < 8; ++v) {
        int16_t rowAny = 0;
        for (int u = 0; u < 8; ++u) {
            rowAny |= coefficients[v * 8 + u];
            columns[u] |= coefficients[v * 8 + u];
            f[v * 8 + u] = coefficients[v * 8 + u] * steps[v * 8 + u];
        }
        if (rowAny != 0) rows |= 1u << v;
    }
    // Down the columns, all eight at once, over the rows of coefficients that are not zero.
    float partial[Rows][8] = {};
    for (int v = 0; v < 8; ++v) {
        if (!(rows & (1u << v))) continue;
        const float* in = f + v * 8;
        for (int m = 0; m < Rows; ++m) {
            const float weight = down.down[m][v];
            for (int u = 0; u < 8; ++u) partial[m][u] += weight * in[u];
        }
    }
    // Along each row, over the columns of coefficients that are not zero.
    float result[Rows][Columns] = {};
    for (int u = 0; u < 8; ++u) {
        if (columns[u] == 0) continue;
        for (int m = 0; m < Rows; ++m) {
            const float value = partial[m][u];
            for (int x = 0; x < Columns; ++x) result[m][x] += value * across.across[u][x];
        }
    }
    for (int m = 0; m < Rows; ++m) {
        uint8_t* d = out + m * stride;
        for (int x = 0; x < Columns; ++x) d[x] = ToSample(result[m][x]);
    }
}

using InverseBlockFunction = void (*)(const int16_t*, const float*, const Basis&, const Basis&,
                                      uint8_t*, size_t);

// The transform for samples at 1/2^shiftDown down and 1/2^shiftAcross across.
InverseBlockFunction InverseBlockFor(int shiftDown, int shiftAcross) {
    static constexpr InverseBlockFunction table[4][4] = {
        {InverseBlock<8, 8>, InverseBlock<8, 4>, InverseBlock<8, 2>, InverseBlock<8, 1>},
        {InverseBlock<4, 8>, InverseBlock<4, 4>, InverseBlock<4, 2>, InverseBlock<4, 1>},
        {InverseBlock<2, 8>, InverseBlock<2, 4>, InverseBlock<2, 2>, InverseBlock<2, 1>},
        {InverseBlock<1, 8>, InverseBlock<1, 4>, InverseBlock<1, 2>, InverseBlock<1, 1>}};
    return table[shiftDown][shiftAcross];
}

// At 1/4 and 1/8 every component's block gives at most 4 x 4 samples, which are kept as exact
// integer sums (jpeg::SummedBlock) rather than computed in floating point: a progressive
// picture's blocks then need not be held as coefficients, and a sequential file's blocks
// give the same sums and so the same picture. Weights are the float transform's, to 2^-16.
inline uint8_t SumToSample(int32_t sum) {
    // sum: the mean less 128, in 2^-16; rounded as ToSample rounds.
    const int64_t value = (int64_t{sum} + (int64_t{128} << 16) + (1 << 15)) >> 16;
    return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255));
}

// A row of `count` blocks of a summed component to samples at `out`, rows `stride` apart.
template <int Rows, int Columns>
void SummedBlocks(const int16_t* block, const jpeg::Component& comp, uint32_t count, uint8_t* out,
                  size_t stride) {
    constexpr int N = Rows * Columns;
    for (uint32_t b = 0; b < count; ++b, block += comp.stride, out += Columns) {
        int32_t own[N];
        const int32_t* sums = own;
        if (comp.summed) {
            sums = jpeg::SummedBlock::Sums(block);
        } else {
            jpeg::CoefficientSums<N>(block, comp.sumWeights, own);
        }
        for (int m = 0; m < Rows; ++m) {
            for (int x = 0; x < Columns; ++x)
                out[m * stride + x] = SumToSample(sums[m * Columns + x]);
        }
    }
}

using SummedBlocksFunction = void (*)(const int16_t*, const jpeg::Component&, uint32_t, uint8_t*,
                                      size_t);

// For samples at 1/2^shiftDown down and 1/2^shiftAcross across, both 1..3.
SummedBlocksFunction SummedBlocksFor(int shiftDown, int shiftAcross) {
    static constexpr SummedBlocksFunction table[3][3] = {
        {SummedBlocks<4, 4>, SummedBlocks<4, 2>, SummedBlocks<4, 1>},
        {SummedBlocks<2, 4>, SummedBlocks<2, 2>, SummedBlocks<2, 1>},
        {SummedBlocks<1, 4>, SummedBlocks<1, 2>, SummedBlocks<1, 1>}};
    return table[shiftDown - 1][shiftAcross - 1];
}

// A component's samples at the chosen scale: its blocks inside its own area, each giving
// 8 >> shiftDown rows of 8 >> shiftAcross samples.
struct Samples {
    int shiftAcross = 0;  // the scale of the samples: 1 / 2^shift of the component's own
    int shiftDown = 0;
    uint32_t wide = 0;   // samples in a row of the plane
    uint32_t high = 0;   // rows in the plane
    uint32_t valid = 0;  // samples of a row inside the picture
    uint32_t validRows = 0;
    float steps[64];  // the component's quantisation
    uint8_t* plane = nullptr;
};

// Turns rows of MCUs into each component's samples, as they come or all at the end.
class Transformer : public jpeg::McuRowSink {
public:
    // The samples are kept in `work`, which grows as needed and is kept for the next picture:
    // fresh memory for them each time costs as much as the transform at 1/4.
    Transformer(const ScaleChoice& choose, std::vector<uint8_t>& work)
        : choose_(choose), work_(work) {}

    bool Start(const jpeg::Stream& stream) override {
        shift_ = choose_(stream.Width(), stream.Height());
        if (shift_ < 0) return false;
        shift_ = std::min(shift_, 3);
        size_t bytes = 0;
        return OutputSizeAllowed(jpeg::CeilDiv(stream.Width(), 1u << shift_),
                                 jpeg::CeilDiv(stream.Height(), 1u << shift_), 3, bytes) &&
               Prepare(stream);
    }

    // Sums where every component's block gives at most 4 x 4 samples.
    int Sums(const jpeg::Stream&, int i, int32_t (&weights)[64][jpeg::kMaxSums]) override {
        if (shift_ < 2) return 0;
        const Samples& samples = samples_[i];
        const Basis& down = BasisFor(samples.shiftDown);
        const Basis& across = BasisFor(samples.shiftAcross);
        for (int v = 0; v < 8; ++v) {
            for (int u = 0; u < 8; ++u) {
                for (int m = 0; m < down.n; ++m) {
                    for (int x = 0; x < across.n; ++x) {
                        const double weight = double{down.down[m][v]} * across.across[u][x];
                        weights[v * 8 + u][m * across.n + x] =
                            static_cast<int32_t>(std::lround(weight * 65536));
                    }
                }
            }
        }
        return down.n * across.n;
    }

    void Take(const jpeg::Stream& stream, uint32_t mcuRow) override {
        for (int i = 0; i < stream.ComponentCount(); ++i) {
            const jpeg::Component& comp = stream.ComponentAt(i);
            Samples& samples = samples_[i];
            if (comp.sumCount > 0) {
                TakeSummed(stream, comp, samples, i, mcuRow);
                continue;
            }
            const Basis& down = BasisFor(samples.shiftDown);
            const Basis& across = BasisFor(samples.shiftAcross);
            const uint32_t n = static_cast<uint32_t>(down.n);
            const uint32_t m = static_cast<uint32_t>(across.n);
            const InverseBlockFunction inverse =
                InverseBlockFor(samples.shiftDown, samples.shiftAcross);
            // Known once a scan held the component; zero before, which gives mid-grey.
            for (int k = 0; k < 64; ++k) samples.steps[k] = comp.quant[k];
            // While streaming, Plane holds this row alone.
            const int16_t* row = stream.Plane(i);
            if (!stream.Streamed()) row += size_t{mcuRow} * comp.v * comp.planeWide * 64;
            for (uint32_t v = 0; v < comp.v; ++v) {
                const uint32_t by = mcuRow * comp.v + v;
                if (by >= comp.blocksHigh) break;
                const int16_t* block = row + size_t{v} * comp.planeWide * 64;
                uint8_t* d = samples.plane + size_t{by} * n * samples.wide;
                for (uint32_t bx = 0; bx < comp.blocksWide; ++bx, block += 64, d += m) {
                    inverse(block, samples.steps, down, across, d, samples.wide);
                }
            }
        }
    }

    // After the stream ran: the rows it kept, when it did not give them as they came.
    void Finish(const jpeg::Stream& stream) {
        if (stream.Streamed()) return;
        for (uint32_t my = 0; my < stream.McusHigh(); ++my) Take(stream, my);
    }

    int Shift() const { return shift_; }
    const Samples& ComponentSamples(int i) const { return samples_[i]; }

private:
    // Blocks kept as sums, or coefficients summed as they come (see SumToSample).
    void TakeSummed(const jpeg::Stream& stream, const jpeg::Component& comp, Samples& samples,
                    int i, uint32_t mcuRow) {
        const SummedBlocksFunction blocks = SummedBlocksFor(samples.shiftDown, samples.shiftAcross);
        const uint32_t n = 8u >> samples.shiftDown;
        const int16_t* row = stream.Plane(i);
        if (!stream.Streamed()) row += size_t{mcuRow} * comp.v * comp.planeWide * comp.stride;
        for (uint32_t v = 0; v < comp.v; ++v) {
            const uint32_t by = mcuRow * comp.v + v;
            if (by >= comp.blocksHigh) break;
            blocks(row + size_t{v} * comp.planeWide * comp.stride, comp, comp.blocksWide,
                   samples.plane + size_t{by} * n * samples.wide, samples.wide);
        }
    }

    // Sizes the samples; false when they would pass the output limit.
    bool Prepare(const jpeg::Stream& stream) {
        uint64_t total = 0;
        size_t starts[3] = {};
        const jpeg::Component& luma = stream.ComponentAt(0);
        for (int i = 0; i < stream.ComponentCount(); ++i) {
            const jpeg::Component& comp = stream.ComponentAt(i);
            Samples& samples = samples_[i];
            // Chroma sampled at half the luma's rate in a direction comes at twice the scale
            // there, which is the output's grid, while that is not the full size: upsampling it
            // from half the grid would spread each sample over twice the area it covers.
            const bool halfAcross = comp.h < luma.h;
            const bool halfDown = comp.v < luma.v;
            samples.shiftAcross = halfAcross && shift_ > 0 ? shift_ - 1 : shift_;
            samples.shiftDown = halfDown && shift_ > 0 ? shift_ - 1 : shift_;
            const uint32_t fullWide = jpeg::CeilDiv(stream.Width() * comp.h, luma.h);
            const uint32_t fullHigh = jpeg::CeilDiv(stream.Height() * comp.v, luma.v);
            samples.wide = comp.blocksWide * (8u >> samples.shiftAcross);
            samples.high = comp.blocksHigh * (8u >> samples.shiftDown);
            samples.valid = jpeg::CeilDiv(fullWide, 1u << samples.shiftAcross);
            samples.validRows = jpeg::CeilDiv(fullHigh, 1u << samples.shiftDown);
            starts[i] = static_cast<size_t>(total);
            total += uint64_t{samples.wide} * samples.high;
            if (total > kMaxOutputBytes) return false;
        }
        if (work_.size() < total) work_.resize(static_cast<size_t>(total));
        for (int i = 0; i < stream.ComponentCount(); ++i) {
            samples_[i].plane = work_.data() + starts[i];
        }
        return true;
    }

    const ScaleChoice& choose_;
    std::vector<uint8_t>& work_;
    int shift_ = 0;
    Samples samples_[3];
};

// How subsampled chroma meets the luma grid in one direction, in 32nds. At full size it comes
// at half the grid and is interpolated between the two nearest samples (3/4 and 1/4), as
// full-size decoders do. Reduced by g (2, 4, 8) it comes on the grid, each sample the mean of
// g/2 full-size ones; the full decode's interpolation spreads a quarter of the outermost of
// those into the neighbouring pixel, 1/(4g) of the pixel's mean, which is done here too.
struct ChromaFit {
    bool twice = false;  // at half the grid
    int spread = 0;      // in 32nds, to each neighbour; 0 for full-rate chroma
};

ChromaFit FitFor(bool subsampled, int shift) {
    if (!subsampled) return {};
    if (shift == 0) return {true, 0};
    return {false, 8 >> shift};
}

// The sample at `i` and its neighbours before and after, repeated at the edges.
struct Neighbours {
    uint32_t before, at, after;
};
inline Neighbours Around(uint32_t i, uint32_t last) {
    const uint32_t at = std::min(i, last);
    return {at == 0 ? 0 : at - 1, at, std::min(at + 1, last)};
}

// One row of chroma on the luma grid, in 1024ths (32nds of 32nds).
void ChromaRow(const Samples& c, uint32_t y, ChromaFit down, ChromaFit across, uint32_t count,
               std::vector<int32_t>& column, int32_t* out) {
    const uint32_t last = c.valid - 1;
    column.resize(c.valid);
    const auto row = [&c](uint32_t r) { return c.plane + size_t{r} * c.wide; };
    if (down.twice) {
        const Neighbours n = Around(y / 2, c.validRows - 1);
        const uint8_t* a = row(n.at);
        const uint8_t* b = row(y % 2 == 0 ? n.before : n.after);
        for (uint32_t x = 0; x <= last; ++x) column[x] = 24 * a[x] + 8 * b[x];
    } else {
        const Neighbours n = Around(y, c.validRows - 1);
        const uint8_t* a = row(n.at);
        const uint8_t* b = row(n.before);
        const uint8_t* d = row(n.after);
        const int centre = 32 - 2 * down.spread;
        for (uint32_t x = 0; x <= last; ++x) {
            column[x] = centre * a[x] + down.spread * (b[x] + d[x]);
        }
    }
    if (across.twice) {
        for (uint32_t x = 0; x < count; ++x) {
            const Neighbours n = Around(x / 2, last);
            out[x] = 24 * column[n.at] + 8 * column[x % 2 == 0 ? n.before : n.after];
        }
    } else {
        const int centre = 32 - 2 * across.spread;
        for (uint32_t x = 0; x < count; ++x) {
            const Neighbours n = Around(x, last);
            out[x] = centre * column[n.at] + across.spread * (column[n.before] + column[n.after]);
        }
    }
}

inline uint8_t Clamp255(int32_t v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

void Render(const jpeg::Stream& stream, const Transformer& transformer, ScaledPicture& out) {
    const uint32_t width = out.scaledWidth;
    const uint32_t height = out.scaledHeight;
    const Samples& luma = transformer.ComponentSamples(0);
    uint8_t* d = out.bgr.data();
    if (stream.ComponentCount() == 1) {
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* s = luma.plane + size_t{y} * luma.wide;
            for (uint32_t x = 0; x < width; ++x, d += 3) d[0] = d[1] = d[2] = s[x];
        }
        return;
    }
    if (stream.Rgb()) {
        // Every component at the output's size: the samples are the colours.
        const Samples& green = transformer.ComponentSamples(1);
        const Samples& blue = transformer.ComponentSamples(2);
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* r = luma.plane + size_t{y} * luma.wide;
            const uint8_t* g = green.plane + size_t{y} * green.wide;
            const uint8_t* b = blue.plane + size_t{y} * blue.wide;
            for (uint32_t x = 0; x < width; ++x, d += 3) {
                d[0] = b[x];
                d[1] = g[x];
                d[2] = r[x];
            }
        }
        return;
    }
    const Samples& blue = transformer.ComponentSamples(1);
    const Samples& red = transformer.ComponentSamples(2);
    const jpeg::Component& y0 = stream.ComponentAt(0);
    const jpeg::Component& c1 = stream.ComponentAt(1);
    const ChromaFit across = FitFor(y0.h > c1.h, transformer.Shift());
    const ChromaFit down = FitFor(y0.v > c1.v, transformer.Shift());
    std::vector<int32_t> cbRow(width), crRow(width), column;
    for (uint32_t y = 0; y < height; ++y) {
        ChromaRow(blue, y, down, across, width, column, cbRow.data());
        ChromaRow(red, y, down, across, width, column, crRow.data());
        const uint8_t* s = luma.plane + size_t{y} * luma.wide;
        for (uint32_t x = 0; x < width; ++x, d += 3) {
            // JFIF's conversion (JpegStream.h), chroma in 1024ths less 128.
            const int32_t l = s[x] * 65536 + 32768;
            const int64_t cb = cbRow[x] - 131072;
            const int64_t cr = crRow[x] - 131072;
            d[0] = Clamp255((l + static_cast<int32_t>((jpeg::kCbToB * cb) >> 10)) >> 16);
            d[1] = Clamp255(
                (l - static_cast<int32_t>((jpeg::kCbToG * cb + jpeg::kCrToG * cr) >> 10)) >> 16);
            d[2] = Clamp255((l + static_cast<int32_t>((jpeg::kCrToR * cr) >> 10)) >> 16);
        }
    }
}

}  // namespace

bool DecodeJpegScaled(const uint8_t* data, size_t size, const ScaleChoice& choose,
                      ScaledPicture& out) {
    if (!data) return false;
    // The tables take about 160 KiB: too much for the stack of a worker thread.
    const auto stream = std::make_unique<jpeg::Stream>(data, size, jpeg::Keep::kAll);
    Transformer transformer(choose, out.work);
    stream->SetRowSink(&transformer);
    if (!stream->Run()) return false;
    transformer.Finish(*stream);
    const int shift = transformer.Shift();
    out.width = stream->Width();
    out.height = stream->Height();
    out.components = static_cast<uint8_t>(stream->ComponentCount());
    out.bitsPerPixel = out.components == 1 ? 8 : 24;
    out.progressive = stream->Progressive();
    out.complete = stream->Complete();
    out.scaleShift = shift;
    out.scaledWidth = jpeg::CeilDiv(out.width, 1u << shift);
    out.scaledHeight = jpeg::CeilDiv(out.height, 1u << shift);
    size_t bytes = 0;
    if (!OutputSizeAllowed(out.scaledWidth, out.scaledHeight, 3, bytes)) return false;
    out.bgr.resize(bytes);
    Render(*stream, transformer, out);
    return true;
}

bool DecodeJpegScaled(const uint8_t* data, size_t size, int scaleShift, ScaledPicture& out) {
    return DecodeJpegScaled(
        data, size, [scaleShift](uint32_t, uint32_t) { return scaleShift; }, out);
}

}  // namespace decode
