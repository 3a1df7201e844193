#include "base/Handles.h"

#include <gtest/gtest.h>

namespace {

bool IsOpenHandle(HANDLE h) {
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != 0;
}

TEST(Handles, KernelHandleIsClosedOnResetAndDestruction) {
    HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(IsOpenHandle(raw));
    {
        win::UniqueHandle owner(raw);
        EXPECT_TRUE(owner);
    }
    EXPECT_FALSE(IsOpenHandle(raw));

    win::UniqueHandle owner(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE second = owner.Get();
    owner.Reset();
    EXPECT_FALSE(owner);
    EXPECT_FALSE(IsOpenHandle(second));
}

TEST(Handles, BothInvalidValuesMeanNone) {
    win::UniqueHandle fromCreateFile(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(fromCreateFile);
    win::UniqueHandle fromOpenEvent(nullptr);
    EXPECT_FALSE(fromOpenEvent);
    win::UniqueFindHandle find;
    EXPECT_FALSE(find);
}

TEST(Handles, MoveTransfersOwnershipAndReleaseGivesItUp) {
    win::UniqueHandle a(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE raw = a.Get();
    win::UniqueHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.Get(), raw);

    win::UniqueHandle c;
    c = std::move(b);
    EXPECT_EQ(c.Get(), raw);
    EXPECT_TRUE(IsOpenHandle(raw));

    HANDLE released = c.Release();
    EXPECT_FALSE(c);
    EXPECT_TRUE(IsOpenHandle(released));
    ::CloseHandle(released);
}

TEST(Handles, GdiObjectsAndDcsAreDeleted) {
    HBITMAP raw = ::CreateBitmap(4, 4, 1, 32, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        win::UniqueBitmap bitmap(raw);
        EXPECT_EQ(::GetObjectType(bitmap.Get()), static_cast<DWORD>(OBJ_BITMAP));
    }
    EXPECT_EQ(::GetObjectType(raw), 0u);

    HDC rawDc = ::CreateCompatibleDC(nullptr);
    {
        win::MemoryDc dc(rawDc);
        EXPECT_EQ(::GetObjectType(dc.Get()), static_cast<DWORD>(OBJ_MEMDC));
    }
    EXPECT_EQ(::GetObjectType(rawDc), 0u);
}

TEST(Handles, SelectObjectScopeRestoresThePreviousObject) {
    win::MemoryDc dc(::CreateCompatibleDC(nullptr));
    win::UniqueBitmap bitmap(::CreateBitmap(8, 8, 1, 32, nullptr));
    HGDIOBJ original = ::GetCurrentObject(dc.Get(), OBJ_BITMAP);
    {
        win::SelectObjectScope select(dc.Get(), bitmap.Get());
        EXPECT_TRUE(select.Selected());
        EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), bitmap.Get());
    }
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_BITMAP), original);
}

TEST(Handles, WindowDcIsReleasedToItsWindow) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    {
        win::WindowDc dc(window);
        ASSERT_TRUE(dc);
        EXPECT_EQ(dc.Window(), window);
        win::WindowDc moved(std::move(dc));
        EXPECT_FALSE(dc);
        EXPECT_TRUE(moved);
    }
    ::DestroyWindow(window);
}

TEST(Handles, ComScopeUninitialisesOnlyAfterSuccess) {
    {
        win::ComScope com;
        EXPECT_TRUE(com.Ok());
        // A second initialisation in another model fails; its scope must not uninitialise.
        win::ComScope clash(COINIT_MULTITHREADED);
        EXPECT_EQ(clash.Result(), RPC_E_CHANGED_MODE);
        EXPECT_FALSE(clash.Ok());
    }
    // Balanced: COM is off again, so the multithreaded model is now accepted.
    win::ComScope again(COINIT_MULTITHREADED);
    EXPECT_TRUE(again.Ok());
}

}  // namespace
