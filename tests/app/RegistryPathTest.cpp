#include "app/RegistryPath.h"

#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::RegistrySandbox;

class RegistryPathTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sandbox_.Ok()); }

    static void SetRaw(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD type,
                       const void* data, DWORD size) {
        win::UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                                    nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    static void SetString(HKEY root, const wchar_t* subKey, const wchar_t* name,
                          const std::wstring& value) {
        SetRaw(root, subKey, name, REG_SZ, value.c_str(),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

    static bool KeyExists(HKEY root, const wchar_t* subKey) {
        win::UniqueKey key;
        return ::RegOpenKeyExW(root, subKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
    }

    RegistrySandbox sandbox_;
    wchar_t buffer_[RegistryPath::kBufferChars] = {};
};

TEST_F(RegistryPathTest, RootNamesAreFoundWithoutRegardToCase) {
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_LOCAL_MACHINE\\SOFTWARE"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegistryPath::RootKey(L"hkey_local_machine\\SOFTWARE"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegistryPath::RootKey(L"Hkey_Current_User"), HKEY_CURRENT_USER);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_CLASSES_ROOT\\.qrt"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_USERS\\x"), HKEY_USERS);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_PERFORMANCE_DATA"), HKEY_PERFORMANCE_DATA);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_PERFORMANCE_TEXT"), HKEY_PERFORMANCE_TEXT);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_PERFORMANCE_NLSTEXT"), HKEY_PERFORMANCE_NLSTEXT);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_CURRENT_CONFIG\\System"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_DYN_DATA"), HKEY_DYN_DATA);
    EXPECT_EQ(RegistryPath::RootKey(L"HKLM\\SOFTWARE"), nullptr);
    EXPECT_EQ(RegistryPath::RootKey(L"\\HKEY_CURRENT_USER\\Software"), nullptr);
    EXPECT_EQ(RegistryPath::RootKey(L"HKEY_CURRENT_USERS\\x"), nullptr);
}

