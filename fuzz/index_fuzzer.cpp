// libFuzzer target: arbitrary bytes through the cache index reader, in both modes. What it
// reads must survive being written again: the same records come back.
#include "cache/IndexFormat.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

bool SameRecords(const std::vector<IndexRecord>& a, const std::vector<IndexRecord>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].category != b[i].category || a[i].name != b[i].name || a[i].offset != b[i].offset)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    for (const CacheMode mode : {Folder, Database}) {
        const std::vector<IndexRecord> records = index_format::Parse(bytes, mode);
        std::vector<uint8_t> again;
        for (int i = 0; i < 4; ++i)
            again.push_back(static_cast<uint8_t>(index_format::kMagic >> (8 * i)));
        for (const IndexRecord& record : records) {
            if (record.name.size() >= index_format::kNameChars ||
                record.category.size() >= index_format::kNameChars ||
                (mode == Folder && !record.category.empty())) {
                std::abort();
            }
            index_format::AppendRecord(again, mode, record.category, record.name, record.offset);
        }
        if (!SameRecords(index_format::Parse(again, mode), records)) std::abort();
    }
    return 0;
}
