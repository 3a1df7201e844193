#pragma once
// What every picture reader's fuzzer demands of a picture the reader accepted: the shape it
// states, and opaque unless it says it can carry transparency.
#include "decode/RawPictures.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

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

// A sink that demands what readers promise it: rows of its width, from the top or from the
// bottom, each once; and, for an accepted picture, every row.
class CheckingSink : public decode::RowSink {
public:
    bool Begin(uint32_t width, uint32_t height, bool) override {
        if (begun_ || width == 0 || height == 0) std::abort();
        begun_ = true;
        width_ = width;
        seen_.assign(height, false);
        count_ = 0;
        return true;
    }
    void Row(uint32_t y, const uint8_t* bgra) override {
        if (!begun_ || y >= seen_.size() || seen_[y]) std::abort();
        if (count_ > 0 && y + 1 != last_ && y != last_ + 1) std::abort();
        volatile uint8_t touch = bgra[size_t{width_} * 4 - 1];  // the row is whole
        (void)touch;
        seen_[y] = true;
        last_ = y;
        ++count_;
    }
    // After a reader accepted the picture.
    void CheckAccepted(const decode::RawPicture& picture) const {
        if (!picture.streamed) {
            if (begun_) std::abort();
            CheckPicture(picture);
            return;
        }
        if (!begun_ || picture.width != width_ || count_ != seen_.size() ||
            picture.height != seen_.size()) {
            std::abort();
        }
    }

private:
    bool begun_ = false;
    uint32_t width_ = 0;
    uint32_t last_ = 0;
    size_t count_ = 0;
    std::vector<bool> seen_;
};

// The picture read twice by `read`: kept whole, and handed row by row to a sink.
template <class Read>
void CheckReader(const Read& read, const uint8_t* data, size_t size) {
    static decode::RawPicture picture;  // reused, as callers do
    picture.sink = nullptr;
    if (read(data, size, picture)) CheckPicture(picture);
    CheckingSink sink;
    picture.sink = &sink;
    picture.streamed = false;
    if (read(data, size, picture)) sink.CheckAccepted(picture);
    picture.sink = nullptr;
}
