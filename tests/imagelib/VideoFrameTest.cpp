// Video frames through Media Foundation and DirectShow, compared with ffmpeg's decode of the
// same frame (the test videos are a still colour-bar picture, so any frame is that frame).
#include "imagelib/CxImage.h"
#include "imagelib/DecoderHost.h"
#include "imagelib/Video.h"

#include "base/Handles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path BesideTests(const wchar_t* name) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return fs::path(exe).parent_path() / name;
}

fs::path Video(const char* name) {
    return BesideTests(L"video-fixtures") / name;
}

// How far a frame is from ffmpeg's: the mean absolute difference over all channels, and the
// share of pixels off by more than 48 in some channel. Chroma is stored at half resolution, so
// decoders that upsample it differently disagree at the colour bars' edges. Seen under Wine:
// means of 0.3 to 1.4 and no pixel that far off; a frame read with the wrong range (MJPEG's full
// range as limited) is 5 off, and swapped or misplaced chroma planes far more.
struct Difference {
    double mean = 255;
    double farShare = 1;
};

Difference Compare(const imagelib::Pixels& frame, const CxImage& reference) {
    Difference d;
    if (frame.width != reference.GetWidth() || frame.height != reference.GetHeight() ||
        reference.GetBpp() != 24) {
        return d;
    }
    uint64_t sum = 0, offPixels = 0;
    for (uint32_t y = 0; y < frame.height; ++y) {
        const uint8_t* a = frame.Row(y);
        const uint8_t* b = reference.GetBits(y);
        for (uint32_t x = 0; x < frame.width; ++x) {
            int worst = 0;
            for (int c = 0; c < 3; ++c) {
                const int diff = std::abs(a[3 * x + c] - b[3 * x + c]);
                sum += diff;
                worst = std::max(worst, diff);
            }
            offPixels += worst > 48;
        }
    }
    const double pixels = static_cast<double>(frame.width) * frame.height;
    d.mean = static_cast<double>(sum) / (pixels * 3);
    d.farShare = static_cast<double>(offPixels) / pixels;
    return d;
}

bool Uniform(const imagelib::Pixels& frame) {
    for (uint32_t y = 0; y < frame.height; ++y) {
        for (uint32_t x = 0; x < frame.width * 3; ++x) {
            if (frame.Row(y)[x] != frame.Row(0)[0]) return false;
        }
    }
    return true;
}

using FrameDecoder = const char* (*)(const wchar_t*, imagelib::DecodedImage&);

void ExpectFramesMatchFfmpeg(FrameDecoder decoder, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        SCOPED_TRACE(name);
        imagelib::DecodedImage frame;
        const char* failure = decoder(Video(name).c_str(), frame);
        ASSERT_EQ(failure, nullptr) << failure;
        EXPECT_FALSE(Uniform(frame.pixels));
        const CxImage reference(Video((std::string(name) + ".bmp").c_str()).c_str(), 1);
        ASSERT_TRUE(reference.IsValid()) << reference.GetLastError();
        const Difference d = Compare(frame.pixels, reference);
        EXPECT_LT(d.mean, 2.5);
        EXPECT_LT(d.farShare, 0.01);
    }
}

class VideoFrame : public ::testing::Test {
protected:
    win::ComScope com_;
};

TEST_F(VideoFrame, MediaFoundationGivesEveryContainersFrameAsFfmpegDecodesIt) {
    ExpectFramesMatchFfmpeg(imagelib::DecodeVideoFrameWithMediaFoundation,
                            {"mjpeg.avi", "xvid.avi", "fmp4.avi", "mpeg1-cbr.mpg", "mpeg1-vbr.mpv",
                             "mpeg2.mpg", "mpeg2.vob", "wmv2.wmv", "raw.avi", "odd-size.avi"});
}

TEST_F(VideoFrame, DirectShowGivesTheSameFrames) {
    ExpectFramesMatchFfmpeg(imagelib::DecodeVideoFrameWithDirectShow,
                            {"mjpeg.avi", "xvid.avi", "mpeg2.mpg", "wmv2.wmv"});
}

TEST_F(VideoFrame, AStalledVideoDecoderCostsOnlyThatVideo) {
    imagelib::ConfigureDecoder(BesideTests(L"trouble_decoder.exe"), 3000);
    testing_support::TempDir dir;
    fs::copy_file(Video("xvid.avi"), dir / "hang.avi");
    fs::copy_file(Video("xvid.avi"), dir / "fine.avi");

    const CxImage stalled((dir / "hang.avi").c_str(), 0, true);
    EXPECT_FALSE(stalled.IsValid());
    EXPECT_STREQ(stalled.GetLastError(), imagelib::kDecoderFailed);
    const CxImage fine((dir / "fine.avi").c_str(), 0, true);
    EXPECT_TRUE(fine.IsValid()) << fine.GetLastError();
    EXPECT_EQ(fine.GetImageWidth(), 320u);
    imagelib::ConfigureDecoder(L"", 0);
}

}  // namespace
