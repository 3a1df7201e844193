#pragma once
// The messages between a program and its decoder process, over a byte-mode named pipe. One
// request at a time: the caller writes a request, the decoder answers with a reply.
//
// Request: RequestHeader, then `pathChars` UTF-16 units of the path (no terminator). `kind`
// asks for a picture or for a frame of a video file. A picture
// held in memory comes in a section whose handle the caller has duplicated into the decoder's
// process (`dataSection`, `dataBytes`); the decoder closes it. Its path then only names it.
// Reply: Reply. On success the pixels lie in a pagefile-backed section that the decoder keeps
// open until its next request; `section` is the section's handle value in the decoder's
// process, which the caller duplicates into its own.

#include <cstdint>

namespace imagelib::decoder_protocol {

constexpr uint32_t kRequestMagic = 0x51444C47;  // "GLDQ"
constexpr uint32_t kReplyMagic = 0x52444C47;    // "GLDR"
constexpr uint32_t kMaxPathChars = 32767;
constexpr uint32_t kKindPicture = 0;
constexpr uint32_t kKindVideoFrame = 1;

struct RequestHeader {
    uint32_t magic = kRequestMagic;
    uint32_t pathChars = 0;
    uint64_t dataSection = 0;
    uint64_t dataBytes = 0;  // 0: decode the file at the path
    uint32_t kind = kKindPicture;
    uint32_t reserved = 0;
};

struct Reply {
    uint32_t magic = kReplyMagic;
    uint32_t decoded = 0;  // 1: the fields below describe a picture; 0: `reason` says why not
    char reason[64] = {};
    uint32_t type = 0;  // the DecodedImage facts
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t pixelWidth = 0;  // the Pixels layout
    uint32_t pixelHeight = 0;
    uint32_t channels = 0;
    uint32_t stride = 0;
    uint64_t section = 0;
    uint64_t bytes = 0;
};

}  // namespace imagelib::decoder_protocol
