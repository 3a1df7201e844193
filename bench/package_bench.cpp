// Package extraction throughput beside zlib's raw uncompress of the same members.
// Usage: package_bench FOLDER   (packs every file of FOLDER into one package first)
#include "base/Utf.h"
#include "package/PackageWriter.h"
#include "package/TemplatePackage.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: package_bench FOLDER\n");
        return 2;
    }
    struct Member {
        std::vector<uint8_t> compressed;
        size_t size;
    };
    std::vector<Member> members;
    package::PackageWriter writer;
    std::string error;
    size_t total = 0;
    for (const auto& entry : stdfs::directory_iterator(argv[1])) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '_') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        if (!writer.AddMember(16, text::FromUtf8(entry.path().filename().string()),
                              reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                              error)) {
            std::fprintf(stderr, "package_bench: %s\n", error.c_str());
            return 1;
        }
        uLongf bound = compressBound(static_cast<uLong>(bytes.size()));
        Member member{std::vector<uint8_t>(bound), bytes.size()};
        compress2(member.compressed.data(), &bound, reinterpret_cast<const Bytef*>(bytes.data()),
                  static_cast<uLong>(bytes.size()), Z_BEST_COMPRESSION);
        member.compressed.resize(bound);
        members.push_back(std::move(member));
        total += bytes.size();
    }
    const stdfs::path work = stdfs::temp_directory_path() / "glimmerly-package-bench";
    stdfs::remove_all(work);
    stdfs::create_directories(work / "out");
    const std::wstring packagePath = text::FromUtf8((work / "bench.qrt").string());
    if (!writer.Write(packagePath, error)) {
        std::fprintf(stderr, "package_bench: %s\n", error.c_str());
        return 1;
    }

    // zlib alone: every member inflated in memory, nothing written.
    auto start = Clock::now();
    std::vector<uint8_t> out;
    for (const Member& member : members) {
        out.resize(member.size);
        uLongf produced = member.size;
        uncompress(out.data(), &produced, member.compressed.data(),
                   static_cast<uLong>(member.compressed.size()));
    }
    const double raw = std::chrono::duration<double>(Clock::now() - start).count();

    // The reader: open, extract the kind into a folder (files written, times set), close.
    start = Clock::now();
    TemplatePackage reader;
    reader.Open(packagePath.c_str(), nullptr);
    const int result = reader.ExtractKind(16, text::FromUtf8((work / "out").string()).c_str());
    reader.Close();
    const double extract = std::chrono::duration<double>(Clock::now() - start).count();
    stdfs::remove_all(work);

    const double megabytes = total / 1048576.0;
    std::printf("package\t%zu\t%.1f\t%.4f\t%.4f\t%d\n", members.size(), megabytes, extract, raw,
                result);
    return result == 1 ? 0 : 1;
}
