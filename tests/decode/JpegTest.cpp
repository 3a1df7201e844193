// The JPEG decoders on real files, the DC decoder and the whole-picture decoder at every
// scale: synthetic pictures whose content is known, photos against a full decode, every
// refusal, and damaged or cut-short files. WicComparisonTest.cpp compares both with WIC.
#include "decode/Fixtures.h"
#include "decode/JpegDc.h"
#include "decode/JpegScaled.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

using namespace decode_tests;
using decode::DcPicture;
using decode::DecodeJpegDc;
using decode::DecodeJpegScaled;
using decode::ScaledPicture;

namespace {

// Flat 16x16 tiles survive JPEG coding nearly exactly in their DC terms: the DC step at
// quality 90 is 3 (under half a level of block mean), and the encoder's colour conversion
// and its clamping of saturated chroma move a channel by a level or two.
constexpr int kTileTolerance = 3;

DcPicture Decode(const Bytes& bytes, bool expectOk = true) {
    DcPicture picture;
    EXPECT_EQ(DecodeJpegDc(bytes.data(), bytes.size(), picture), expectOk);
    return picture;
}

void ExpectShape(const DcPicture& p, uint32_t w, uint32_t h, int components, bool progressive) {
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
    EXPECT_EQ(p.components, components);
    EXPECT_EQ(p.bitsPerPixel, components == 1 ? 8 : 24);
    EXPECT_EQ(p.progressive, progressive);
    EXPECT_EQ(p.blocksWide, (w + 7) / 8);
    EXPECT_EQ(p.blocksHigh, (h + 7) / 8);
    EXPECT_EQ(p.bgr.size(), size_t{p.blocksWide} * p.blocksHigh * 3);
}

const char* const kTileFiles[] = {
    "blocks-444.jpg",
    "blocks-422.jpg",
    "blocks-420.jpg",
    "blocks-440.jpg",
    "blocks-420-progressive.jpg",
    "blocks-odd-420.jpg",
    "blocks-odd-422-progressive.jpg",
    "blocks-odd-420-restart.jpg",
    "blocks-rgb-ids.jpg",  // RGB samples, as a TIFF writer stores them
    // ffmpeg's sampling factors: 4:2:2 as luma 2x2 and chroma 1x2, 4:4:4 as 1x2 for all.
    "blocks-422-ffmpeg.jpg",
    "blocks-odd-444-ffmpeg.jpg",
};

const char* const kGradientFiles[] = {"gradient-grey.jpg", "gradient-grey-progressive.jpg",
                                      "gradient-grey-restart.jpg"};

const char* const kPhotoFiles[] = {"photo-420.jpg", "photo-444.jpg", "photo-420-progressive.jpg",
                                   "photo-420-restart.jpg"};

// Every JPEG fixture: the lists above and the photographs of odd sizes.
std::vector<const char*> AllJpegFiles() {
    std::vector<const char*> names(std::begin(kTileFiles), std::end(kTileFiles));
    names.insert(names.end(), std::begin(kGradientFiles), std::end(kGradientFiles));
    names.insert(names.end(), std::begin(kPhotoFiles), std::end(kPhotoFiles));
    names.insert(names.end(), {"photo-odd-422.jpg", "photo-odd-grey-progressive.jpg",
                               "photo-odd-420-separate.jpg"});
    return names;
}

ScaledPicture DecodeAt(const Bytes& bytes, int shift) {
    ScaledPicture picture;
    EXPECT_TRUE(DecodeJpegScaled(bytes.data(), bytes.size(), shift, picture));
    return picture;
}

void ExpectShape(const ScaledPicture& p, uint32_t w, uint32_t h, int components, bool progressive,
                 int shift) {
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
    EXPECT_EQ(p.components, components);
    EXPECT_EQ(p.bitsPerPixel, components == 1 ? 8 : 24);
    EXPECT_EQ(p.progressive, progressive);
    EXPECT_EQ(p.scaleShift, shift);
    const uint32_t g = 1u << shift;
    EXPECT_EQ(p.scaledWidth, (w + g - 1) / g);
    EXPECT_EQ(p.scaledHeight, (h + g - 1) / g);
    EXPECT_EQ(p.bgr.size(), size_t{p.scaledWidth} * p.scaledHeight * 3);
}

// The offset of the first marker `code` in a JPEG, or 0.
size_t FindMarker(const Bytes& b, uint8_t code) {
    for (size_t i = 2; i + 1 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == code) return i;
    }
    return 0;
}

}  // namespace

