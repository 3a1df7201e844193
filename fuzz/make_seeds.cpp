// Writes the fuzzer's seed packages: well-formed ones of every kind and the malformed
// shapes the package tests use.
#include "support/PackageBytes.h"

#include <cstdio>
#include <fstream>
#include <string>

using testing_support::PackageBytes;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string name = PackageBytes::NameField(L"bad.tpl");
    const std::pair<const char*, std::string> seeds[] = {
        {"empty", PackageBytes(L"Empty").Bytes()},
        {"kinds", PackageBytes(L"Every kind")
                      .Add(16, L"Frames\\Gold\\frame.tpl", "template")
                      .Add(17, L"bg.jpg", std::string(300, 'b'))
                      .Add(18, L"border.png", "border")
                      .Add(19, L"mask.msk", "mask")
                      .Add(20, L"texture.tex", "texture")
                      .Add(21, L"brush.abr", "brush")
                      .Add(22, L"sample.jpg", "sample")
                      .Add(99, L"other", "other")
                      .Bytes()},
        {"duplicates", PackageBytes()
                           .Add(16, L"a.tpl", "1")
                           .Add(16, L"a.tpl", "2")
                           .Add(22, L"sample.jpg", "3")
                           .Bytes()},
        {"unsafe", PackageBytes()
                       .Add(16, L"..\\up.tpl", "x")
                       .Add(16, L"C:\\x.tpl", "x")
                       .Add(16, L"a\\.. \\b", "x")
                       .Bytes()},
        {"lengths",
         PackageBytes()
             .Append(PackageBytes::Record(16, name, "abc"))
             .Append(PackageBytes::Record(16, name, PackageBytes::U32(0xFFFFFFFFu) + "zzzzzzzz"))
             .Append(PackageBytes::RecordWith(16, 3, 9, "abc", "123456789"))
             .Add(16, L"ok.tpl", "ok")
             .Append(PackageBytes::RecordWith(16, 16, 0x7FFFFFFF, name, "cut"))
             .Bytes()},
        {"short-stream", PackageBytes()
                             .Append(PackageBytes::Record(
                                 16, name, PackageBytes::U32(100) + PackageBytes::Deflate("x")))
                             .Bytes()},
    };
    for (const auto& [file, bytes] : seeds) {
        std::ofstream(folder + "/" + file + ".qrt", std::ios::binary)
            .write(bytes.data(), bytes.size());
    }
    return 0;
}
