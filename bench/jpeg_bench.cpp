// JPEG decoded for the preview, timed inside one process on one thread: per file, our decoder
// from the file's bytes in memory to BGR pixels at 1/1, 1/2, 1/4 and 1/8 and the DC decoder,
// beside the whole picture as the preview decoded it before (CxImage through WIC in the
// decoder process, from the file) and CxImage for a box of BOX_WIDTH x BOX_HEIGHT (from the
// file, through our decoder at the scale the box needs). Each the median of 5 rounds, after
// one round to warm up.
// Usage: jpeg_bench [--box=WIDTHxHEIGHT] FILE...   (box 1260x790 by default) Prints one
// tab-separated line per file:
//   jpeg<TAB>FILE<TAB>WIDTH<TAB>HEIGHT<TAB>PROGRESSIVE<TAB>MS_1/1<TAB>MS_1/2<TAB>MS_1/4<TAB>
//   MS_1/8<TAB>MS_DC<TAB>MS_WIC_WHOLE<TAB>MS_BOX<TAB>BOX_SCALE
#include "base/Handles.h"
#include "decode/JpegDc.h"
#include "decode/JpegScaled.h"
#include "imagelib/CxImage.h"
#include "imagelib/DirectDecoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MedianMs(const std::function<bool()>& run) {
    if (!run()) return -1;  // warm-up; and a failure is reported as -1
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

std::vector<uint8_t> ReadAll(const wchar_t* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    win::ComScope com;
    FitBox box{1260, 790};
    decode::ScaledPicture scaled;  // reused, as the decoding threads' buffers are
    decode::DcPicture dc;
    for (int a = 1; a < argc; ++a) {
        unsigned w = 0, h = 0;
        if (std::swscanf(argv[a], L"--box=%ux%u", &w, &h) == 2) {
            box = {w, h};
            continue;
        }
        const wchar_t* path = argv[a];
        const std::vector<uint8_t> bytes = ReadAll(path);
        double ms[4];
        for (int shift = 0; shift < 4; ++shift) {
            ms[shift] = MedianMs([&] {
                return decode::DecodeJpegScaled(bytes.data(), bytes.size(), shift, scaled);
            });
        }
        const double dcMs =
            MedianMs([&] { return decode::DecodeJpegDc(bytes.data(), bytes.size(), dc); });
        const double wicMs = MedianMs([&] { return CxImage(path, 0, false, false).IsValid(); });
        const double boxMs = MedianMs([&] { return CxImage(path, 0, box).IsValid(); });
        std::printf(
            "jpeg\t%ls\t%u\t%u\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t1/%d\n", path,
            scaled.width, scaled.height, scaled.progressive ? 1 : 0, ms[0], ms[1], ms[2], ms[3],
            dcMs, wicMs, boxMs,
            1 << imagelib::FittedScaleShift(scaled.width, scaled.height, box.width, box.height));
        std::fflush(stdout);
    }
    return 0;
}