TEST(JpegDcKnownContent, TilesOfEverySamplingGiveTheirColours) {
    for (const char* name : kTileFiles) {
        SCOPED_TRACE(name);
        const DcPicture p = Decode(ReadFixture(name));
        const bool odd = std::strstr(name, "odd") != nullptr;
        ExpectShape(p, odd ? 118 : 128, odd ? 90 : 96, 3, std::strstr(name, "progressive"));
        EXPECT_TRUE(p.complete);
        int worst = 0;
        for (uint32_t by = 0; by < p.blocksHigh; ++by) {
            for (uint32_t bx = 0; bx < p.blocksWide; ++bx) {
                const uint8_t* px = &p.bgr[(size_t{by} * p.blocksWide + bx) * 3];
                worst = std::max(worst, Difference(px, TileAt(bx * 8, by * 8)));
            }
        }
        EXPECT_LE(worst, kTileTolerance);
    }
}

TEST(JpegDcKnownContent, GreyGradientGivesItsBlockMeans) {
    for (const char* name : kGradientFiles) {
        SCOPED_TRACE(name);
        const DcPicture p = Decode(ReadFixture(name));
        ExpectShape(p, 100, 75, 1, std::strstr(name, "progressive"));
        EXPECT_TRUE(p.complete);
        double worst = 0;
        for (uint32_t by = 0; by < p.blocksHigh; ++by) {
            for (uint32_t bx = 0; bx < p.blocksWide; ++bx) {
                const uint8_t* px = &p.bgr[(size_t{by} * p.blocksWide + bx) * 3];
                EXPECT_TRUE(px[0] == px[1] && px[1] == px[2]);
                worst = std::max(worst, std::abs(px[0] - GradientBlockMean(bx, by, 100, 75)));
            }
        }
        // One DC step of 3 at quality 90 is under half a level; rounding adds half.
        EXPECT_LE(worst, 1.0);
    }
}

// photo-*.ppm hold ImageMagick's full decode of each photo, averaged over 8x8 blocks (and
// rounded: half a level more).
TEST(JpegDcKnownContent, PhotosMatchAFullDecodeOverEachChromaBlock) {
    const struct {
        const char* name;
        uint32_t sampling;  // luma blocks a chroma block covers in each direction
    } photos[] = {
        {"photo-420", 2}, {"photo-444", 1}, {"photo-420-progressive", 2}, {"photo-420-restart", 2}};
    for (const auto& photo : photos) {
        SCOPED_TRACE(photo.name);
        Ppm reference;
        ASSERT_TRUE(ParsePpm(ReadFixture(std::string(photo.name) + ".ppm"), reference));
        const DcPicture p = Decode(ReadFixture(std::string(photo.name) + ".jpg"));
        EXPECT_TRUE(p.complete);
        ASSERT_EQ(p.blocksWide, reference.width);
        ASSERT_EQ(p.blocksHigh, reference.height);
        const BlockMeans dc = MeansOfBgr(p.blocksWide, p.blocksHigh, p.bgr);
        // Chroma blocks wholly inside the picture; see WicComparisonTest.cpp for the others.
        const double worst = WorstGroupDifference(dc, MeansOfPpm(reference), photo.sampling,
                                                  photo.sampling, p.width / 8, p.height / 8);
        EXPECT_LE(worst, kFullDecodeTolerance);
    }
}

