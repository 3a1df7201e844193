#include "cache/ThumbCache.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

std::wstring Size(uint32_t bytes) {
    wchar_t text[64];
    FormatFileSize(bytes, text, std::size(text));
    return text;
}

std::wstring FourCC(uint32_t code) {
    wchar_t text[64];
    ThumbCache::FourCCDescription(code, text, std::size(text));
    return text;
}

constexpr uint32_t Code(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

ThumbItem Item(const wchar_t* path, uint32_t size, uint32_t type, uint32_t width, uint32_t height,
               uint32_t bpp) {
    ThumbItem item = {};
    std::wcscpy(item.path, path);
    item.size = size;
    item.typeCode = type;
    item.width = width;
    item.height = height;
    item.bitsPerPixel = bpp;
    ThumbCache::BuildDescription(item);
    return item;
}

TEST(MediaDescription, FileSizesInBytesKilobytesAndMegabytes) {
    EXPECT_EQ(Size(0), L"0 Bytes");
    EXPECT_EQ(Size(1023), L"1023 Bytes");
    EXPECT_EQ(Size(1024), L"1.00 KB");
    EXPECT_EQ(Size(1536), L"1.50 KB");
    EXPECT_EQ(Size(0xFFFFF), L"1024.00 KB");
    EXPECT_EQ(Size(0x100000), L"1.00 MB");
    EXPECT_EQ(Size(0xFFFFFFFF), L"4096.00 MB");
}

TEST(MediaDescription, TypeTablesMatchExtensionsWithoutRegardToCase) {
    EXPECT_EQ(ThumbCache::ImageTypeFromExtension(L"JPG"), 3u);
    EXPECT_EQ(ThumbCache::ImageTypeFromExtension(L"jpg"), 3u);
    EXPECT_EQ(ThumbCache::ImageTypeFromExtension(L"jpeg"), 0u);
    EXPECT_EQ(ThumbCache::ImageTypeFromExtension(L"tiff"), 0u);
    EXPECT_EQ(ThumbCache::ImageTypeFromExtension(L"Ras"), 17u);
    EXPECT_EQ(ThumbCache::ImageTypeFromExtension(L""), 0u);
    EXPECT_EQ(ThumbCache::VideoTypeFromExtension(L"avi"), 1u);
    EXPECT_EQ(ThumbCache::VideoTypeFromExtension(L"MpEg"), 3u);
    EXPECT_EQ(ThumbCache::VideoTypeFromExtension(L"jpg"), 0u);

    wchar_t text[64];
    ThumbCache::ImageTypeDescription(17, text, std::size(text));
    EXPECT_STREQ(text, L"Sun Raster Data Format.");
    ThumbCache::ImageTypeDescription(18, text, std::size(text));
    EXPECT_STREQ(text, L"Unsupported Format");
    ThumbCache::ImageTypeDescription(0, text, std::size(text));
    EXPECT_STREQ(text, L"Unsupported Format");
}

TEST(MediaDescription, CompressorCodesReadFromTheLowestByte) {
    EXPECT_EQ(FourCC(Code('D', 'I', 'V', 'X')), L"(Divx Codec)");
    EXPECT_EQ(FourCC(Code('d', 'i', 'v', 'x')), L"(Divx Codec)");
    EXPECT_EQ(FourCC(Code('R', 'L', 'E', ' ')), L"(MS-RLE)");
    EXPECT_EQ(FourCC(Code('x', 'v', 'i', 'd')), L"XVID");
    EXPECT_EQ(FourCCNames().size(), 39u);
    // No printable form: the highest byte is below 0x10.
    EXPECT_EQ(FourCC(0), L"????");
    EXPECT_EQ(FourCC(0x0F414141), L"????");
}

TEST(MediaDescription, ImageTextIsExactToTheByte) {
    const ThumbItem jpeg = Item(L"C:\\Photos\\Beach.jpg", 3 << 20, 3, 640, 480, 24);
    EXPECT_STREQ(
        jpeg.description,
        L" Type   : JPEG File Interchange Format.\r\n Size    : 3.00 MB\r\n Width  : 640 px\r\n"
        L" Height : 480 px\r Bpp    : 24 ");
}

TEST(MediaDescription, VideoTextNamesCompressorAndBitRate) {
    const ThumbItem avi =
        Item(L"C:\\Clips\\clip.avi", 5 << 20, Code('D', 'I', 'V', 'X'), 640, 480, 1200);
    EXPECT_STREQ(avi.description,
                 L" Type   : AVI File (Divx Codec)\r\n Size    : 5.00 MB\r\n Width  : 640 px\r\n"
                 L" Height : 480 px\r BitRate: 1200 kbps (Approx)");

    const ThumbItem vbr =
        Item(L"C:\\Clips\\movie.mpg", 1000, Code('M', 'P', 'G', '2'), 720, 576, 0x3FFFF);
    EXPECT_STREQ(vbr.description,
                 L" Type   : MPG File (MPEG - 2)\r\n Size    : 1000 Bytes\r\n Width  : 720 px\r\n"
                 L" Height : 576 px\r BitRate: VBR ");

    const ThumbItem zeroRate =
        Item(L"C:\\Clips\\a.AVI", 2048, Code('x', 'v', 'i', 'd'), 320, 240, 0);
    EXPECT_STREQ(zeroRate.description,
                 L" Type   : AVI File XVID\r\n Size    : 2.00 KB\r\n Width  : 320 px\r\n"
                 L" Height : 240 px\r BitRate: 0 (Approx)");
}

TEST(MediaDescription, OtherFilesShowTheirExtension) {
    const ThumbItem mkv =
        Item(L"C:\\Clips\\film.mkv", 10, Code('H', '2', '6', '4'), 1920, 1080, 5000);
    EXPECT_STREQ(mkv.description,
                 L" Type   : MKV File \r\n Size    : 10 Bytes\r\n Width  : 1920 px\r\n Height : "
                 L"1080 px\r Bpp    : 5000 ");
    const ThumbItem package = Item(L"C:\\Lib\\Frames.qrt", 4096, 0, 0, 0, 0);
    EXPECT_STREQ(package.description,
                 L" Type   : QRT File \r\n Size    : 4.00 KB\r\n Width  : 0 px\r\n Height : 0 px\r "
                 L"Bpp    : 0 ");
}

TEST(MediaDescription, LongTextsAreCutTo149Characters) {
    const std::wstring path = L"C:\\a." + std::wstring(80, L'v');
    const ThumbItem item =
        Item(path.c_str(), 0xFFFFFFFF, Code('D', 'X', 'T', '1'), 4000000000u, 4000000000u, 1);
    EXPECT_EQ(std::wcslen(item.description), 149u);
    EXPECT_EQ(std::wstring(item.description).substr(0, 21), L" Type   : " + std::wstring(11, L'V'));
}

}  // namespace
