// Owning wrappers for the Win32 handles the launcher holds, and for what it
// takes for a while and must give back (a window's DC, a selection, a paint
// cycle): one owner each, closed exactly once, movable, never copied. One
// template; a trait per kind of handle says what its invalid value is and
// how it is closed.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <wininet.h>

#include <utility>

namespace kelto {

template <typename Traits>
class OwnedHandle {
public:
    using Handle = typename Traits::Handle;

    OwnedHandle() = default;
    explicit OwnedHandle(Handle h) : handle_(h) {}
    ~OwnedHandle() { Close(); }

    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.Release();
        }
        return *this;
    }

    bool IsValid() const { return Traits::IsValid(handle_); }
    Handle Get() const { return handle_; }
    [[nodiscard]] Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Close() {
        if (IsValid()) {
            Traits::Close(handle_);
        }
        handle_ = Traits::Invalid();
    }
    // For an out-parameter: closes what is held and gives the address that
    // receives the new handle. The calls it is passed to write there only
    // on success; after a failure this holds the invalid value.
    Handle* Put() {
        Close();
        return &handle_;
    }

private:
    Handle handle_ = Traits::Invalid();
};

// The many kinds whose failure value is NULL; each trait adds its Close.
template <typename T>
struct NullInvalidTraits {
    using Handle = T;
    static T Invalid() { return nullptr; }
    static bool IsValid(T h) { return h != nullptr; }
};