// The same picture coded sequentially and progressively at one quality has the same quantised
// coefficients, so the progressive file's scans, refinements included, must give exactly the
// same picture. The photograph's blocks carry dozens of coefficients each through every
// refinement.
TEST(JpegDcKnownContent, ProgressiveFilesGiveTheirSequentialTwinsPicture) {
    for (const char* stem : {"blocks-420", "gradient-grey", "photo-422"}) {
        SCOPED_TRACE(stem);
        const DcPicture sequential = Decode(ReadFixture(std::string(stem) + ".jpg"));
        const DcPicture progressive = Decode(ReadFixture(std::string(stem) + "-progressive.jpg"));
        EXPECT_FALSE(sequential.progressive);
        EXPECT_TRUE(progressive.progressive);
        EXPECT_TRUE(progressive.complete);
        EXPECT_EQ(sequential.bgr, progressive.bgr);
        // Every AC coefficient too, through spectral selection and successive approximation.
        for (int shift = 0; shift <= 3; ++shift) {
            const ScaledPicture a = DecodeAt(ReadFixture(std::string(stem) + ".jpg"), shift);
            const ScaledPicture b =
                DecodeAt(ReadFixture(std::string(stem) + "-progressive.jpg"), shift);
            EXPECT_TRUE(b.complete);
            EXPECT_EQ(a.bgr, b.bgr) << "at 1/" << (1 << shift);
        }
    }
}

// A sequential file may code each component in a scan of its own, over its own area rather
// than in MCUs; the same blocks coded in one scan must give the same picture.
TEST(JpegDcKnownContent, ScansOfOneComponentGiveTheirInterleavedTwinsPicture) {
    const Bytes interleaved = ReadFixture("photo-odd-420-interleaved.jpg");
    const Bytes separate = ReadFixture("photo-odd-420-separate.jpg");
    EXPECT_EQ(Decode(interleaved).bgr, Decode(separate).bgr);
    for (int shift = 0; shift <= 3; ++shift) {
        const ScaledPicture a = DecodeAt(interleaved, shift);
        const ScaledPicture b = DecodeAt(separate, shift);
        ExpectShape(b, 157, 117, 3, false, shift);
        EXPECT_TRUE(b.complete);
        EXPECT_EQ(a.bgr, b.bgr) << "at 1/" << (1 << shift);
    }
}

TEST(JpegDcKnownContent, FileFactsOfOddSizesAndGreyscale) {
    const DcPicture colour = Decode(ReadFixture("photo-odd-422.jpg"));
    ExpectShape(colour, 203, 141, 3, false);
    EXPECT_TRUE(colour.complete);
    const DcPicture grey = Decode(ReadFixture("photo-odd-grey-progressive.jpg"));
    ExpectShape(grey, 203, 141, 1, true);
    EXPECT_TRUE(grey.complete);
    for (size_t i = 0; i < grey.bgr.size(); i += 3) {
        ASSERT_TRUE(grey.bgr[i] == grey.bgr[i + 1] && grey.bgr[i] == grey.bgr[i + 2]) << i;
    }
}

TEST(JpegDcKnownContent, ReusesTheCallersPicture) {
    DcPicture p;
    const Bytes big = ReadFixture("photo-420.jpg");
    const Bytes small = ReadFixture("gradient-grey.jpg");
    ASSERT_TRUE(DecodeJpegDc(big.data(), big.size(), p));
    ASSERT_TRUE(DecodeJpegDc(small.data(), small.size(), p));
    ExpectShape(p, 100, 75, 1, false);
    const DcPicture fresh = Decode(small);
    EXPECT_EQ(p.bgr, fresh.bgr);
}

