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

  // Releases what is held (if valid) and takes `value` instead.
  void reset(T value = Policy::Invalid()) {
    T old = std::exchange(value_, value);
    if (Policy::IsValid(old)) Policy::Close(old);
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

struct Kernel {
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct Internet : NullIsInvalid<HINTERNET> {
  static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
struct HeapBlock : NullIsInvalid<void*> {
  static void Close(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};
struct Sid : NullIsInvalid<PSID> {
  static void Close(PSID sid) { FreeSid(sid); }
};
struct WtsMemory : NullIsInvalid<void*> {
  static void Close(void* p) { WTSFreeMemory(p); }
};
struct Module : NullIsInvalid<HMODULE> {
  static void Close(HMODULE m) { FreeLibrary(m); }
};
struct Icon : NullIsInvalid<HICON> {
  static void Close(HICON icon) { DestroyIcon(icon); }
};
struct Window : NullIsInvalid<HWND> {
  static void Close(HWND wnd) { DestroyWindow(wnd); }
};
struct Global : NullIsInvalid<HGLOBAL> {
  static void Close(HGLOBAL g) { GlobalFree(g); }
};
struct Menu : NullIsInvalid<HMENU> {
  static void Close(HMENU m) { DestroyMenu(m); }
};
struct LocalBlock : NullIsInvalid<HLOCAL> {
  static void Close(HLOCAL p) { LocalFree(p); }
};

}  // namespace handle_policy

using UniqueHandle = UniqueAny<HANDLE, handle_policy::Kernel>;
using UniqueInternetHandle = UniqueAny<HINTERNET, handle_policy::Internet>;
using UniqueHeapBlock = UniqueAny<void*, handle_policy::HeapBlock>;
using UniqueSid = UniqueAny<PSID, handle_policy::Sid>;
using UniqueWtsMemory = UniqueAny<void*, handle_policy::WtsMemory>;
using UniqueModule = UniqueAny<HMODULE, handle_policy::Module>;
using UniqueIcon = UniqueAny<HICON, handle_policy::Icon>;
using UniqueWindow = UniqueAny<HWND, handle_policy::Window>;
using UniqueGlobal = UniqueAny<HGLOBAL, handle_policy::Global>;
using UniqueMenu = UniqueAny<HMENU, handle_policy::Menu>;
using UniqueLocal = UniqueAny<HLOCAL, handle_policy::LocalBlock>;
