#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "framework/handle.h"
#include "probes/fault_guard.h"
#include "tests/win/test_helpers.h"

namespace {

using win_test::EventExists;
using win_test::EventName;
using win_test::IsClosed;
using win_test::OpaqueNull;

EXCEPTION_REGISTRATION_RECORD* SehChainHead() {
  EXCEPTION_REGISTRATION_RECORD* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

// The code of the last exception the system dispatched in this process, as a vectored handler sees it
// before any frame handler. The guard promises to hand on the system's code; which code a fault gets
// is the system's business (a processor emulator may report a null write as an illegal instruction).
volatile DWORD lastDispatchedCode = 0;
LONG CALLBACK NoteDispatchedCode(EXCEPTION_POINTERS* info) {
  lastDispatchedCode = info->ExceptionRecord->ExceptionCode;
  return EXCEPTION_CONTINUE_SEARCH;
}
const struct DispatchedCodeWatch {
  DispatchedCodeWatch() : handler(AddVectoredExceptionHandler(1, NoteDispatchedCode)) {}
  ~DispatchedCodeWatch() { RemoveVectoredExceptionHandler(handler); }
  void* handler;
} dispatchedCodeWatch;

// An owner of the test's own kind that counts its releases.
int releases = 0;
struct CountingPolicy : handle_policy::NullIsInvalid<int> {
  static void Close(int) { ++releases; }
};
using CountedOwner = FaultReleased<UniqueAny<int, CountingPolicy>>;
using Event = FaultReleased<UniqueHandle>;

// What the faulting work acquired, handed out before the fault.
struct Acquired {
  HANDLE outerEvent = nullptr;
  HANDLE innerEvent = nullptr;
  void* block = nullptr;
};

__attribute__((noinline)) void AcquireMoreThenFault(Acquired& acquired) {
  Event event(CreateEventA(nullptr, TRUE, FALSE, EventName("inner").c_str()));
  acquired.innerEvent = event.get();
  CountedOwner counted(2);
  *OpaqueNull() = 1;
}

void AcquireThenFault(void* context) {
  Acquired& acquired = *static_cast<Acquired*>(context);
  Event event(CreateEventA(nullptr, TRUE, FALSE, EventName("outer").c_str()));
  acquired.outerEvent = event.get();
  FaultReleased<UniqueHeapBlock> block(UniqueHeapBlock(HeapAlloc(GetProcessHeap(), 0, 64)));
  acquired.block = block.get();
  CountedOwner counted(1);
  AcquireMoreThenFault(acquired);
}

TEST(FaultGuard, CompletedWorkReturnsTrueAndLeavesTheChainAsItWas) {
  EXCEPTION_REGISTRATION_RECORD* head = SehChainHead();
  int value = 0;
  DWORD code = 12345;
  EXPECT_TRUE(RunUnderFaultGuard([](void* context) { *static_cast<int*>(context) = 42; }, &value, &code));
  EXPECT_EQ(value, 42);
  EXPECT_EQ(code, 12345u) << "no code for completed work";
  EXPECT_EQ(SehChainHead(), head);
}

TEST(FaultGuard, AFaultUnwindsTheWorkAndReleasesWhatItHeld) {
  EXCEPTION_REGISTRATION_RECORD* head = SehChainHead();
  // Twice: the first fault must leave the thread able to take the second.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    releases = 0;
    Acquired acquired;
    DWORD handlesBefore = 0, handlesAfter = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handlesBefore));
    DWORD code = 0;
    const bool completed = RunUnderFaultGuard(AcquireThenFault, &acquired, &code);
    // Everything is observed before the first report: printing a failure may open a handle, which
    // can take the number a closed one had.
    const bool countRead = GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    const bool outerClosed = IsClosed(acquired.outerEvent), innerClosed = IsClosed(acquired.innerEvent);
    const bool outerExists = EventExists(EventName("outer")), innerExists = EventExists(EventName("inner"));
    const bool blockValid = HeapValidate(GetProcessHeap(), 0, acquired.block);
    EXPECT_FALSE(completed);
    ASSERT_TRUE(countRead);
    EXPECT_NE(code, 0u);
    EXPECT_EQ(code, lastDispatchedCode);
    ASSERT_NE(acquired.outerEvent, nullptr);
    ASSERT_NE(acquired.innerEvent, nullptr);
    EXPECT_TRUE(outerClosed);
    EXPECT_TRUE(innerClosed);
    EXPECT_FALSE(outerExists);
    EXPECT_FALSE(innerExists);
    EXPECT_FALSE(blockValid) << "heap block freed";
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(handlesAfter, handlesBefore);
    EXPECT_EQ(SehChainHead(), head);
  }
}

