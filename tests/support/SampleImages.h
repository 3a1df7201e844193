#pragma once
// Real image files for the image library's tests, written with WIC's encoders (BMP, PNG, JPEG,
// GIF, TIFF) or byte by byte (ICO, TGA), and pixel access to a CxImage.

#include "imagelib/CxImage.h"

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

namespace sample {

struct Color {
    uint8_t b, g, r, a = 255;
    bool operator==(const Color&) const = default;
};

inline void PrintTo(const Color& c, std::ostream* out) {
    *out << "(b " << int{c.b} << ", g " << int{c.g} << ", r " << int{c.r} << ", a " << int{c.a}
         << ")";
}

inline constexpr Color kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kYellow{0, 255, 255},
    kMagenta{255, 0, 255};
inline constexpr RGBQUAD kMagentaQuad{255, 0, 255, 0};

// Pixels row by row, top row first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Color> pixels;
    Color& At(uint32_t x, uint32_t y) { return pixels[size_t{y} * width + x]; }
};

// Quadrants: red top-left, green top-right, blue bottom-left, yellow bottom-right.
Color Quadrant(uint32_t x, uint32_t y, uint32_t width, uint32_t height);
Picture QuadrantPicture(uint32_t width, uint32_t height);

enum class Format { Bmp, Png, Jpeg, Gif, Tiff, Ico, Tga, PngWithAlpha };

// The GIF gets a palette of the picture's colours; ICO and PNG-with-alpha keep alpha, the
// others drop it. False when an encoder failed.
bool Write(Format format, const Picture& picture, const std::filesystem::path& path);
// An icon file with one 32-bit frame per picture.
void WriteIcon(const std::vector<Picture>& frames, const std::filesystem::path& path);

// The picture through CreateFromArray (top row first): 24 bits when it is opaque, else 32.
CxImage MakeImage(const Picture& picture);

// The pixel at (x, y), y counted from the top; 24-bit images give alpha 255.
Color PixelAt(const CxImage& image, uint32_t x, uint32_t y);

}  // namespace sample
