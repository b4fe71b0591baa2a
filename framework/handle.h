// Owners for the operating-system resources the program holds: one non-copyable, movable template
// with a policy per kind of resource. Whatever an owner holds is released when it goes out of scope,
// so no early return leaks and nothing is closed by hand.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <wtsapi32.h>

#include <utility>

template <typename T, typename Policy>
class UniqueAny {
public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  ~UniqueAny() { reset(); }

  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const { return value_; }
  explicit operator bool() const { return Policy::IsValid(value_); }

  // Releases what is held (if valid) and takes `value` instead. The last error stays as it was, so
  // a failed call's error survives the cleanup of what was acquired before it.
  void reset(T value = Policy::Invalid()) {
    T old = std::exchange(value_, value);
    if (!Policy::IsValid(old)) return;
    const DWORD lastError = GetLastError();
    Policy::Close(old);
    SetLastError(lastError);
  }
  // Gives up ownership without releasing; the caller owns the result.
  T release() { return std::exchange(value_, Policy::Invalid()); }
  // For out-parameters of API calls: releases what is held and returns the slot to fill.
  T* put() {
    reset();
    return &value_;
  }

private:
  T value_ = Policy::Invalid();
};

namespace handle_policy {

template <typename T>
struct NullIsInvalid {
  static T Invalid() { return T(); }
  static bool IsValid(T value) { return value != T(); }
};

// The policy of a resource whose invalid value is null and that one call releases.
template <typename T, auto CloseFunction>
struct NullOrClosedBy : NullIsInvalid<T> {
  static void Close(T value) { CloseFunction(value); }
};

// Kernel calls answer either null or INVALID_HANDLE_VALUE for "no handle".
struct Kernel {
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};

// A file search answers INVALID_HANDLE_VALUE for "no search" and is ended by FindClose.
struct FileSearch {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};

inline void FreeToProcessHeap(void* p) { HeapFree(GetProcessHeap(), 0, p); }

}  // namespace handle_policy

// An owner of what is null when absent and released by one call taking it.
template <typename T, auto CloseFunction>
using UniqueNullable = UniqueAny<T, handle_policy::NullOrClosedBy<T, CloseFunction>>;

using UniqueHandle = UniqueAny<HANDLE, handle_policy::Kernel>;
using UniqueFileSearch = UniqueAny<HANDLE, handle_policy::FileSearch>;
using UniqueInternetHandle = UniqueNullable<HINTERNET, InternetCloseHandle>;
using UniqueHeapBlock = UniqueNullable<void*, handle_policy::FreeToProcessHeap>;
using UniqueSid = UniqueNullable<PSID, FreeSid>;
using UniqueWtsMemory = UniqueNullable<void*, WTSFreeMemory>;
using UniqueModule = UniqueNullable<HMODULE, FreeLibrary>;
using UniqueIcon = UniqueNullable<HICON, DestroyIcon>;
using UniqueWindow = UniqueNullable<HWND, DestroyWindow>;
using UniqueGlobal = UniqueNullable<HGLOBAL, GlobalFree>;
using UniqueMenu = UniqueNullable<HMENU, DestroyMenu>;
using UniqueLocal = UniqueNullable<HLOCAL, LocalFree>;
using UniqueRegKey = UniqueNullable<HKEY, RegCloseKey>;
