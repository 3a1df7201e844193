// Which files the control accepts: the list of extensions it is given and the defaults it
// falls back to.
#include "thumblist/ThumbListCtrl.h"

#include "ControlFixture.h"
#include "support/SampleImages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::ControlHost;
using testing_support::HostedControl;
using testing_support::TempDir;

TEST(ThumbListFileTypes, TheImageDefaultsIgnoreCase) {
    ThumbListCtrl control;
    control.SetFileTypes(nullptr, false);
    for (const wchar_t* name :
         {L"C:\\pictures\\PHOTO.JPG", L"C:\\pictures\\photo.jpeg", L"a.Bmp", L"a.ogf", L"a.tga",
          L"a.png", L"a.gif", L"a.wbmp", L"a.tif", L"a.TIFF", L"holiday.2004.png"}) {
        EXPECT_TRUE(control.IsSupportedFile(name)) << name;
    }
    for (const wchar_t* name : {L"C:\\pictures\\readme", L"notes.txt", L"photo.", L"photo.jpg.txt",
                                L"clip.avi", L"C:\\dir.png\\file", L"", L"jpg"}) {
        EXPECT_FALSE(control.IsSupportedFile(name)) << name;
    }
}

TEST(ThumbListFileTypes, AListIsSplitAtBlanksCommasAndBars) {
    ThumbListCtrl control;
    control.SetFileTypes(L"JPG, png|gif", false);
    EXPECT_TRUE(control.IsSupportedFile(L"a.jpg"));
    EXPECT_TRUE(control.IsSupportedFile(L"a.PNG"));
    EXPECT_TRUE(control.IsSupportedFile(L"a.gif"));
    EXPECT_FALSE(control.IsSupportedFile(L"a.bmp"));  // the defaults are gone
    EXPECT_FALSE(control.IsSupportedFile(L"a.jpg,"));
    EXPECT_FALSE(control.IsSupportedFile(L"a. png"));

    control.SetFileTypes(L"||,,  qrt ,|, raw||", false);
    EXPECT_TRUE(control.IsSupportedFile(L"a.qrt"));
    EXPECT_TRUE(control.IsSupportedFile(L"a.raw"));
    EXPECT_FALSE(control.IsSupportedFile(L"a.png"));
}

TEST(ThumbListFileTypes, ShortOrEmptyListsGiveTheDefaults) {
    ThumbListCtrl control;
    for (const wchar_t* list : {L"", L"qr", L" ,| ,|,,  ||", L"|||"}) {
        control.SetFileTypes(L"qrt", false);
        ASSERT_FALSE(control.IsSupportedFile(L"a.png"));
        // Even after another list, a list without entries brings the defaults back.
        control.SetFileTypes(list, false);
        EXPECT_TRUE(control.IsSupportedFile(L"a.png")) << list;
        EXPECT_FALSE(control.IsSupportedFile(L"a.qrt")) << list;
        EXPECT_FALSE(control.IsSupportedFile(L"a.qr")) << list;
    }
}

TEST(ThumbListFileTypes, EntriesHoldAtMostNineCharacters) {
    ThumbListCtrl control;
    control.SetFileTypes(L"abcdefghi abcdefghij", false);
    EXPECT_TRUE(control.IsSupportedFile(L"a.abcdefghi"));
    EXPECT_FALSE(control.IsSupportedFile(L"a.abcdefghij"));
}

TEST(ThumbListFileTypes, AListIsReadUpToItsFirst259Characters) {
    // 25 entries of nine characters and a blank fill 250 characters; the last entry runs
    // from character 250 and loses its tenth character and everything behind it.
    std::wstring list;
    for (int i = 0; i < 25; ++i) list += L"filler" + std::to_wstring(100 + i) + L" ";
    ASSERT_EQ(list.size(), 250u);
    list += L"abcdefghijk tail";
    ThumbListCtrl control;
    control.SetFileTypes(list.c_str(), false);
    EXPECT_TRUE(control.IsSupportedFile(L"a.filler100"));
    EXPECT_TRUE(control.IsSupportedFile(L"a.filler124"));
    EXPECT_TRUE(control.IsSupportedFile(L"a.abcdefghi"));
    EXPECT_FALSE(control.IsSupportedFile(L"a.tail"));
}

TEST(ThumbListFileTypes, VideoControlsDefaultToVideoTypes) {
    ThumbListParams params = ControlHost::DialogParams();
    params.mediaKind = 1;
    HostedControl hosted(params, 300, 200);
    ASSERT_NE(hosted.container, nullptr);
    for (const wchar_t* name : {L"a.avi", L"a.MPG", L"a.mpeg", L"a.asf", L"a.wmv", L"a.mp2",
                                L"a.mpv", L"a.dat", L"a.vob"}) {
        EXPECT_TRUE(hosted.control.IsSupportedFile(name)) << name;
    }
    EXPECT_FALSE(hosted.control.IsSupportedFile(L"a.jpg"));
    hosted.control.SetFileTypes(L"jpg", false);
    EXPECT_TRUE(hosted.control.IsSupportedFile(L"a.jpg"));
    hosted.control.SetFileTypes(L"x", false);
    EXPECT_TRUE(hosted.control.IsSupportedFile(L"a.avi"));
    EXPECT_FALSE(hosted.control.IsSupportedFile(L"a.jpg"));
}

TEST(ThumbListFileTypes, CreateTakesTheListOfItsParameters) {
    ThumbListParams params = ControlHost::DialogParams();
    params.fileTypes = L"png|tga";
    HostedControl hosted(params, 300, 200);
    ASSERT_NE(hosted.container, nullptr);
    EXPECT_TRUE(hosted.control.IsSupportedFile(L"a.tga"));
    EXPECT_FALSE(hosted.control.IsSupportedFile(L"a.bmp"));
}

TEST(ThumbListFileTypes, ARescanListsTheCurrentFolderAgain) {
    TempDir temp;
    HostedControl hosted(ControlHost::DialogParams(), 400, 200);  // also brings COM up for WIC
    testing_support::WriteSolidBmp(temp / "one.bmp", 20, 20, {10, 20, 30});
    testing_support::WriteSolidBmp(temp / "two.bmp", 20, 20, {10, 20, 30});
    ASSERT_TRUE(
        sample::Write(sample::Format::Png, sample::QuadrantPicture(20, 20), temp / "three.png"));
    ASSERT_EQ(hosted.control.SetFolder(temp.Wide().c_str(), false), 3);
    ASSERT_TRUE(testing_support::WaitForThumbnails(hosted.control));

    hosted.control.SetFileTypes(L"png", false);
    EXPECT_EQ(hosted.control.GetItemCount(), 3);  // without a rescan the list stays

    hosted.control.SetFileTypes(L"png", true);
    EXPECT_EQ(hosted.control.GetItemCount(), 1);
    EXPECT_EQ(testing_support::IndexOfFile(hosted.control, L"three.png"), 0);
    ASSERT_TRUE(testing_support::WaitForThumbnails(hosted.control));
}

}  // namespace
