// GlimmerlyDecoder.exe: decodes pictures through WIC, and video frames, for the program that
// started it, so that a codec's crash ends this process rather than the program. The only argument
// is the name of the pipe to serve; started any other way, it does nothing.
#include "base/Win.h"
#include "imagelib/DecoderService.h"
#include "imagelib/Video.h"

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    const wchar_t* prefix = L"\\\\.\\pipe\\glimmerly-decoder-";
    if (!arguments || std::wcsncmp(arguments, prefix, std::wcslen(prefix)) != 0) return 2;
    return imagelib::ServeDecoder(
        arguments,
        {imagelib::DecodeImageFile, imagelib::DecodeMemoryWithWic, imagelib::DecodeVideoFrame});
}
