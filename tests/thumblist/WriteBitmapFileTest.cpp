// Writing a bitmap resource (a packed DIB) out as a ".bmp" file for the list's background.
#include "thumblist/ThumbListCtrl.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using testing_support::TempDir;

void PutU16(std::string& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8 & 0xFF);
}

void PutU32(std::string& bytes, size_t at, uint32_t value) {
    PutU16(bytes, at, value & 0xFFFF);
    PutU16(bytes, at + 2, value >> 16);
}

uint32_t U32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// A packed DIB with a BITMAPINFOHEADER-sized (or larger) header; `tail` bytes of colour table
// and pixels follow, filled with a pattern so that a shifted copy would show.
std::string InfoDib(uint32_t headerSize, uint16_t bitCount, uint32_t compression,
                    uint32_t coloursUsed, size_t tail) {
    std::string bytes(headerSize + tail, '\0');
    PutU32(bytes, 0, headerSize);
    PutU32(bytes, 4, 4);  // width
    PutU32(bytes, 8, 4);  // height
    PutU16(bytes, 12, 1);
    PutU16(bytes, 14, bitCount);
    PutU32(bytes, 16, compression);
    PutU32(bytes, 32, coloursUsed);
    for (size_t i = headerSize; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

std::string CoreDib(uint16_t bitCount, size_t tail) {
    std::string bytes(12 + tail, '\0');
    PutU32(bytes, 0, 12);
    PutU16(bytes, 4, 4);
    PutU16(bytes, 6, 4);
    PutU16(bytes, 8, 1);
    PutU16(bytes, 10, bitCount);
    for (size_t i = 12; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 5 + 1);
    return bytes;
}

std::string Written(const TempDir& temp, const std::string& dib) {
    const std::wstring path = temp.Wide() + L"\\_tBack.bmp";
    EXPECT_TRUE(WriteBitmapFile(path.c_str(), dib.data(), static_cast<DWORD>(dib.size())));
    return testing_support::ReadFile(temp / "_tBack.bmp");
}

TEST(WriteBitmapFile, PrefixesTheFileHeaderAndKeepsTheResourceBytes) {
    TempDir temp;
    const std::string dib = InfoDib(40, 24, BI_RGB, 0, 4 * 12);
    const std::string file = Written(temp, dib);
    ASSERT_EQ(file.size(), dib.size() + 14);
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(U32(file, 2), dib.size() + 14);
    EXPECT_EQ(U32(file, 6), 0u);  // both reserved words
    EXPECT_EQ(U32(file, 10), 14u + 40u);
    EXPECT_EQ(file.substr(14), dib);
}

TEST(WriteBitmapFile, ThePixelOffsetSkipsTheColourTable) {
    struct Case {
        const char* what;
        std::string dib;
        uint32_t offset;
    };
    const Case cases[] = {
        {"8-bit, 256 colours", InfoDib(40, 8, BI_RGB, 0, 1024 + 16), 14 + 40 + 1024},
        {"8-bit, 16 colours used", InfoDib(40, 8, BI_RGB, 16, 64 + 16), 14 + 40 + 64},
        {"4-bit", InfoDib(40, 4, BI_RGB, 0, 64 + 8), 14 + 40 + 64},
        {"1-bit", InfoDib(40, 1, BI_RGB, 0, 8 + 16), 14 + 40 + 8},
        {"colours used over 16 bits", InfoDib(40, 8, BI_RGB, 0x10002, 8 + 16), 14 + 40 + 8},
        {"16-bit bit fields", InfoDib(40, 16, BI_BITFIELDS, 0, 12 + 32), 14 + 40 + 12},
        {"32-bit bit fields", InfoDib(40, 32, BI_BITFIELDS, 0, 12 + 64), 14 + 40 + 12},
        {"8-bit bit fields table", InfoDib(40, 8, BI_BITFIELDS, 2, 20 + 16), 14 + 40 + 2 * 4 + 12},
        {"24-bit, colours used", InfoDib(40, 24, BI_RGB, 3, 12 + 48), 14 + 40 + 12},
        {"version 5 header", InfoDib(124, 24, BI_RGB, 0, 48), 14 + 124},
        {"core header, 8-bit", CoreDib(8, 768 + 16), 14 + 12 + 768},
        {"core header, 4-bit", CoreDib(4, 48 + 8), 14 + 12 + 48},
        {"core header, 24-bit", CoreDib(24, 48), 14 + 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const std::string file = Written(temp, c.dib);
        ASSERT_EQ(file.size(), c.dib.size() + 14);
        EXPECT_EQ(U32(file, 2), c.dib.size() + 14);
        EXPECT_EQ(U32(file, 10), c.offset);
        EXPECT_EQ(file.substr(14), c.dib);
    }
}

TEST(WriteBitmapFile, ReplacesAnEarlierFileAndMarksItAsSystemFile) {
    TempDir temp;
    const auto path = temp / "_tBack.bmp";
    testing_support::WriteFile(path, std::string(5000, 'x'));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    const std::string dib = InfoDib(40, 24, BI_RGB, 0, 48);
    const std::string file = Written(temp, dib);
    EXPECT_EQ(file.size(), dib.size() + 14);
    EXPECT_EQ(file.substr(14), dib);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

}  // namespace
