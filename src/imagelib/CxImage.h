#pragma once
// The image library's picture object. Files are decoded through WIC (COM must be initialised by
// the calling thread); scaling, composing and drawing are our own code, so that a picture looks
// the same on Windows and under Wine.
//
// Pixels are kept as DIB rows, bottom row first: 24 bits (blue, green, red) for opaque
// pictures, 32 bits with premultiplied alpha when some pixel is not fully opaque. Every
// operation reports failure by its result; GetLastError then says why.

#include "base/Win.h"
#include "imagelib/Pixels.h"
#include "imagelib/WicDecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The box a picture will be drawn fitted into (proportions kept), in pixels.
struct FitBox {
    uint32_t width = 0;
    uint32_t height = 0;
};

class CxImage {
public:
    // An empty image. GetType reports `imageType` until a picture comes from a file.
    explicit CxImage(uint32_t imageType = 0);

    // Decodes the file's first frame (an icon's largest). `imageType` is a hint: the format is
    // recognised from the content, and GetType reports what was found. A file that cannot be
    // decoded leaves the object without pixels and GetLastError set.
    //
    // `forThumbnail` says the picture is decoded to be fitted into a 100 x 100 thumbnail: a
    // JPEG may then come as its 8 x 8 block averages (its pixels smaller than the file's), as
    // long as those still cover the fitted thumbnail, else from our own decoder at the scale
    // that covers it (imagelib/DirectDecoder.h); GetImageWidth, GetImageHeight,
    // GetImageBpp and GetType report the file's own facts either way. BMP, TGA and TIFF
    // files, the common kinds of PNG and the first frame of a GIF (on its logical screen) are
    // read directly (imagelib/DirectDecoder.h); everything else, and whatever those readers
    // refuse, through WIC in the decoder process (imagelib/DecoderHost.h). A video file gives a
    // frame from a tenth of its length (imagelib/Video.h); GetType then reports its
    // compressor's four characters and GetImageBpp its bit rate in kbit/s (0x3FFFF: variable).
    // The second flag changes nothing.
    CxImage(const wchar_t* fileName, uint32_t imageType, bool forThumbnail = false,
            bool flag2 = false);

    // Decodes the file's first frame for drawing fitted into `box`: a JPEG read by our own
    // decoder comes at 1/2, 1/4 or 1/8 of its size, the smallest scale whose pixels still cover
    // the picture fitted into the box (never smaller than the fitted size in either direction);
    // anything else comes whole, as from the constructor above. GetImageWidth/Height/Bpp/Type
    // report the file's own facts either way; GetWidth/GetHeight the pixels held.
    //
    // A JPEG our decoder takes that the box needs whole comes whole from our decoder too (its
    // chroma interpolated, where WIC under Wine repeats it). A box of 0 x 0 (either side 0)
    // means the whole picture, exactly as the constructor above gives it. A JPEG our decoder
    // takes but finds damaged or cut short is tried through WIC, and shown as far as our
    // decoder read it when WIC fails too. EXIF orientation is not applied, as WIC does not
    // apply it either. Our decoder runs in-process, as the other direct readers do.
    CxImage(const wchar_t* fileName, uint32_t imageType, FitBox box);
    CxImage(const uint8_t* buffer, size_t size, uint32_t imageType, FitBox box,
            const wchar_t* source = nullptr);

    // A picture held in memory (the sample inside a template package), decoded as a file is.
    // `source` names the file that holds it: a picture that stops its decoder is not tried
    // again while that file is unchanged.
    CxImage(const uint8_t* buffer, size_t size, uint32_t imageType, bool forThumbnail = false,
            const wchar_t* source = nullptr);

    // An independent copy. Without `copyPixels` only the file's facts are copied; without
    // `copyAlpha` transparent pixels are flattened onto black. There are no selections in this
    // library, so `copySelection` changes nothing.
    CxImage(const CxImage& src, bool copyPixels = true, bool copySelection = true,
            bool copyAlpha = true);
    CxImage& operator=(const CxImage&) = default;
    CxImage(CxImage&&) noexcept = default;
    CxImage& operator=(CxImage&&) noexcept = default;
    ~CxImage() = default;