// Each output pixel stands for g x g pixels of the picture (g = 1, 2, 4); those whose
// neighbours lie in the same 16x16 tile must give the tile's colour. Next to a tile's edge the
// chroma of the neighbouring tile legitimately mixes in (interpolated at full size, spread
// into the edge pixel when reduced), so those are left out.
TEST(JpegScaledKnownContent, TilesOfEverySamplingGiveTheirColoursAtEveryScale) {
    for (const char* name : kTileFiles) {
        for (int shift = 0; shift <= 2; ++shift) {
            SCOPED_TRACE(std::string(name) + " at 1/" + std::to_string(1 << shift));
            const ScaledPicture p = DecodeAt(ReadFixture(name), shift);
            const bool odd = std::strstr(name, "odd") != nullptr;
            ExpectShape(p, odd ? 118 : 128, odd ? 90 : 96, 3, std::strstr(name, "progressive"),
                        shift);
            EXPECT_TRUE(p.complete);
            const uint32_t g = 1u << shift;
            const uint32_t margin = std::max(g, 2u);
            const auto tile = [](uint32_t x, uint32_t y) { return x / 16 + 1000 * (y / 16); };
            int worst = 0, checked = 0;
            for (uint32_t y = 0; y < p.scaledHeight; ++y) {
                for (uint32_t x = 0; x < p.scaledWidth; ++x) {
                    const uint32_t left = x * g, top = y * g;
                    if (left < margin || top < margin || left + g + margin > p.width ||
                        top + g + margin > p.height ||
                        tile(left - margin, top - margin) !=
                            tile(left + g - 1 + margin, top + g - 1 + margin)) {
                        continue;
                    }
                    const uint8_t* px = &p.bgr[(size_t{y} * p.scaledWidth + x) * 3];
                    worst = std::max(worst, Difference(px, TileAt(left, top)));
                    ++checked;
                }
            }
            EXPECT_GT(checked, static_cast<int>(p.scaledWidth * p.scaledHeight / 8));
            EXPECT_LE(worst, kTileTolerance);
        }
    }
}

// The reduced scales against the full-size decode averaged over 2x2, 4x4 and 8x8 pixels:
// the reduced transform gives exactly those means before rounding for luma and full-rate
// chroma; subsampled chroma differs a little at sharp colour edges (see JpegScaled.h).
// Output pixels cut by the picture's edge are left out: theirs include the blocks' padding.
TEST(JpegScaledKnownContent, ReducedScalesAreAreaMeansOfTheFullSize) {
    const char* const photos[] = {
        "photo-420.jpg",         "photo-444.jpg",     "photo-420-progressive.jpg",
        "photo-420-restart.jpg", "photo-odd-422.jpg", "photo-odd-grey-progressive.jpg"};
    for (const char* name : photos) {
        const Bytes bytes = ReadFixture(name);
        const ScaledPicture full = DecodeAt(bytes, 0);
        for (int shift = 1; shift <= 3; ++shift) {
            SCOPED_TRACE(std::string(name) + " at 1/" + std::to_string(1 << shift));
            const ScaledPicture p = DecodeAt(bytes, shift);
            ExpectShape(p, full.width, full.height, full.components, full.progressive, shift);
            const uint32_t g = 1u << shift;
            double total = 0;
            int worst = 0;
            size_t count = 0;
            for (uint32_t y = 0; y < full.height / g; ++y) {
                for (uint32_t x = 0; x < full.width / g; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        int sum = 0;
                        for (uint32_t v = y * g; v < y * g + g; ++v) {
                            for (uint32_t u = x * g; u < x * g + g; ++u) {
                                sum += full.bgr[(size_t{v} * full.width + u) * 3 + c];
                            }
                        }
                        const int mean = (sum + static_cast<int>(g * g / 2)) / (g * g);
                        const int d =
                            std::abs(p.bgr[(size_t{y} * p.scaledWidth + x) * 3 + c] - mean);
                        total += d;
                        worst = std::max(worst, d);
                        ++count;
                    }
                }
            }
            EXPECT_LE(total / count, 0.8);
            EXPECT_LE(worst, 16);
        }
    }
}

