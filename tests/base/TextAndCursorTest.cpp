#include "base/ByteCursor.h"
#include "base/Utf.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf, RoundTripsEveryPlane) {
    // "A", e-acute, the euro sign and U+1F600 (a surrogate pair in UTF-16).
    const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::wstring wide = text::FromUtf8(utf8);
    ASSERT_EQ(wide.size(), 5u);
    EXPECT_EQ(wide[0], L'A');
    EXPECT_EQ(static_cast<uint32_t>(wide[1]), 0xE9u);
    EXPECT_EQ(static_cast<uint32_t>(wide[2]), 0x20ACu);
    EXPECT_EQ(static_cast<uint32_t>(wide[3]), 0xD83Du);
    EXPECT_EQ(static_cast<uint32_t>(wide[4]), 0xDE00u);
    EXPECT_EQ(text::ToUtf8(wide), utf8);
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(text::FromUtf8("a\xFF"
                             "b"),
              std::wstring(L"a\xFFFD"
                           L"b"));
    EXPECT_EQ(text::FromUtf8("\xC0\xAF"), std::wstring(L"\xFFFD\xFFFD"));  // overlong '/'
    EXPECT_EQ(text::FromUtf8("\xE2\x82"), std::wstring(L"\xFFFD\xFFFD"));  // cut short
    const wchar_t lone[] = {L'x', static_cast<wchar_t>(0xD800), L'y', 0};
    EXPECT_EQ(text::ToUtf8(lone), "x\xEF\xBF\xBDy");
    EXPECT_TRUE(text::IsValidUtf8("plain \xC3\xA9"));
    EXPECT_FALSE(text::IsValidUtf8("\xED\xA0\x80"));  // an encoded surrogate
}

TEST(ByteCursor, ReadsLittleEndianAndNeverPastTheEnd) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x09};
    ByteCursor cursor(bytes, sizeof bytes);
    uint32_t u = 0;
    ASSERT_TRUE(cursor.ReadU32(u));
    EXPECT_EQ(u, 0x04030201u);
    int32_t i = 0;
    ASSERT_TRUE(cursor.ReadI32(i));
    EXPECT_EQ(i, -1);
    uint64_t big = 0;
    EXPECT_FALSE(cursor.ReadU64(big));  // one byte left: fails without moving
    EXPECT_EQ(cursor.Position(), 8u);
    EXPECT_FALSE(cursor.Skip(2));
    uint8_t last = 0;
    ASSERT_TRUE(cursor.ReadU8(last));
    EXPECT_EQ(last, 9);
    EXPECT_TRUE(cursor.AtEnd());
    EXPECT_FALSE(cursor.ReadBytes(&last, 1));
    EXPECT_TRUE(cursor.ReadBytes(&last, 0));
}

}  // namespace
