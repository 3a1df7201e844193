// The fixed type tables and the info-tip description text of an item.
#include "cache/ThumbCache.h"

#include <cstdio>
#include <cwchar>

const ImageTypeRow ImageTypes[18] = {
    {0, L"Unsupported Format", L"*"},
    {1, L"Microsoft Windows Bitmap.", L"bmp"},
    {2, L"Graphics Interchange Format.", L"gif"},
    {3, L"JPEG File Interchange Format.", L"jpg"},
    {4, L"Portable Network Graphics.", L"png"},
    {5, L"ICON resource file.", L"ico"},
    {6, L"Tagged Image File Format.", L"tif"},
    {7, L"Truevision Targa.", L"tga"},
    {8, L"Orvane Graphic Format.", L"ogf"},
    {9, L"QRV Graphic Format.", L"qrv"},
    {10, L"PC Paintbrush File Format.", L"pcx"},
    {11, L"Wireless Bit-Map.", L"wbmp"},
    {12, L"Microsoft Windows Metafile.", L"wmf"},
    {13, L"JP2 file format.", L"jp2"},
    {14, L"JPC file format.", L"jpc"},
    {15, L"PGX file.", L"pgx"},
    {16, L"Portable Any-Map File Format.", L"pnm"},
    {17, L"Sun Raster Data Format.", L"ras"},
};

const VideoTypeRow VideoTypes[10] = {
    {0, L"Unsupported Format", L"*"},
    {1, L"AVI", L"avi"},
    {2, L"MPG", L"mpg"},
    {3, L"MPEG", L"mpeg"},
    {4, L"ASF.", L"asf"},
    {5, L"WMV", L"wmv"},
    {6, L"MP2", L"mp2"},
    {7, L"DAT", L"dat"},
    {8, L"MPV", L"mpv"},
    {9, L"VOB", L"vob"},
};

const std::map<std::wstring, std::wstring>& FourCCNames() {
    // Built once; every cache sees exactly these pairs.
    static const std::map<std::wstring, std::wstring> names = {
        {L"AUR2", L"(AuraVision Aura 2: YUV 422)"},
        {L"AURA", L"(AuraVision Aura 1: YUV 411)"},
        {L"CHAM", L"(MM_WINNOV_CAVIARA_CHAMPAGNE)"},
        {L"CVID", L"(Cinepak by Supermac)"},
        {L"CYUV", L"(Creative Labs YUV)"},
        {L"DXT1", L"(DirectX Texture Compression Format 1)"},
        {L"DXT2", L"(DirectX Texture Compression Format 2)"},
        {L"DXT3", L"(DirectX Texture Compression Format 3)"},
        {L"DXT4", L"(DirectX Texture Compression Format 4)"},
        {L"DXT5", L"(DirectX Texture Compression Format 5)"},
        {L"FVF1", L"(Fractal Video Frame)"},
        {L"IF09", L"(Intel Intermediate YUV9)"},
        {L"IV31", L"(Indeo 3.1 )"},
        {L"JPEG", L"(Still Image JPEG DIB )"},
        {L"MJPG", L"(Motion JPEG DIB Format )"},
        {L"MRLE", L"(MS-RLE)"},
        {L"MSVC", L"(Video 1)"},
        {L"PHMO", L"(Photomotion)"},
        {L"RT21", L"(Indeo 2.1 )"},
        {L"ULTI", L"(Ultimotion)"},
        {L"V422", L"(24-bit YUV 4:2:2 )"},
        {L"V655", L"(16-bit YUV 4:2:2 )"},
        {L"VDCT", L"(Video Maker Pro DIB )"},
        {L"VIDS", L"(YUV 4:2:2 CCIR 601 for V422 )"},
        {L"YU92", L"(YUV)"},
        {L"YUV8", L"(MM_WINNOV_CAVIAR_YUV8)"},
        {L"YUV9", L"(YUV9)"},
        {L"YUYV", L"(BI_YUYV, Canopus )"},
        {L"ZPEG", L"(Video Zipper)"},
        {L"RLE ", L"(MS-RLE)"},
        {L"IV50", L"(Indeo Video 5)"},
        {L"DVSD", L"(DV Video)"},
        {L"DIVX", L"(Divx Codec)"},
        {L"DX50", L"(Divx Codec)"},
        {L"DIV3", L"(Divx Codec)"},
        {L"DIV4", L"(Divx Codec)"},
        {L"MPG1", L"(MPEG - 1)"},
        {L"MPG2", L"(MPEG - 2)"},
        {L"ASF ", L"(MPEG - 4)"},
    };
    return names;
}

namespace {

const wchar_t kUnsupported[] = L"Unsupported Format";
constexpr size_t kDescriptionChars = 150;

// Equal without regard to the case of the letters a to z.
bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        wchar_t x = *a, y = *b;
        if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - 32);
        if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - 32);
        if (x != y) return false;
        if (x == L'\0') return true;
    }
}

