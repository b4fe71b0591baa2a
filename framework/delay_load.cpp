// The helper that the delay-import thunks call on the first use of a delay-loaded DLL (VERSION,
// WININET and WTSAPI32 are not known DLLs: imported statically, a copy beside the executable would
// be loaded before any of our code runs). It takes the place of the runtime's helper, which loads
// by bare name and so still finds a planted copy where the search cannot be restricted: this one
// loads from the system directory by full path and from nowhere else. Linked into the installers
// as an object file, ahead of the runtime library that holds the other one.
#include <windows.h>
#include <delayimp.h>

#include "framework/app.h"
#include "framework/handle.h"
#include "framework/system_library.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
template <typename T>
T* AtRva(RVA rva) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

// A system DLL or function that is missing ends the process, as a static import would have refused
// to start it: with the application's record, and without the exception the runtime's helper
// raises (which would show a crash box even in silent mode).
[[noreturn]] void EndAfterFailure(const char* dll, const char* function, DWORD error) {
  if (CWinApp* app = AfxGetApp()) app->OnDelayLoadFailure(dll, function, error);
  ExitProcess(error);
}
}  // namespace

extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* entry) {
  auto moduleSlot = reinterpret_cast<void* volatile*>(AtRva<HMODULE>(descriptor->rvaHmod));
  auto module = static_cast<HMODULE>(InterlockedCompareExchangePointer(moduleSlot, nullptr, nullptr));
  if (module == nullptr) {
    UniqueModule loaded(LoadSystemLibrary(AtRva<const char>(descriptor->rvaDLLName)));
    if (!loaded) EndAfterFailure(AtRva<const char>(descriptor->rvaDLLName), nullptr, ERROR_MOD_NOT_FOUND);
    // Two threads may get here at once: the first module stored is kept, the other reference let go.
    void* const first = InterlockedCompareExchangePointer(moduleSlot, loaded.get(), nullptr);
    module = first != nullptr ? static_cast<HMODULE>(first) : loaded.release();
  }
  const ptrdiff_t index = entry - AtRva<FARPROC>(descriptor->rvaIAT);
  const IMAGE_THUNK_DATA& import = AtRva<IMAGE_THUNK_DATA>(descriptor->rvaINT)[index];
  const char* name = IMAGE_SNAP_BY_ORDINAL(import.u1.Ordinal)
                         ? reinterpret_cast<const char*>(IMAGE_ORDINAL(import.u1.Ordinal))
                         : reinterpret_cast<const char*>(AtRva<IMAGE_IMPORT_BY_NAME>(import.u1.AddressOfData)->Name);
  const FARPROC function = GetProcAddress(module, name);
  if (function == nullptr) {
    const char* shown = IMAGE_SNAP_BY_ORDINAL(import.u1.Ordinal) ? "(by ordinal)" : name;
    EndAfterFailure(AtRva<const char>(descriptor->rvaDLLName), shown, ERROR_PROC_NOT_FOUND);
  }
  InterlockedExchangePointer(reinterpret_cast<void* volatile*>(entry), reinterpret_cast<void*>(function));
  return function;
}
