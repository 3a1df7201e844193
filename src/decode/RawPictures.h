#pragma once
// BMP, TGA and WBMP files read straight into pixels: their pixels are stored nearly as they are
// shown, so a general decoder has nothing to add but time.
//
// BMP: every header (OS/2 1.x of 12 bytes, OS/2 2.x of 16 to 64, Windows of 40, 52, 56, 108
// and 124 bytes); 1, 2, 4 and 8 bits with a palette (a short one: indices past it are black;
// one claimed longer than the room before the pixels is cut to that room); RLE8 and RLE4,
// bottom-up (a cut file keeps what it drew; pixels the data never draws are transparent);
// 16 bits (BI_RGB: 5-5-5) and 32 bits, BI_RGB or with bit fields, whose masks may be in any
// order and of any width (scaled to 8 bits by repeating their bits); 24 bits; either row
// order. Refused: JPEG, PNG, CMYK and OS/2 Huffman or RLE24 contents, top-down RLE, masks
// with gaps, overlapping or missing a colour.
// BMP alpha: only where bit fields give an alpha mask (a V3 header or later, or 16 bytes of
// masks after a 40-byte header). The fourth byte of 32-bit BI_RGB pixels is unused whatever
// the header, as Wine's WIC and ImageMagick read them, although PIL writes alpha there under
// a 40-byte header (ImageMagick shows that unless it is 0 throughout).
//
// TGA: colour-mapped (types 1 and 9: 8- or 16-bit indices, entries of 15, 16, 24 or 32 bits
// from the map's first index on; other indices are black), true colour (2 and 10: 15, 16, 24
// and 32 bits) and grey (3 and 11: 8 bits, or 16 of grey then alpha), each plain or
// run-length encoded (packets may run on into the next row; a cut file keeps what it drew,
// the rest transparent); all four origins. Alpha is taken where the descriptor's alpha bits
// give the pixel's (or the map entry's) spare bits to it: 8 of 32, 1 of 16, 8 of grey's 16;
// with none, the picture is opaque. Refused: alpha bits beyond what the pixel holds,
// interleaved rows, and every other type: TGA has no signature, so a file must pass these
// checks to be read as one.
//
// WBMP: type 0 only, without extension headers; a file cut short is refused.
//
// BMP and TGA: a picture whose declared alpha is 0 throughout is shown opaque (writers that fill a
// channel they do not use leave it so; ImageMagick shows it fully transparent). An RLE picture
// larger than its data could fill is refused before its memory is taken. Refused files are
// left to WIC.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// Takes a picture's rows as a reader makes them, so that the whole picture is never held (a
// thumbnail reduces them as they come: a 3 MP picture is 12 MB of fresh memory otherwise).
class RowSink {
public:
    virtual ~RowSink() = default;
    // The picture's size, before its first row. `alpha`: its pixels may be transparent. False
    // when the sink does not want this picture's rows: the reader then keeps them all.
    virtual bool Begin(uint32_t width, uint32_t height, bool alpha) = 0;
    // Row `y`, counted from the top: width x B, G, R, A (straight alpha). Rows come in order,
    // from the top or from the bottom, each once; a reader that fails stops at any row.
    virtual void Row(uint32_t y, const uint8_t* bgra) = 0;
};

struct RawPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerPixel = 0;  // of the file
    // Whether the file can carry transparency. The bits per pixel do not tell: a PNG may have
    // 8 bits of palette indices with alpha in the palette, or 16 bits of grey and alpha.
    bool hasAlpha = false;
    // Top-down rows of width x 4 bytes: B, G, R, A (straight alpha; 255 where the file has
    // none). When the rows went to `sink`, only the last two.
    std::vector<uint8_t> bgra;
    // The readers' scratch (TIFF's decoded strips), kept like `bgra` for the next picture.
    std::vector<uint8_t> work;
    // Set by the caller: the readers whose rows come in order (BMP and TGA but for RLE BMP, PNG,
    // TIFF in strips) hand them here, if it takes them, and set `streamed`.
    RowSink* sink = nullptr;
    bool streamed = false;
};

// Each returns false, with `out` left in no useful state, for files of other kinds, damaged or
// truncated files (pixel data shorter than the header says) and pictures larger than the limits in
// decode/Limits.h. The buffer of `out` is reused across calls.
bool ReadBmp(const uint8_t* data, size_t size, RawPicture& out);
bool ReadTga(const uint8_t* data, size_t size, RawPicture& out);
// WBMP (wireless bitmap) of type 0: 1-bit rows, most significant bit first, 1 white.
bool ReadWbmp(const uint8_t* data, size_t size, RawPicture& out);

}  // namespace decode
