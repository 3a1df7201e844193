#include "decode/JpegDc.h"

#include "decode/JpegStream.h"

#include <algorithm>
#include <memory>

namespace decode {
namespace {

// A block's mean sample in eighths (DC x step = 8 x (mean - 128)), clamped to 0..255.
inline int32_t MeanInEighths(int16_t coefficient, int32_t step) {
    return std::clamp(coefficient * step + 1024, 0, 2040);
}

// A block's mean sample, rounded.
inline uint8_t MeanSample(int16_t coefficient, int32_t step) {
    return static_cast<uint8_t>((MeanInEighths(coefficient, step) + 4) >> 3);
}

inline uint8_t ToByte(int32_t fixed) {
    // fixed: a value in eighths, scaled by 2^16.
    return static_cast<uint8_t>(std::clamp((fixed + (1 << 18)) >> 19, 0, 255));
}

void Render(const jpeg::Stream& stream, DcPicture& out) {
    out.width = stream.Width();
    out.height = stream.Height();
    out.components = static_cast<uint8_t>(stream.ComponentCount());
    out.bitsPerPixel = out.components == 1 ? 8 : 24;
    out.progressive = stream.Progressive();
    out.blocksWide = jpeg::CeilDiv(out.width, 8);
    out.blocksHigh = jpeg::CeilDiv(out.height, 8);
    out.bgr.resize(size_t{out.blocksWide} * out.blocksHigh * 3);
    uint8_t* d = out.bgr.data();
    const jpeg::Component& luma = stream.ComponentAt(0);
    const int16_t* y = stream.Plane(0);
    if (out.components == 1) {
        for (uint32_t by = 0; by < out.blocksHigh; ++by) {
            const int16_t* row = y + size_t{by} * luma.planeWide;
            for (uint32_t bx = 0; bx < out.blocksWide; ++bx, d += 3) {
                d[0] = d[1] = d[2] = MeanSample(row[bx], luma.quant[0]);
            }
        }
        return;
    }
    if (stream.Rgb()) {
        // Each component sampled alike: the block means are the colours.
        const jpeg::Component& green = stream.ComponentAt(1);
        const jpeg::Component& blue = stream.ComponentAt(2);
        for (uint32_t by = 0; by < out.blocksHigh; ++by) {
            const int16_t* r = y + size_t{by} * luma.planeWide;
            const int16_t* g = stream.Plane(1) + size_t{by} * green.planeWide;
            const int16_t* b = stream.Plane(2) + size_t{by} * blue.planeWide;
            for (uint32_t bx = 0; bx < out.blocksWide; ++bx, d += 3) {
                d[0] = MeanSample(b[bx], blue.quant[0]);
                d[1] = MeanSample(g[bx], green.quant[0]);
                d[2] = MeanSample(r[bx], luma.quant[0]);
            }
        }
        return;
    }
    const jpeg::Component& blue = stream.ComponentAt(1);
    const jpeg::Component& red = stream.ComponentAt(2);
    const int16_t* cb = stream.Plane(1);
    const int16_t* cr = stream.Plane(2);
    const int shiftX = luma.h > blue.h ? 1 : 0;
    const int shiftY = luma.v > blue.v ? 1 : 0;
    for (uint32_t by = 0; by < out.blocksHigh; ++by) {
        const int16_t* yRow = y + size_t{by} * luma.planeWide;
        const int16_t* cbRow = cb + size_t{by >> shiftY} * blue.planeWide;
        const int16_t* crRow = cr + size_t{by >> shiftY} * red.planeWide;
        for (uint32_t bx = 0; bx < out.blocksWide; ++bx, d += 3) {
            const int32_t l = MeanInEighths(yRow[bx], luma.quant[0]) << 16;
            const int32_t b = MeanInEighths(cbRow[bx >> shiftX], blue.quant[0]) - 1024;
            const int32_t r = MeanInEighths(crRow[bx >> shiftX], red.quant[0]) - 1024;
            d[0] = ToByte(l + jpeg::kCbToB * b);
            d[1] = ToByte(l - jpeg::kCbToG * b - jpeg::kCrToG * r);
            d[2] = ToByte(l + jpeg::kCrToR * r);
        }
    }
}

}  // namespace

bool DecodeJpegDc(const uint8_t* data, size_t size, DcPicture& out) {
    if (!data) return false;
    // The tables take about 160 KiB: too much for the stack of a worker thread.
    const auto stream = std::make_unique<jpeg::Stream>(data, size, jpeg::Keep::kDc);
    if (!stream->Run()) return false;
    Render(*stream, out);
    out.complete = stream->Complete();
    return true;
}

}  // namespace decode