TEST(JpegRefusals, KindsLeftToWic) {
    DcPicture p;
    const Bytes cmyk = ReadFixture("blocks-cmyk.jpg");
    EXPECT_FALSE(DecodeJpegDc(cmyk.data(), cmyk.size(), p)) << "CMYK";

    const Bytes base = ReadFixture("blocks-444.jpg");
    const size_t sof = FindMarker(base, 0xC0);
    ASSERT_NE(sof, 0u);
    // SOF layout: marker, length (2), precision, height (2), width (2), count, then per
    // component id, sampling, table.
    const auto patched = [&](auto change) {
        Bytes b = base;
        change(b);
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"arithmetic coding", patched([&](Bytes& b) { b[sof + 1] = 0xC9; })},
        {"lossless", patched([&](Bytes& b) { b[sof + 1] = 0xC3; })},
        {"hierarchical", patched([&](Bytes& b) { b[sof + 1] = 0xC5; })},
        {"12-bit", patched([&](Bytes& b) { b[sof + 4] = 12; })},
        {"height from a later marker", patched([&](Bytes& b) { b[sof + 5] = b[sof + 6] = 0; })},
        {"width over 30000", patched([&](Bytes& b) { b[sof + 7] = 0x75, b[sof + 8] = 0x31; })},
        {"height over 30000", patched([&](Bytes& b) { b[sof + 5] = 0xFF, b[sof + 6] = 0xFF; })},
        {"4:1:1", patched([&](Bytes& b) { b[sof + 11] = 0x41; })},
        {"subsampled luma as chroma", patched([&](Bytes& b) { b[sof + 14] = 0x22; })},
        {"duplicate component ids", patched([&](Bytes& b) { b[sof + 13] = b[sof + 10]; })},
        {"no start of image", patched([&](Bytes& b) { b[1] = 0xD9; })},
        {"empty", {}},
        {"not a JPEG", ReadFixture("blocks-24.bmp")},
    };
    ScaledPicture scaled;
    for (const Case& c : cases) {
        EXPECT_FALSE(DecodeJpegDc(c.bytes.data(), c.bytes.size(), p)) << c.what;
        EXPECT_FALSE(DecodeJpegScaled(c.bytes.data(), c.bytes.size(), 1, scaled)) << c.what;
    }
    EXPECT_TRUE(DecodeJpegDc(base.data(), base.size(), p)) << "the unpatched file";
}

// Three components are RGB where Adobe's marker says so (transform 0), or, without that marker,
// where they are named 'R', 'G', 'B'; their samples are then the colours. RGB is read only
// where no component is subsampled.
TEST(JpegRgb, AdobesMarkerOrTheComponentNamesSayRgb) {
    const Bytes rgb = ReadFixture("blocks-rgb-ids.jpg");
    const size_t sof = FindMarker(rgb, 0xC0), sos = FindMarker(rgb, 0xDA);
    ASSERT_NE(sof, 0u);
    ASSERT_NE(sos, 0u);
    const auto named = [&](Bytes b, uint8_t first, uint8_t second, uint8_t third) {
        b[sof + 10] = first, b[sof + 13] = second, b[sof + 16] = third;
        b.at(sos + 5) = first, b.at(sos + 7) = second, b.at(sos + 9) = third;
        return b;
    };
    const auto withAdobe = [](const Bytes& b, uint8_t transform) {
        Bytes out = {0xFF, 0xD8, 0xFF, 0xEE, 0x00, 0x0E, 'A',  'd',  'o',
                     'b',  'e',  0x00, 0x64, 0x00, 0x00, 0x00, 0x00, transform};
        out.insert(out.end(), b.begin() + 2, b.end());
        return out;
    };
    ScaledPicture asNamed, asMarked, asYcc;
    DcPicture dcNamed, dcMarked;
    ASSERT_TRUE(DecodeJpegScaled(rgb.data(), rgb.size(), 0, asNamed));
    ASSERT_TRUE(DecodeJpegDc(rgb.data(), rgb.size(), dcNamed));
    const Bytes marked = withAdobe(named(rgb, 1, 2, 3), 0);
    ASSERT_TRUE(DecodeJpegScaled(marked.data(), marked.size(), 0, asMarked));
    ASSERT_TRUE(DecodeJpegDc(marked.data(), marked.size(), dcMarked));
    EXPECT_EQ(asMarked.bgr, asNamed.bgr);
    EXPECT_EQ(dcMarked.bgr, dcNamed.bgr);
    // The marker decides over the names: transform 1 is YCbCr whatever they are.
    const Bytes ycc = withAdobe(rgb, 1);
    ASSERT_TRUE(DecodeJpegScaled(ycc.data(), ycc.size(), 0, asYcc));
    EXPECT_NE(asYcc.bgr, asNamed.bgr);
    const Bytes plain = named(rgb, 1, 2, 3);
    ASSERT_TRUE(DecodeJpegScaled(plain.data(), plain.size(), 0, asYcc));
    EXPECT_NE(asYcc.bgr, asNamed.bgr);

    // Subsampled RGB is refused.
    Bytes subsampled = ReadFixture("blocks-420.jpg");
    const size_t at = FindMarker(subsampled, 0xC0), scan = FindMarker(subsampled, 0xDA);
    subsampled[at + 10] = 'R', subsampled[at + 13] = 'G', subsampled[at + 16] = 'B';
    subsampled.at(scan + 5) = 'R', subsampled.at(scan + 7) = 'G', subsampled.at(scan + 9) = 'B';
    DcPicture p;
    EXPECT_FALSE(DecodeJpegDc(subsampled.data(), subsampled.size(), p));
    EXPECT_FALSE(DecodeJpegScaled(subsampled.data(), subsampled.size(), 0, asYcc));
}

