#pragma once
// Owning wrappers for Win32 handles: one move-only template, one traits struct per kind.
// Non-owning window handles stay plain HWNDs; these types own what they hold.

#include "base/Win.h"

#include <objbase.h>

#include <utility>

namespace win {

template <class Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;

    Unique() noexcept = default;
    explicit Unique(Handle handle) noexcept : handle_(handle) {}
    ~Unique() { Reset(); }

    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : handle_(other.Release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Handle Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::IsValid(handle_); }

    // Gives up ownership without closing.
    Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    void Reset(Handle handle = Traits::Invalid()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (Traits::IsValid(old)) Traits::Close(old);
    }

    // For APIs that return a handle through an out-parameter; closes what was held.
    Handle* Put() noexcept {
        Reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::Invalid();
};

// Kernel objects: both null and INVALID_HANDLE_VALUE mean "none", depending on the API.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

template <class T>
struct GdiObjectTraits {
    using Handle = T;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::DeleteDC(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::FreeLibrary(h); }
};

struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::DestroyIcon(h); }
};

using UniqueHandle = Unique<KernelHandleTraits>;
using UniqueFindHandle = Unique<FindHandleTraits>;
using UniqueBitmap = Unique<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = Unique<GdiObjectTraits<HBRUSH>>;
using UniqueFont = Unique<GdiObjectTraits<HFONT>>;
using UniquePen = Unique<GdiObjectTraits<HPEN>>;
using UniqueRegion = Unique<GdiObjectTraits<HRGN>>;
using MemoryDc = Unique<MemoryDcTraits>;
using UniqueKey = Unique<RegKeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueIcon = Unique<IconTraits>;

// A window's device context from GetDC, released to the same window.
class WindowDc {
public:
    WindowDc() noexcept = default;
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() { Reset(); }

    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    WindowDc(WindowDc&& other) noexcept
        : window_(std::exchange(other.window_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc& operator=(WindowDc&& other) noexcept {
        if (this != &other) {
            Reset();
            window_ = std::exchange(other.window_, nullptr);
            dc_ = std::exchange(other.dc_, nullptr);
        }
        return *this;
    }

    HDC Get() const noexcept { return dc_; }
    HWND Window() const noexcept { return window_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

    void Reset() noexcept {
        if (dc_) ::ReleaseDC(window_, dc_);
        dc_ = nullptr;
        window_ = nullptr;
    }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

// Selects an object into a DC and puts the previous one back at scope exit.
class SelectObjectScope {
public:
    SelectObjectScope(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(object ? ::SelectObject(dc, object) : nullptr) {}
    ~SelectObjectScope() {
        if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    SelectObjectScope(const SelectObjectScope&) = delete;
    SelectObjectScope& operator=(const SelectObjectScope&) = delete;

    // False when the selection failed (the object was not selected).
    bool Selected() const noexcept { return previous_ && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// COM for the current thread; uninitialises only after a successful initialisation.
class ComScope {
public:
    explicit ComScope(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : hr_(::CoInitializeEx(nullptr, model)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    bool Ok() const noexcept { return SUCCEEDED(hr_); }
    HRESULT Result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace win
