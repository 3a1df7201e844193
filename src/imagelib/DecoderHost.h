#pragma once
// WIC decoding out of process. WIC and the codecs installed on a user's Windows are not ours,
// and they do crash on damaged files (Wine's WIC dereferences a null palette for a GIF without
// a colour table). In-process such a crash ends the program, and for good: the thumbnail
// worker meets the same file at every visit of its folder. Here a picture that crashes or hangs
// the decoder costs only that picture: its decoder process ends, the picture fails, it is not
// tried again while this program runs (unless the file changes), and the next picture gets a
// new decoder.
//
// The decoder is GlimmerlyDecoder.exe beside the running program (see DecoderService.h).
// Decoder processes are started on demand, one per concurrent caller, and kept for the next
// picture; they end with the program. Where the decoder program is missing or cannot start
// (then it is not tried again while the program runs), pictures are decoded in-process as
// before, so a copied Glimmerly.exe still works.

#include "imagelib/WicDecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace imagelib {

// As DecodeImageFile: nullptr on success, otherwise a short reason and `out` empty. The calling
// thread needs COM only for the in-process fallback.
const char* DecodeIsolated(const wchar_t* path, DecodedImage& out);

// As DecodeIsolated, for a picture held in memory; `name` is the file that holds it (a
// template package), which stands for it in the memory of pictures that stopped a decoder.
const char* DecodeIsolatedMemory(const uint8_t* data, size_t size, const wchar_t* name,
                                 DecodedImage& out);

// A frame of a video file (imagelib/Video.h), pixels only. A video whose decoder stalls is
// given up on after at most 10 s.
const char* DecodeIsolatedVideoFrame(const wchar_t* path, DecodedImage& out);

// The reason given for a picture that crashed or hung a decoder, now or earlier.
inline constexpr char kDecoderFailed[] = "The picture stopped its decoder";

struct DecoderStats {
    uint32_t started = 0;        // decoder processes started
    uint32_t lost = 0;           // decoder processes that crashed or were ended for hanging
    uint32_t spared = 0;         // requests answered from the memory of earlier losses
    uint32_t inProcess = 0;      // pictures decoded in-process, without a decoder program
    uint32_t startFailures = 0;  // decoder programs that were there but did not start
};
DecoderStats GetDecoderStats();

// For tests: another decoder program (empty: the default beside the running program), and
// how long a picture may take before its decoder is ended. Idle decoders are ended and the
// memory of losses is forgotten.
void ConfigureDecoder(const std::wstring& program, uint32_t timeoutMs);

}  // namespace imagelib