// Cut short anywhere, a file gives false or the picture's right shape from both decoders; a
// sequential file cut inside its only scan is never complete, and keeps the blocks before the
// cut.
TEST(JpegDamage, TruncatedFilesGivePartialPicturesOrFalse) {
    for (const char* name : AllJpegFiles()) {
        SCOPED_TRACE(name);
        const Bytes whole = ReadFixture(name);
        const DcPicture full = Decode(whole);
        const size_t scan = FindMarker(whole, 0xDA);
        const size_t step = std::max<size_t>(1, whole.size() / 400);
        for (size_t length = 0; length < whole.size(); length += step) {
            SCOPED_TRACE(length);
            DcPicture p;
            if (!DecodeJpegDc(whole.data(), length, p)) continue;
            EXPECT_GT(length, scan);
            ExpectShape(p, full.width, full.height, full.components, full.progressive);
            if (!full.progressive && length < whole.size() - 2) {
                EXPECT_FALSE(p.complete);
            }
            if (length % (step * 4) != 0) continue;
            const int shift = static_cast<int>(length / (step * 4) % 4);
            ScaledPicture scaled;
            if (!DecodeJpegScaled(whole.data(), length, shift, scaled)) continue;
            EXPECT_GT(length, scan);
            ExpectShape(scaled, full.width, full.height, full.components, full.progressive, shift);
            if (length < whole.size() - 2) {
                EXPECT_FALSE(scaled.complete);
            }
        }
        if (!full.progressive && std::strstr(name, "separate") == nullptr) {
            // Nine tenths of the data: the first block row decoded before the cut (unless
            // each component has a scan of its own: the last one starts in the last tenth).
            DcPicture p;
            const size_t cut = scan + (whole.size() - scan) * 9 / 10;
            ASSERT_TRUE(DecodeJpegDc(whole.data(), cut, p));
            EXPECT_FALSE(p.complete);
            EXPECT_TRUE(
                std::equal(p.bgr.begin(), p.bgr.begin() + p.blocksWide * 3, full.bgr.begin()));
            for (int shift = 0; shift <= 3; ++shift) {
                ScaledPicture scaled;
                ASSERT_TRUE(DecodeJpegScaled(whole.data(), cut, shift, scaled));
                EXPECT_FALSE(scaled.complete);
                const ScaledPicture expected = DecodeAt(whole, shift);
                EXPECT_TRUE(std::equal(scaled.bgr.begin(),
                                       scaled.bgr.begin() + scaled.scaledWidth * 3,
                                       expected.bgr.begin()))
                    << "at 1/" << (1 << shift);
            }
        }
    }
}