void CopyText(const wchar_t* text, wchar_t* out, size_t outChars) {
    if (outChars == 0) return;
    std::wcsncpy(out, text, outChars - 1);
    out[outChars - 1] = L'\0';
}

}  // namespace

void FormatFileSize(uint32_t bytes, wchar_t* out, size_t outChars) {
    if (bytes > 0xFFFFF) {
        std::swprintf(out, outChars, L"%.02f MB", bytes / 1048576.0);
    } else if (bytes >= 1024) {
        std::swprintf(out, outChars, L"%.02f KB", bytes / 1024.0);
    } else {
        std::swprintf(out, outChars, L"%u Bytes", bytes);
    }
}

std::wstring ThumbCache::ExtensionOf(const wchar_t* path) {
    const wchar_t* dot = std::wcsrchr(path, L'.');
    return dot ? std::wstring(dot + 1) : std::wstring();
}

std::wstring ThumbCache::UpperAscii(std::wstring text) {
    return index_format::UpperAscii(std::move(text));
}

uint32_t ThumbCache::ImageTypeFromExtension(const wchar_t* extension) {
    for (const ImageTypeRow& row : ImageTypes) {
        if (EqualsIgnoringAsciiCase(row.extension, extension)) return row.code;
    }
    return 0;
}

uint32_t ThumbCache::VideoTypeFromExtension(const wchar_t* extension) {
    for (const VideoTypeRow& row : VideoTypes) {
        if (EqualsIgnoringAsciiCase(row.extension, extension)) return row.code;
    }
    return 0;
}

void ThumbCache::ImageTypeDescription(uint32_t code, wchar_t* out, size_t outChars) {
    for (const ImageTypeRow& row : ImageTypes) {
        if (row.code == code) {
            CopyText(row.description, out, outChars);
            return;
        }
    }
    CopyText(kUnsupported, out, outChars);
}

void ThumbCache::FourCCDescription(uint32_t code, wchar_t* out, size_t outChars) {
    // The lowest byte is the first character. A code whose highest byte is below 0x10 has no
    // printable form and shows as question marks.
    wchar_t chars[5] = {L'?', L'?', L'?', L'?', L'\0'};
    if ((code >> 24) >= 0x10) {
        for (int i = 0; i < 4; ++i) chars[i] = static_cast<wchar_t>((code >> (8 * i)) & 0xFF);
    }
    const std::wstring upper = UpperAscii(chars);  // stops at an inner zero byte, as a C text does
    const auto& names = FourCCNames();
    const auto found = names.find(upper);
    CopyText(found != names.end() ? found->second.c_str() : upper.c_str(), out, outChars);
}

void ThumbCache::BuildDescription(ThumbItem& item) {
    const wchar_t* typeLabel = L"Type   : ";
    const wchar_t* sizeLabel = L"Size    : ";
    const wchar_t* widthLabel = L"Width  : ";
    const wchar_t* heightLabel = L"Height : ";
    const wchar_t* fourthLabel = L"Bpp    : ";

    wchar_t typeText[256];
    ImageTypeDescription(item.typeCode, typeText, std::size(typeText));
    const std::wstring extension = ExtensionOf(item.path);
    bool video = false;
    if (std::wcscmp(typeText, kUnsupported) == 0) {
        wchar_t fourcc[64];
        FourCCDescription(item.typeCode, fourcc, std::size(fourcc));
        std::wstring type = UpperAscii(extension) + L" File ";
        if (fourcc[0] != L'\0' && VideoTypeFromExtension(extension.c_str()) != 0) {
            type += fourcc;
            fourthLabel = L"BitRate: ";
            video = true;
        }
        CopyText(type.c_str(), typeText, std::size(typeText));
    }

    wchar_t sizeText[64];
    FormatFileSize(static_cast<uint32_t>(item.size), sizeText, std::size(sizeText));

    wchar_t text[1100];
    ::wsprintfW(text, L" %s%s\r\n %s%s\r\n %s%d px\r\n %s%d px", typeLabel, typeText, sizeLabel,
                sizeText, widthLabel, item.width, heightLabel, item.height);
    wchar_t fourth[64];
    if (video && item.bitsPerPixel != 0) {
        if (item.bitsPerPixel == 0x3FFFF) {
            ::wsprintfW(fourth, L"\r %sVBR ", fourthLabel);
        } else {
            ::wsprintfW(fourth, L"\r %s%d kbps ", fourthLabel, item.bitsPerPixel);
        }
    } else {
        ::wsprintfW(fourth, L"\r %s%d ", fourthLabel, item.bitsPerPixel);
    }
    std::wstring description = std::wstring(text) + fourth;
    if (video && VideoTypeFromExtension(extension.c_str()) == 1) description += L"(Approx)";
    // The record holds 149 characters and the terminator; a longer text is cut there.
    if (!description.empty()) CopyText(description.c_str(), item.description, kDescriptionChars);
}