    // True exactly when the object holds pixels.
    bool IsValid() const { return !pixels_.Empty(); }
    // A short description of the last failure; empty when nothing failed.
    const char* GetLastError() const { return lastError_.c_str(); }

    // The pixels held now.
    uint32_t GetWidth() const { return pixels_.width; }
    uint32_t GetHeight() const { return pixels_.height; }
    uint32_t GetBpp() const { return pixels_.channels * 8; }  // 24, 32 or 0
    uint32_t GetEffWidth() const { return pixels_.stride; }   // bytes per row

    // The decoded file: format code (0 none, 1 bmp, 2 gif, 3 jpg, 4 png, 5 ico, 6 tif, 7 tga,
    // 11 wbmp), its size and its own bits per pixel (8 for an indexed GIF, 24 for a JPEG); for a
    // video, as said above.
    uint32_t GetType() const { return type_; }
    uint32_t GetImageWidth() const { return imageWidth_; }
    uint32_t GetImageHeight() const { return imageHeight_; }
    uint32_t GetImageBpp() const { return imageBpp_; }

    // Makes the image exactly newx x newy, 24 bits: the picture shrunk to fit with its
    // proportions kept, centred on a canvas of `canvasColor`. A pixel less than half opaque
    // becomes the canvas colour, any other keeps its own colour. In place when `out` is null;
    // otherwise `out` receives the result.
    bool Thumbnail(long newx, long newy, RGBQUAD canvasColor, CxImage* out = nullptr);

    // 24: drops alpha (transparent pixels flattened onto black); 32: adds an opaque alpha.
    // Nothing to do when the image already has that depth.
    bool IncreaseBpp(uint32_t bpp);

    // Fills the image from caller rows of 24 (blue, green, red) or 32 bits (with straight
    // alpha), `bytesPerLine` apart. Without `flipImage` the first row is the bottom one, as in
    // a DIB; with it, the top one.
    bool CreateFromArray(const uint8_t* bits, uint32_t width, uint32_t height, uint32_t bpp,
                         uint32_t bytesPerLine, bool flipImage);

    // Scales to newx x newy: area averaging along an axis that shrinks, linear interpolation
    // along one that grows. There is one filter, whatever `mode` says. In place when `out` is
    // null.
    bool Resample(long newx, long newy, int mode = 1, CxImage* out = nullptr);

    // A DIB section with a copy of the pixels, owned by the caller (DeleteObject). A DIB does
    // not depend on a device, so `hdc` is not needed; it is accepted for callers that pass one.
    HBITMAP MakeBitmap(HDC hdc = nullptr) const;

    // Bytes of a packed DIB of the image: the 40-byte header (no palette at 24 or 32 bits) and
    // the padded rows. 0 when empty.
    uint32_t GetSize() const;
    // The first byte of the given row, counted from the bottom; null past the last row.
    uint8_t* GetBits(uint32_t row = 0);
    const uint8_t* GetBits(uint32_t row = 0) const;

    // Draws the picture scaled into (x, y, cx, cy); -1 (any negative size) means the own size.
    // Only the part inside `clip` and the DC's clipping box is computed and drawn. Scaling is
    // always the filtered resampling, so `smooth` changes nothing. Transparent pixels are
    // blended onto the DC. Returns 1 when something was drawn, 0 otherwise (an empty image
    // draws nothing).
    long Draw(HDC hdc, long x, long y, long cx = -1, long cy = -1, RECT* clip = nullptr,
              bool smooth = false) const;
    // The picture stretched into (x, y, cx, cy), as Draw without a clip rectangle.
    long Draw2(HDC hdc, long x, long y, long cx = -1, long cy = -1) const;

private:
    bool Fail(const char* reason);
    void Take(imagelib::DecodedImage& decoded);
    // `out` when given and not this image, with this image's facts; otherwise this image.
    CxImage& Target(CxImage* out);

    imagelib::Pixels pixels_;
    uint32_t type_ = 0;
    uint32_t imageWidth_ = 0;
    uint32_t imageHeight_ = 0;
    uint32_t imageBpp_ = 0;
    std::string lastError_;
};