TEST(JpegDamage, CorruptedBytesNeverReadOutsideTheFile) {
    uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (const char* name : AllJpegFiles()) {
        SCOPED_TRACE(name);
        const Bytes whole = ReadFixture(name);
        const DcPicture full = Decode(whole);
        for (int round = 0; round < 300; ++round) {
            Bytes b = whole;
            const int flips = 1 + static_cast<int>(next() % 4);
            for (int i = 0; i < flips; ++i) {
                b[next() % b.size()] = static_cast<uint8_t>(next() >> 24);
            }
            DcPicture p;
            if (DecodeJpegDc(b.data(), b.size(), p)) {
                EXPECT_EQ(p.bgr.size(), size_t{p.blocksWide} * p.blocksHigh * 3);
                EXPECT_EQ(p.blocksWide, (p.width + 7) / 8);
            }
            if (round % 3 != 0) continue;
            const int shift = round / 3 % 4;
            ScaledPicture scaled;
            if (DecodeJpegScaled(b.data(), b.size(), shift, scaled)) {
                EXPECT_EQ(scaled.bgr.size(), size_t{scaled.scaledWidth} * scaled.scaledHeight * 3);
                EXPECT_EQ(scaled.scaledWidth, (scaled.width + (1u << shift) - 1) >> shift);
            }
        }
        // Every byte in turn set to 0xFF, which starts a marker inside entropy-coded data.
        for (size_t i = 2; i < whole.size(); i += std::max<size_t>(1, whole.size() / 500)) {
            Bytes b = whole;
            b[i] = 0xFF;
            DcPicture p;
            if (DecodeJpegDc(b.data(), b.size(), p)) {
                EXPECT_EQ(p.bgr.size(), size_t{p.blocksWide} * p.blocksHigh * 3);
            }
        }
    }
}

// A wrong restart marker ends decoding at that interval; the intervals before it stand.
TEST(JpegDamage, WrongRestartMarkerStopsAtItsInterval) {
    const Bytes whole = ReadFixture("gradient-grey-restart.jpg");  // one block per interval
    const DcPicture full = Decode(whole);
    size_t rst = FindMarker(whole, 0xDA);
    int seen = 0;
    for (; rst + 1 < whole.size(); ++rst) {
        if (whole[rst] == 0xFF && whole[rst + 1] >= 0xD0 && whole[rst + 1] <= 0xD7 &&
            ++seen == 20) {
            break;
        }
    }
    ASSERT_EQ(seen, 20);
    Bytes b = whole;
    b[rst + 1] = static_cast<uint8_t>(0xD0 + (b[rst + 1] - 0xD0 + 1) % 8);
    DcPicture p;
    ASSERT_TRUE(DecodeJpegDc(b.data(), b.size(), p));
    EXPECT_FALSE(p.complete);
    // Twenty blocks decoded before the twentieth marker; the rest stay mid-grey.
    EXPECT_TRUE(std::equal(p.bgr.begin(), p.bgr.begin() + 20 * 3, full.bgr.begin()));
    EXPECT_EQ(p.bgr[20 * 3], 128);
    EXPECT_EQ(p.bgr.back(), 128);
    // Whole, at 1/2: 4x4 pixels for each of those twenty blocks (13 to a row), then grey.
    const ScaledPicture fullScaled = DecodeAt(whole, 1);
    ScaledPicture scaled;
    ASSERT_TRUE(DecodeJpegScaled(b.data(), b.size(), 1, scaled));
    EXPECT_FALSE(scaled.complete);
    ASSERT_EQ(scaled.scaledWidth, 50u);
    const size_t rowBytes = size_t{scaled.scaledWidth} * 3;
    EXPECT_TRUE(
        std::equal(scaled.bgr.begin(), scaled.bgr.begin() + 4 * rowBytes, fullScaled.bgr.begin()));
    for (size_t y = 4; y < 8; ++y) {
        const auto row = scaled.bgr.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        EXPECT_TRUE(
            std::equal(row, row + 7 * 4 * 3, fullScaled.bgr.begin() + (row - scaled.bgr.begin())));
        EXPECT_EQ(row[7 * 4 * 3], 128);
    }
    EXPECT_EQ(scaled.bgr.back(), 128);
}
