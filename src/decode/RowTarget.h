#pragma once
// Where a reader puts the rows it makes: in the picture's own rows, or, when the picture's sink
// takes them, in two rows that alternate (the row above stays at hand for PNG's filters) and
// go to the sink as each is made.

#include "decode/PixelRows.h"
#include "decode/RawPictures.h"

#include <cstddef>
#include <cstdint>

namespace decode {

class RowTarget {
public:
    // For `out` (its size set, and checked against the limits); `alpha`: its pixels may be
    // transparent, so the sink keeps what weighing colours by alpha needs. `inOrder`: each row
    // is made whole before the next (not so for tiles).
    RowTarget(RawPicture& out, bool alpha, bool inOrder = true)
        : out_(out), rowBytes_(size_t{out.width} * 4), transparent_(alpha) {
        out.streamed = inOrder && out.sink && out.sink->Begin(out.width, out.height, alpha);
        out.bgra.resize(out.streamed ? 2 * rowBytes_ : rowBytes_ * out.height);
    }

    uint8_t* Row(uint32_t y) {
        return out_.bgra.data() + (out_.streamed ? (y & 1) : y) * rowBytes_;
    }

    // Row `y` is complete.
    void Made(uint32_t y) {
        if (!out_.streamed) return;
        const uint8_t* row = Row(y);
        for (size_t i = 3; transparent_ && i < rowBytes_; i += 4) transparent_ = row[i] == 0;
        out_.sink->Row(y, row);
    }

    // Every pixel so far is fully transparent (false for a picture made without alpha).
    bool AllTransparent() const {
        if (out_.streamed || !transparent_) return transparent_;
        for (size_t i = 3; i < out_.bgra.size(); i += 4) {
            if (out_.bgra[i] != 0) return false;
        }
        return true;
    }

    // The picture shows opaque: kept rows have their alpha set, a sink learns it from hasAlpha.
    void MakeOpaque() {
        if (!out_.streamed) {
            for (size_t i = 3; i < out_.bgra.size(); i += 4) out_.bgra[i] = 255;
        }
        out_.hasAlpha = false;
    }

private:
    RawPicture& out_;
    size_t rowBytes_;
    bool transparent_;
};

}  // namespace decode
