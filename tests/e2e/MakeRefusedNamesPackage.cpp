// Writes a package that no writer would make: good members of three kinds between members
// whose names Windows refuses, so an end-to-end install can show what it skips.
#include "support/PackageBytes.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: make_refused_names_package OUT.qrt\n", stderr);
        return 2;
    }
    using testing_support::PackageBytes;
    PackageBytes bytes(L"Refused names");
    bytes.Add(16, L"aux.png", "device")
        .Add(16, L"good.tpl", "template")
        .Add(17, L"what?.jpg", "reserved character")
        .Add(17, L"Set\\fine.jpg", "background")
        .Add(18, L"con\\x.tpl", "device folder")
        .Add(18, L"dot.\\x.tpl", "dot-ended folder")
        .Add(21, L"round.abr", "brush");
    FILE* out = _wfopen(argv[1], L"wb");
    if (!out) return 1;
    const std::string& data = bytes.Bytes();
    const bool written = std::fwrite(data.data(), 1, data.size(), out) == data.size();
    return (std::fclose(out) == 0 && written) ? 0 : 1;
}