TEST_F(RegistryPathTest, ReadsStringValuesWhateverTheCaseOfTheRoot) {
    SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brannic\\Lumora\\Orvane", L"AppPath", L"C:\\Host");
    ASSERT_EQ(RegistryPath::ReadValue(
                  L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\AppPath", buffer_),
              1);
    EXPECT_STREQ(buffer_, L"C:\\Host");
    ASSERT_EQ(RegistryPath::ReadValue(
                  L"hKeY_lOcAl_MaChInE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\AppPath", buffer_),
              1);
    EXPECT_STREQ(buffer_, L"C:\\Host");

    EXPECT_EQ(RegistryPath::ReadValue(
                  L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\Missing", buffer_),
              0);
    EXPECT_EQ(RegistryPath::ReadValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\NoSuchKey\\AppPath", buffer_),
              0);
    EXPECT_EQ(RegistryPath::ReadValue(L"HKEY_NOWHERE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\AppPath",
                                      buffer_),
              0);
    EXPECT_EQ(RegistryPath::ReadValue(L"AppPath", buffer_), 0);
}

// A 32-bit host application keeps its values in the 32-bit view on 64-bit Windows.
TEST_F(RegistryPathTest, TheThirtyTwoBitViewIsReadWhenTheSixtyFourBitViewLacksTheValue) {
    const wchar_t* appPath = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannic\\Lumora\\Orvane\\AppPath";
    {
        win::UniqueKey key;
        // Where the 32-bit view keeps it; the sandbox's keys are not redirected by themselves.
        ASSERT_EQ(::RegCreateKeyExW(
                      HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Brannic\\Lumora\\Orvane", 0,
                      nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring value = L"C:\\Host32";
        ASSERT_EQ(::RegSetValueExW(key.Get(), L"AppPath", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    // The views are apart: the 64-bit one has no such value.
    win::UniqueKey wide;
    ASSERT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brannic\\Lumora\\Orvane", 0,
                              KEY_QUERY_VALUE | KEY_WOW64_64KEY, wide.Put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegistryPath::ReadValue(appPath, buffer_), 1);
    EXPECT_STREQ(buffer_, L"C:\\Host32");

    // Where both views hold it, the 64-bit view wins.
    SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brannic\\Lumora\\Orvane", L"AppPath", L"C:\\Host64");
    ASSERT_EQ(RegistryPath::ReadValue(appPath, buffer_), 1);
    EXPECT_STREQ(buffer_, L"C:\\Host64");
}

TEST_F(RegistryPathTest, ValueDirectlyBelowTheRootCanBeReadButNotWritten) {
    SetString(HKEY_CURRENT_USER, nullptr, L"TopLevel", L"at the root");
    ASSERT_EQ(RegistryPath::ReadValue(L"HKEY_CURRENT_USER\\TopLevel", buffer_), 1);
    EXPECT_STREQ(buffer_, L"at the root");
    EXPECT_EQ(RegistryPath::WriteDword(L"HKEY_CURRENT_USER\\Flag", 1), 0);
    EXPECT_EQ(RegistryPath::WriteDword(L"HKEY_CURRENT_USER\\Software\\Key\\", 1),
              0);  // empty value name
    EXPECT_EQ(RegistryPath::WriteDword(L"NoBackslash", 1), 0);
    EXPECT_EQ(RegistryPath::WriteDword(L"HKEY_NOWHERE\\Software\\Flag", 1), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Key"));
}

TEST_F(RegistryPathTest, WriteDwordCreatesMissingKeysAndReplacesOtherTypes) {
    const wchar_t* flag = L"HKEY_CURRENT_USER\\Software\\Velnor\\Tessaly\\Orvane\\ShouldUpdateCat";
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Velnor"));
    ASSERT_EQ(RegistryPath::WriteDword(flag, 1), 1);

    DWORD type = 0, value = 0, size = sizeof value;
    ASSERT_EQ(
        RegistryPath::QueryValue(L"HKEY_CURRENT_USER\\Software\\Velnor\\Tessaly\\Orvane",
                                 L"ShouldUpdateCat", &type, reinterpret_cast<BYTE*>(&value), &size),
        1);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 1u);

    SetString(HKEY_CURRENT_USER, L"Software\\Velnor\\Tessaly\\Orvane", L"ShouldUpdateCat", L"text");
    ASSERT_EQ(RegistryPath::WriteDword(flag, 7), 1);
    size = sizeof value;
    ASSERT_EQ(
        RegistryPath::QueryValue(L"HKEY_CURRENT_USER\\Software\\Velnor\\Tessaly\\Orvane",
                                 L"ShouldUpdateCat", &type, reinterpret_cast<BYTE*>(&value), &size),
        1);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 7u);
}

TEST_F(RegistryPathTest, TheBufferIsAlwaysTerminated) {
    const wchar_t* key = L"Software\\Lengths";
    SetString(HKEY_CURRENT_USER, key, L"Fits", std::wstring(259, L'a'));
    SetString(HKEY_CURRENT_USER, key, L"TooLong", std::wstring(260, L'b'));
    // Stored without a terminator: shorter than the buffer, then exactly filling it.
    const std::wstring bare(10, L'c');
    SetRaw(HKEY_CURRENT_USER, key, L"Bare", REG_SZ, bare.data(), 20);
    const std::wstring full(260, L'd');
    SetRaw(HKEY_CURRENT_USER, key, L"Full", REG_BINARY, full.data(), 520);

    std::fill(std::begin(buffer_), std::end(buffer_), L'#');
    ASSERT_EQ(RegistryPath::ReadValue(L"HKEY_CURRENT_USER\\Software\\Lengths\\Fits", buffer_), 1);
    EXPECT_EQ(std::wstring(buffer_), std::wstring(259, L'a'));
    EXPECT_EQ(RegistryPath::ReadValue(L"HKEY_CURRENT_USER\\Software\\Lengths\\TooLong", buffer_),
              0);

    std::fill(std::begin(buffer_), std::end(buffer_), L'#');
    ASSERT_EQ(RegistryPath::ReadValue(L"HKEY_CURRENT_USER\\Software\\Lengths\\Bare", buffer_), 1);
    EXPECT_EQ(std::wstring(buffer_), bare);

    EXPECT_EQ(RegistryPath::ReadValue(L"HKEY_CURRENT_USER\\Software\\Lengths\\Full", buffer_), 0);
    EXPECT_EQ(buffer_[0], L'\0');
}

TEST_F(RegistryPathTest, DataOfAnyTypeIsCopiedAsStored) {
    const unsigned char bytes[] = {'H', 0, 'i', 0, 0, 0};
    SetRaw(HKEY_CURRENT_USER, L"Software\\Types", L"Binary", REG_BINARY, bytes, sizeof bytes);
    ASSERT_EQ(RegistryPath::ReadValue(L"HKEY_CURRENT_USER\\Software\\Types\\Binary", buffer_), 1);
    EXPECT_STREQ(buffer_, L"Hi");
}

}  // namespace
