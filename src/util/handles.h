// Small owners for system handles: each closes its handle when it goes out
// of scope, so an early return cannot leak one.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <utility>

template <typename H, typename Closer, H Invalid>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        reset(std::exchange(o.h_, Invalid));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    H get() const { return h_; }
    H* out() {  // for APIs that hand back a new handle
        reset();
        return &h_;
    }
    H release() { return std::exchange(h_, Invalid); }
    void reset(H h = Invalid) {
        if (h_ != Invalid) Closer()(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != Invalid; }

private:
    H h_ = Invalid;
};

struct MsiCloser { void operator()(MSIHANDLE h) const { MsiCloseHandle(h); } };
struct FileCloser { void operator()(FILE* f) const { fclose(f); } };
struct RegCloser { void operator()(HKEY k) const { RegCloseKey(k); } };
struct LocalCloser { void operator()(void* p) const { LocalFree(p); } };

using MsiHandle = UniqueHandle<MSIHANDLE, MsiCloser, 0>;
using FileStream = UniqueHandle<FILE*, FileCloser, nullptr>;
using RegKey = UniqueHandle<HKEY, RegCloser, nullptr>;
// What the system allocated for the caller with LocalAlloc (security
// descriptors, SID texts).
template <typename T>
using LocalMemory = UniqueHandle<T*, LocalCloser, nullptr>;

// Kernel handles use INVALID_HANDLE_VALUE or null as "none" depending on the API.
class KernelHandle {
public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE h) : h_(h) {}
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    KernelHandle(KernelHandle&& o) noexcept : h_(o.release()) {}
    KernelHandle& operator=(KernelHandle&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~KernelHandle() { reset(); }
    HANDLE get() const { return h_; }
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) CloseHandle(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// An export looked up by name, as the function type F; null when absent.
template <typename F> F ProcAddress(HMODULE module, const char* name) {
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// A directory listing; FindFirstFileW fills the first entry.
class FindHandle {
public:
    FindHandle(const wchar_t* pattern, WIN32_FIND_DATAW* data) : h_(FindFirstFileW(pattern, data)) {}
    ~FindHandle() {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAW* data) { return FindNextFileW(h_, data) != 0; }

private:
    HANDLE h_;
};
