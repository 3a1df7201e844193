// Writes the index fuzzer's seeds with the index writer itself: both modes, the older ANSI
// variant, planted offsets and records cut short.
#include "cache/IndexFormat.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Header(uint32_t magic) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(magic >> (8 * i)));
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_index_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    constexpr int32_t kRecord = 30024;

    std::vector<uint8_t> folderIndex = Header(index_format::kMagic);
    index_format::AppendRecord(folderIndex, Folder, L"", L"A.BMP", 0);
    index_format::AppendRecord(folderIndex, Folder, L"", L"B.JPG", kRecord);
    index_format::AppendRecord(folderIndex, Folder, L"", L"GONE.PNG", -1);

    std::vector<uint8_t> planted = Header(index_format::kMagic);
    index_format::AppendRecord(planted, Folder, L"", L"A.BMP", kRecord * 5);
    index_format::AppendRecord(planted, Folder, L"", L"B.BMP", 0);
    index_format::AppendRecord(planted, Folder, L"", L"C.BMP", 0);
    index_format::AppendRecord(planted, Folder, L"", L"D.BMP", kRecord / 2);
    index_format::AppendRecord(planted, Folder, L"", std::wstring(255, L'N'), 0x7FFFFFFF);

    std::vector<uint8_t> database = Header(index_format::kMagic);
    index_format::AppendRecord(database, Database, L"BIRTHDAY", L"C:\\PICS\\CAKE.JPG", 0);
    index_format::AppendRecord(database, Database, L"XMAS", L"C:\\PICS\\TREE.JPG", kRecord);

    // The older variant: ANSI names of the length given, no terminator counted.
    std::vector<uint8_t> ansi = Header((index_format::kMagic & 0xFFFF00FFu) | 0x5800u);
    for (const std::string name : {"OLD.BMP", "\xC4LTER.JPG"}) {
        const uint32_t length = static_cast<uint32_t>(name.size());
        for (int i = 0; i < 4; ++i) ansi.push_back(static_cast<uint8_t>(length >> (8 * i)));
        ansi.insert(ansi.end(), name.begin(), name.end());
        for (int i = 0; i < 4; ++i) ansi.push_back(0);
    }

    std::vector<uint8_t> cut = folderIndex;
    cut.resize(cut.size() - 3);

    const std::pair<const char*, const std::vector<uint8_t>*> seeds[] = {
        {"folder", &folderIndex}, {"planted", &planted}, {"database", &database},
        {"ansi", &ansi},          {"cut", &cut},
    };
    for (const auto& [name, bytes] : seeds) {
        std::ofstream(folder + "/" + name + ".idx", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
    }
    return 0;
}