struct RegKeyTraits : NullInvalidTraits<HKEY> {
    static void Close(HKEY h) { RegCloseKey(h); }
};

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not NULL.
struct FileHandleTraits {
    using Handle = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

// FindFirstFile*: INVALID_HANDLE_VALUE on failure, closed by FindClose.
struct FindHandleTraits : FileHandleTraits {
    static void Close(HANDLE h) { FindClose(h); }
};

struct InternetHandleTraits : NullInvalidTraits<HINTERNET> {
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};

// Processes, threads, tokens, jobs, events and mutexes: NULL on failure.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

// Memory that an API allocated with LocalAlloc for its caller (security
// descriptors, FormatMessage's text), typed as the API hands it out.
template <typename T>
struct LocalMemoryTraits : NullInvalidTraits<T> {
    static void Close(T h) { LocalFree(h); }
};

struct BcryptAlgorithmTraits : NullInvalidTraits<BCRYPT_ALG_HANDLE> {
    static void Close(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptHashTraits : NullInvalidTraits<BCRYPT_HASH_HANDLE> {
    static void Close(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
};

struct BcryptKeyTraits : NullInvalidTraits<BCRYPT_KEY_HANDLE> {
    static void Close(BCRYPT_KEY_HANDLE h) { BCryptDestroyKey(h); }
};

// The environment block GetEnvironmentStringsW hands out.
struct EnvironmentBlockTraits : NullInvalidTraits<wchar_t*> {
    static void Close(wchar_t* h) { FreeEnvironmentStringsW(h); }
};

// GDI objects the program made (fonts, bitmaps, brushes).
template <typename T>
struct GdiObjectTraits : NullInvalidTraits<T> {
    static void Close(T h) { DeleteObject(h); }
};

// A DC from CreateCompatibleDC; one from GetDC goes back by ReleaseDC.
struct MemoryDcTraits : NullInvalidTraits<HDC> {
    static void Close(HDC h) { DeleteDC(h); }
};

// Windows the program made. A window may also go without its owner (its own
// close, the end of the window that owns it): the record that holds it then
// lets go of it at WM_NCDESTROY, so that it is never destroyed twice.
struct WindowTraits : NullInvalidTraits<HWND> {
    static void Close(HWND h) { DestroyWindow(h); }
};

// A window's DC from GetDC, given back by ReleaseDC.
struct WindowDcTraits {
    struct Handle {
        HWND window = nullptr;
        HDC dc = nullptr;
    };
    static Handle Invalid() { return {}; }
    static bool IsValid(const Handle& h) { return h.dc != nullptr; }
    static void Close(const Handle& h) { ReleaseDC(h.window, h.dc); }
};

// An object selected into a DC: closing selects back the one it replaced.
struct GdiSelectionTraits {
    struct Handle {
        HDC dc = nullptr;
        HGDIOBJ previous = nullptr;
    };
    static Handle Invalid() { return {}; }
    static bool IsValid(const Handle& h) { return h.previous != nullptr; }
    static void Close(const Handle& h) { SelectObject(h.dc, h.previous); }
};

// A DC's state saved by SaveDC: closing restores it.
struct SavedDcStateTraits {
    struct Handle {
        HDC dc = nullptr;
        int saved = 0;
    };
    static Handle Invalid() { return {}; }
    static bool IsValid(const Handle& h) { return h.saved != 0; }
    static void Close(const Handle& h) { RestoreDC(h.dc, h.saved); }
};

// A paint cycle: BeginPaint's record for its window, closed by EndPaint.
// Every BeginPaint has its EndPaint, also one that gave no DC.
struct PaintCycleTraits {
    struct Handle {
        HWND window = nullptr;
        PAINTSTRUCT paint{};
    };
    static Handle Invalid() { return {}; }
    static bool IsValid(const Handle& h) { return h.window != nullptr; }
    static void Close(const Handle& h) { EndPaint(h.window, &h.paint); }
};

using RegKey = OwnedHandle<RegKeyTraits>;
using FileHandle = OwnedHandle<FileHandleTraits>;
using FindHandle = OwnedHandle<FindHandleTraits>;
using InternetHandle = OwnedHandle<InternetHandleTraits>;
using ProcessHandle = OwnedHandle<KernelHandleTraits>;
using ThreadHandle = OwnedHandle<KernelHandleTraits>;
using TokenHandle = OwnedHandle<KernelHandleTraits>;
using JobHandle = OwnedHandle<KernelHandleTraits>;
using EventHandle = OwnedHandle<KernelHandleTraits>;
using MutexHandle = OwnedHandle<KernelHandleTraits>;
using EnvironmentBlock = OwnedHandle<EnvironmentBlockTraits>;
template <typename T>
using LocalMemory = OwnedHandle<LocalMemoryTraits<T>>;
using BcryptAlgorithm = OwnedHandle<BcryptAlgorithmTraits>;
using BcryptHash = OwnedHandle<BcryptHashTraits>;
using BcryptKey = OwnedHandle<BcryptKeyTraits>;
using GdiFont = OwnedHandle<GdiObjectTraits<HFONT>>;
using GdiBitmap = OwnedHandle<GdiObjectTraits<HBITMAP>>;
using MemoryDc = OwnedHandle<MemoryDcTraits>;
using WindowHandle = OwnedHandle<WindowTraits>;
using WindowDc = OwnedHandle<WindowDcTraits>;
using GdiSelection = OwnedHandle<GdiSelectionTraits>;
using SavedDcState = OwnedHandle<SavedDcStateTraits>;
using PaintCycle = OwnedHandle<PaintCycleTraits>;

// GetDC(window); holds nothing when the window has no DC to give.
inline WindowDc GetWindowDc(HWND window) {
    return WindowDc(WindowDcTraits::Handle{window, GetDC(window)});
}

// Selects object into dc; holds nothing when the selection failed.
inline GdiSelection SelectIntoDc(HDC dc, HGDIOBJ object) {
    return GdiSelection(GdiSelectionTraits::Handle{dc, SelectObject(dc, object)});
}

// SaveDC(dc); holds nothing when the state could not be saved.
inline SavedDcState SaveDcState(HDC dc) {
    return SavedDcState(SavedDcStateTraits::Handle{dc, SaveDC(dc)});
}

// BeginPaint(window); the DC to paint with is Get().paint.hdc, null when
// the platform gave none.
inline PaintCycle BeginPaintCycle(HWND window) {
    PaintCycleTraits::Handle cycle{window, {}};
    BeginPaint(window, &cycle.paint);
    return PaintCycle(cycle);
}

}  // namespace kelto
