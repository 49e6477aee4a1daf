// Owning wrappers for the Win32 handles the launcher holds: one owner each,
// closed exactly once, movable, never copied.
#pragma once

#include <windows.h>
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

private:
    Handle handle_ = Traits::Invalid();
};

struct RegKeyTraits {
    using Handle = HKEY;
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not NULL.
struct FileHandleTraits {
    using Handle = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};

// Processes, threads and events: NULL on failure.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

using RegKey = OwnedHandle<RegKeyTraits>;
using FileHandle = OwnedHandle<FileHandleTraits>;
using InternetHandle = OwnedHandle<InternetHandleTraits>;
using ProcessHandle = OwnedHandle<KernelHandleTraits>;

}  // namespace kelto
