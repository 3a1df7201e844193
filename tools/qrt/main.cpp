#include "Qrt.h"

#include "base/Utf.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

int wmain(int argc, wchar_t** argv) {
    // "\n" line ends and UTF-8 bytes exactly as written, the same as the native build.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return RunQrt(std::vector<std::wstring>(argv + 1, argv + argc), stdout, stderr);
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(text::FromUtf8(argv[i]));
    return RunQrt(args, stdout, stderr);
}
#endif
