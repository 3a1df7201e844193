// Pictures decoded through WIC in a decoder process: a picture that crashes or hangs its decoder
// costs only that picture, and the program goes on.
#include "imagelib/CxImage.h"
#include "imagelib/DecoderHost.h"

#include "base/Handles.h"
#include "support/SampleImages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using imagelib::DecoderStats;
using sample::Format;

std::wstring BesideTests(const wchar_t* name) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

class DecoderHost : public ::testing::Test {
protected:
    void SetUp() override {
        imagelib::ConfigureDecoder(BesideTests(L"trouble_decoder.exe"), 3000);
        // Icons are never read directly, so every decode here goes to the decoder.
        for (const char* name : {"good.ico", "crash.ico", "hang.ico"}) {
            ASSERT_TRUE(sample::Write(Format::Ico, sample::QuadrantPicture(24, 16), dir_ / name));
        }
    }
    void TearDown() override { imagelib::ConfigureDecoder(L"", 0); }

    bool Decodes(const char* name) {
        const CxImage image((dir_ / name).c_str(), 5);
        lastError_ = image.GetLastError();
        return image.IsValid() && image.GetWidth() == 24 && image.GetType() == 5;
    }

    win::ComScope com_;
    testing_support::TempDir dir_;
    std::string lastError_;
};

TEST_F(DecoderHost, ACrashOrAHangCostsOnlyThatPictureOnce) {
    const DecoderStats before = imagelib::GetDecoderStats();
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;

    EXPECT_FALSE(Decodes("crash.ico"));
    EXPECT_EQ(lastError_, imagelib::kDecoderFailed);
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;  // on a new decoder
    EXPECT_FALSE(Decodes("crash.ico"));              // not tried again
    EXPECT_EQ(lastError_, imagelib::kDecoderFailed);

    EXPECT_FALSE(Decodes("hang.ico"));  // ended at the timeout
    EXPECT_EQ(lastError_, imagelib::kDecoderFailed);
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;

    DecoderStats after = imagelib::GetDecoderStats();
    EXPECT_EQ(after.started - before.started, 3u);
    EXPECT_EQ(after.lost - before.lost, 2u);
    EXPECT_EQ(after.spared - before.spared, 1u);
    EXPECT_EQ(after.inProcess, before.inProcess);

    // A file that changed is tried again.
    ASSERT_TRUE(sample::Write(Format::Ico, sample::QuadrantPicture(30, 20), dir_ / "crash.ico"));
    EXPECT_FALSE(Decodes("crash.ico"));
    after = imagelib::GetDecoderStats();
    EXPECT_EQ(after.lost - before.lost, 3u);
    EXPECT_EQ(after.spared - before.spared, 1u);
}

// Wine's WIC dereferences a null palette for a GIF with no colour table at all; on Windows it
// may decode or refuse it. Either way this process goes on, and so does decoding.
TEST_F(DecoderHost, AGifWithoutColourTablesDoesNotTakeTheProgramDown) {
    imagelib::ConfigureDecoder(L"", 0);
    const std::string gif = std::string("GIF89a\x02\x00\x02\x00\x00\x00\x00", 13) +
                            std::string("\x2C\0\0\0\0\x02\0\x02\0\0\x02\x03\x44\x34\x05\0\x3B", 17);
    testing_support::WriteFile(dir_ / "no-table.gif", gif);
    imagelib::DecodedImage out;
    const DecoderStats before = imagelib::GetDecoderStats();
    if (imagelib::DecodeIsolated((dir_ / "no-table.gif").c_str(), out) ==
        imagelib::kDecoderFailed) {
        EXPECT_EQ(imagelib::GetDecoderStats().lost - before.lost, 1u);
    }
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;
    EXPECT_EQ(imagelib::GetDecoderStats().inProcess, 0u);
}

// Missing, or there but not a program that starts (then tried once only): in-process.
TEST_F(DecoderHost, WithoutAWorkingDecoderProgramPicturesAreDecodedInProcess) {
    imagelib::ConfigureDecoder(BesideTests(L"no_such_decoder.exe"), 0);
    DecoderStats before = imagelib::GetDecoderStats();
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;
    EXPECT_EQ(imagelib::GetDecoderStats().inProcess - before.inProcess, 1u);
    EXPECT_EQ(imagelib::GetDecoderStats().startFailures, before.startFailures);

    testing_support::WriteFile(dir_ / "broken.exe", "not a program");
    imagelib::ConfigureDecoder((dir_ / "broken.exe").wstring(), 0);
    before = imagelib::GetDecoderStats();
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;
    EXPECT_TRUE(Decodes("good.ico")) << lastError_;
    const DecoderStats after = imagelib::GetDecoderStats();
    EXPECT_EQ(after.inProcess - before.inProcess, 2u);
    EXPECT_EQ(after.startFailures - before.startFailures, 1u);
    EXPECT_EQ(after.started, before.started);
}

}  // namespace