// Faults of several kinds, raised in the work itself, in a system function it calls, and in a
// callback a system function makes: the work's owner is released in every case.
void WriteNull(void*) {
  CountedOwner counted(1);
  *OpaqueNull() = 1;
}
void ReadNull(void* context) {
  CountedOwner counted(1);
  *static_cast<int*>(context) = *OpaqueNull();
}
void DivideByZero(void* context) {
  CountedOwner counted(1);
  volatile int zero = 0;
  *static_cast<int*>(context) = 10 / zero;
}
void RaiseContinuable(void*) {
  CountedOwner counted(1);
  RaiseException(0xE0000001, 0, 0, nullptr);
}
void RaiseNoncontinuable(void*) {
  CountedOwner counted(1);
  RaiseException(0xE0000002, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}
void FaultInSystemFunction(void*) {
  CountedOwner counted(1);
  size_t (*volatile length)(const char*) = strlen;  // the runtime DLL's, not an inline expansion
  length(reinterpret_cast<const char*>(OpaqueNull()));
}
int FaultingCompare(const void*, const void*) {
  CountedOwner counted(1);
  return *OpaqueNull();
}
void FaultInCallback(void*) {
  int numbers[] = {3, 2, 1};
  qsort(numbers, 3, sizeof numbers[0], FaultingCompare);
}

TEST(FaultGuard, CatchesEveryKindOfStructuredException) {
  struct Case {
    const char* name;
    void (*work)(void*);
    DWORD raised;  // the code of a raised exception; 0 for a fault, whose code the system picks
  };
  const Case cases[] = {
      {"write through null", WriteNull, 0},
      {"read through null", ReadNull, 0},
      {"integer division by zero", DivideByZero, 0},
      {"raised, continuable", RaiseContinuable, 0xE0000001},
      {"raised, not continuable", RaiseNoncontinuable, 0xE0000002},
      {"fault inside a system function", FaultInSystemFunction, 0},
      {"fault in a callback of a system function", FaultInCallback, 0},
  };
  EXCEPTION_REGISTRATION_RECORD* head = SehChainHead();
  for (const Case& c : cases) {
    releases = 0;
    int result = 0;
    DWORD code = 0;
    lastDispatchedCode = 0;
    EXPECT_FALSE(RunUnderFaultGuard(c.work, &result, &code)) << c.name;
    EXPECT_EQ(code, lastDispatchedCode) << c.name;
    if (c.raised != 0) {
      EXPECT_EQ(code, c.raised) << c.name;
    }
    EXPECT_EQ(releases, 1) << c.name;
    EXPECT_EQ(SehChainHead(), head) << c.name;
  }
}

// Owners made outside the guarded call, and owners left over when it returns normally, are not the
// guard's to release; a fault inside one release does not stop the others.
struct FaultingRelease : FaultCleanup {
  void ReleaseAfterFault() override {
    ++releases;
    *OpaqueNull() = 1;
  }
};

TEST(FaultGuard, ReleasesOnlyWhatTheFaultingWorkHeld) {
  releases = 0;
  CountedOwner outside(7);
  EXPECT_FALSE(RunUnderFaultGuard(WriteNull, nullptr));
  EXPECT_EQ(releases, 1) << "only the work's own owner";
  EXPECT_TRUE(outside.get() == 7);

  releases = 0;
  CountedOwner* leftOver = nullptr;
  EXPECT_TRUE(RunUnderFaultGuard([](void* context) { *static_cast<CountedOwner**>(context) = new CountedOwner(3); },
                                 &leftOver));
  EXPECT_FALSE(RunUnderFaultGuard(WriteNull, nullptr));
  EXPECT_EQ(releases, 1) << "the owner left by the earlier call is not released by this fault";
  delete leftOver;
  EXPECT_EQ(releases, 2);

  releases = 0;
  EXPECT_FALSE(RunUnderFaultGuard(
      [](void*) {
        CountedOwner first(1);
        FaultingRelease faulting;
        CountedOwner last(2);
        *OpaqueNull() = 1;
      },
      nullptr));
  EXPECT_EQ(releases, 3) << "last, the faulting one, then first";
}

TEST(FaultGuard, HandlersInsideTheWorkComeFirst) {
  // The system's own handler inside IsBadReadPtr takes its probe fault; a nested guard takes the
  // fault of its work. Neither reaches the outer guard.
  struct Seen {
    BOOL badRead = FALSE;
    bool innerCompleted = true;
    DWORD innerCode = 0;
  } seen;
  EXPECT_TRUE(RunUnderFaultGuard(
      [](void* context) {
        Seen& s = *static_cast<Seen*>(context);
        s.badRead = IsBadReadPtr(OpaqueNull(), sizeof(int));
        s.innerCompleted = RunUnderFaultGuard(WriteNull, nullptr, &s.innerCode);
      },
      &seen));
  EXPECT_TRUE(seen.badRead);
  EXPECT_FALSE(seen.innerCompleted);
  EXPECT_NE(seen.innerCode, 0u);
  EXPECT_EQ(seen.innerCode, lastDispatchedCode);
}

struct OtherThread {
  bool completed = true;
  DWORD code = 0;
};

DWORD WINAPI FaultUnderOwnGuard(void* parameter) {
  OtherThread& other = *static_cast<OtherThread*>(parameter);
  other.completed = RunUnderFaultGuard(WriteNull, nullptr, &other.code);
  return 0;
}

TEST(FaultGuard, CatchesOnlyOnItsOwnThread) {
  // While this thread's guarded work waits, another thread faults under its own guard: that guard
  // takes it, and this one sees its work complete.
  OtherThread other;
  EXPECT_TRUE(RunUnderFaultGuard(
      [](void* context) {
        Event thread(CreateThread(nullptr, 0, FaultUnderOwnGuard, context, 0, nullptr));
        WaitForSingleObject(thread.get(), INFINITE);
      },
      &other));
  EXPECT_FALSE(other.completed);
  EXPECT_NE(other.code, 0u);
  EXPECT_EQ(other.code, lastDispatchedCode);
}

TEST(FaultGuard, StructuredExceptionsStillWorkAfterAFault) {
  DWORD code = 0;
  ASSERT_FALSE(RunUnderFaultGuard(WriteNull, nullptr, &code));
  // Both rely on the system's frame-based handlers on this thread.
  EXPECT_TRUE(IsBadReadPtr(OpaqueNull(), sizeof(int)));
  EXPECT_TRUE(IsBadWritePtr(OpaqueNull(), sizeof(int)));
  EXPECT_FALSE(IsBadReadPtr(&code, sizeof code));
  code = 0;
  EXPECT_FALSE(RunUnderFaultGuard(RaiseContinuable, nullptr, &code));
  EXPECT_EQ(code, 0xE0000001u);
}

// The system calls a frame-based handler only from an image that does not declare "no SEH" and has
// no SafeSEH table (mingw's linker writes none), so the guard's handler must stay acceptable in
// both the test program and the installer.
void ExpectHandlersAllowed(const unsigned char* image, const char* name) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE) << name;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image + dos->e_lfanew);
  ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE) << name;
  EXPECT_EQ(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH, 0) << name;
  EXPECT_EQ(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG].VirtualAddress, 0u) << name;
}

TEST(FaultGuard, ProgramsLetTheSystemCallTheHandler) {
  ExpectHandlersAllowed(reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr)), "win_tests.exe");
  std::ifstream setup(SETUP_EXE_PATH, std::ios::binary);
  ASSERT_TRUE(setup) << SETUP_EXE_PATH;
  std::vector<char> headers(4096);
  setup.read(headers.data(), headers.size());
  ExpectHandlersAllowed(reinterpret_cast<const unsigned char*>(headers.data()), "setup.exe");
}

}  // namespace
