// The few pieces of the C++ runtime the program replaces. The program is built without
// exceptions, so the runtime's throwing paths can only end the process; replacing them keeps the
// runtime's exception classes, their strings and its demangler (together over 100 KB) out of the
// executable. Every one of these ends in abort(), which is also what an uncaught throw would do.
#include <windows.h>

#include <float.h>

#include <cstdlib>
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
}  // namespace std

// Allocation failure ends the process: there is nothing sensible an installer can do without
// memory, and the standard operators would throw.
void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  abort();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// The C runtime asks this about math errors; answering "not handled" leaves them to its own
// handling (errno and the default result). The library's default handler does the same after
// printing the error on the standard error stream, which a GUI program does not have.
struct _exception;
extern "C" int _matherr(_exception*) { return 0; }

// The runtime's start-up applies the "pseudo relocations" the linker makes for data imported from
// DLLs without a dllimport declaration. The installer imports no such data, so the list is empty
// and the runtime's relocator (with its section walker and messages, 3 KB) has nothing to do. Should
// a change ever make the linker emit one, the installer stops at once instead of running with it
// unapplied.
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST__[];
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST_END__[];
extern "C" void _pei386_runtime_relocator() {
  if (&__RUNTIME_PSEUDO_RELOC_LIST__[0] != &__RUNTIME_PSEUDO_RELOC_LIST_END__[0]) abort();
}

// The runtime's start-up makes this the process's last exception filter and keeps the one it
// replaced here. The runtime's own filter turns a fault into the C signal a program registered a
// handler for with signal(); the installer registers none, and with none registered that filter
// only passes the fault on to the one it replaced, as this does (0.4 KB).
extern "C" {
LPTOP_LEVEL_EXCEPTION_FILTER __mingw_oldexcpt_handler = nullptr;
}
extern "C" LONG WINAPI _gnu_exception_handler(EXCEPTION_POINTERS* pointers) {
  return __mingw_oldexcpt_handler != nullptr ? __mingw_oldexcpt_handler(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

// The runtime calls this from its TLS callbacks as threads start and end. Its own version also runs
// the destructors that its thread-key registry holds; nothing in the installer registers any, so
// what remains is the floating-point reset each new thread gets (0.6 KB). Should anything ever register a thread key,
// the registry comes along and the installer's linker script (cmake/setup-sections.ld) stops the link.
extern "C" BOOL __mingw_TLScallback(HANDLE, DWORD reason, LPVOID) {
  if (reason == DLL_THREAD_ATTACH) _fpreset();
  return TRUE;
}
