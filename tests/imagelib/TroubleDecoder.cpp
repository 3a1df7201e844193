// A decoder program for tests: crashes on files (and pictures in memory) whose name contains
// "crash", never answers for "hang" (pictures and video frames), and decodes every other one
// as GlimmerlyDecoder.exe does.
#include "base/Win.h"
#include "imagelib/DecoderService.h"
#include "imagelib/Video.h"

#include <cwchar>

namespace {

const char* DecodeWithTrouble(const wchar_t* path, imagelib::DecodedImage& out) {
    if (std::wcsstr(path, L"crash")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (std::wcsstr(path, L"hang")) {
        for (;;) ::Sleep(INFINITE);
    }
    return imagelib::DecodeImageFile(path, out);
}

const char* DecodeMemoryWithTrouble(const wchar_t* name, const uint8_t* data, size_t size,
                                    imagelib::DecodedImage& out) {
    if (std::wcsstr(name, L"crash")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    return imagelib::DecodeImageMemory(data, size, out);
}

// A video's decoder that stalls, as a platform decoder missing a plug-in was seen to.
const char* DecodeVideoWithTrouble(const wchar_t* path, imagelib::DecodedImage& out) {
    if (std::wcsstr(path, L"hang")) {
        for (;;) ::Sleep(INFINITE);
    }
    return imagelib::DecodeVideoFrame(path, out);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    return imagelib::ServeDecoder(
        arguments, {DecodeWithTrouble, DecodeMemoryWithTrouble, DecodeVideoWithTrouble});
}
