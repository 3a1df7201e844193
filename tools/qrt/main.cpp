#include "Qrt.h"

#include "base/Utf.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "base/FullPath.h"
#include "base/Win.h"

namespace {

// Every operand but extract's KIND names a file or folder.
void MakePathsFull(std::vector<std::wstring>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[0] == L"extract" && i == 2) continue;
        args[i] = win::FullPath(args[i]);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // "\n" line ends and UTF-8 bytes exactly as written, the same as the native build.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    MakePathsFull(args);
    return RunQrt(args, stdout, stderr);
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(text::FromUtf8(argv[i]));
    return RunQrt(args, stdout, stderr);
}
#endif
