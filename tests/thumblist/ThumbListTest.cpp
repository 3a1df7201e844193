#include "thumblist/ThumbListCtrl.h"

#include "ControlHost.h"
#include "support/BmpFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using testing_support::ControlHost;
using testing_support::Rgb;
using testing_support::TempDir;
using testing_support::WriteBmp;

TEST(ThumbList, ListsAFolderAndMakesEveryThumbnail) {
    TempDir temp;
    for (int i = 0; i < 12; ++i) {
        WriteBmp(temp / ("pic" + std::to_string(i) + ".bmp"), 60 + i * 10, 50,
                 [i](uint32_t, uint32_t) { return Rgb{uint8_t(i * 20), 100, 50}; });
    }
    ControlHost host(800, 300, {10, 10, 700, 150});
    ThumbListCtrl control;
    ThumbListParams params = ControlHost::DialogParams();
    ASSERT_NE(control.Create(host.Window(), host.Placeholder(), params, L"_thumbs", Folder), nullptr);
    EXPECT_EQ(control.SetFolder(temp.Wide().c_str(), false), 12);
    EXPECT_EQ(control.GetItemCount(), 12);
    ASSERT_TRUE(ControlHost::PumpUntil([&] { return control.PendingCount() == 0 && !control.WorkerRunning(); }));
    for (int i = 0; i < 12; ++i) {
        ThumbItem item;
        ASSERT_TRUE(control.ItemSnapshot(i, item));
        EXPECT_EQ(item.hasThumbnail, 1) << i;
    }
    EXPECT_EQ(ImageList_GetImageCount(control.ThumbImages()), 12);
}

}  // namespace
