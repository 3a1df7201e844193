#include "Thumbs.h"

#include <fcntl.h>
#include <io.h>

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return RunThumbs(std::vector<std::wstring>(argv + 1, argv + argc), stdout, stderr);
}
