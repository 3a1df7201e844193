// libFuzzer target: arbitrary bytes as a package file, opened, listed, verified and
// extracted with every meaningful kind into a scratch folder.
#include "base/Utf.h"
#include "package/PackageContents.h"
#include "package/TemplatePackage.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace stdfs = std::filesystem;

const stdfs::path& ScratchFolder() {
    static const stdfs::path folder = [] {
        const char* shm = "/dev/shm";
        std::string pattern =
            (access(shm, W_OK) == 0 ? std::string(shm) : stdfs::temp_directory_path().string()) +
            "/qrt-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        std::atexit([] {
            std::error_code ec;
            stdfs::remove_all(ScratchFolder(), ec);
        });
        return stdfs::path(made);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const stdfs::path input = ScratchFolder() / "input.qrt";
    const stdfs::path out = ScratchFolder() / "out";
    std::ofstream(input, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    stdfs::create_directory(out);
    const std::wstring path = text::FromUtf8(input.string());
    const std::wstring folder = text::FromUtf8(out.string());

    package::Listing listing;
    std::vector<std::string> problems;
    std::string error;
    package::ReadListing(path, listing, error);
    package::VerifyPackage(path, problems, error);

    TemplatePackage reader;
    reader.SetDiagnosticSink([](const std::wstring&) {});
    wchar_t description[package::kDescriptionChars];
    if (reader.Open(path.c_str(), description) == 1) {
        for (int kind : {16, 17, 21, 22}) reader.ExtractKind(kind, folder.c_str());
        reader.ExtractKind(16, folder.c_str());  // again, over what the first run wrote
    }
    reader.Close();

    // Nothing may ever be written outside the extraction folder.
    for (const auto& entry : stdfs::directory_iterator(ScratchFolder())) {
        const std::string name = entry.path().filename().string();
        if (name != "input.qrt" && name != "out") std::abort();
    }
    std::error_code ec;
    stdfs::remove_all(out, ec);
    return 0;
}
