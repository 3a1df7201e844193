// A decoder program for tests: crashes on files whose name contains "crash", never answers for
// "hang", and decodes every other file as GlimmerlyDecoder.exe does.
#include "base/Win.h"
#include "imagelib/DecoderService.h"

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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    return imagelib::ServeDecoder(arguments, DecodeWithTrouble);
}
