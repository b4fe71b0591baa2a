// How a fault becomes an unwind, and why each step holds on Windows as well as under Wine (i686,
// GCC with DWARF-2 unwind tables, which has no __try/__except):
//
// 1. RunUnderFaultGuard links a registration record that lives in its own frame onto the thread's
//    SEH chain (NT_TIB.ExceptionList). The system offers an exception to the vectored handlers
//    first and then to the chain from the innermost record outwards, so our handler runs only for
//    what no handler inside the work took, and only on this thread. (A vectored handler would also
//    see first-chance faults that system code raises and handles itself, and would need its own
//    bookkeeping of threads.)
// 2. The handler runs on the dispatcher's stack, below the faulting frame, so it cannot unwind from
//    there. For a continuable exception raised in code that has unwind tables it keeps the faulting
//    address, points the context's Eip at FaultGuardResume and returns ExceptionContinueExecution:
//    the system resumes the thread with that context (NtContinue), on the faulting stack, the
//    dispatcher gone.
// 3. FaultGuardResume saves every register of the faulting context and describes them in its unwind
//    table as a signal frame whose return address is the faulting instruction itself, as a kernel's
//    signal trampoline does on Linux. libgcc's unwinder then takes that address as a precise
//    program counter (no "return address - 1"), and -fnon-call-exceptions has put the faulting
//    instruction into the call-site table of its function.
// 4. A forced unwind (_Unwind_ForcedUnwind, the mechanism behind thread cancellation) walks up from
//    there and runs the cleanup landing pads, i.e. the destructors, of every frame. Unlike a throw
//    it needs no catch and passes through noexcept frames. Its stop function ends it at the guard's
//    own frame, or where the unwinder meets a frame it cannot walk (system code).
// 5. The end is what a compiler's __except does: RtlUnwind to our record runs the unwind handlers
//    of the SEH records still above it (the dispatcher's, a system function's __finally) and leaves
//    our record at the head of the chain; then __builtin_longjmp resumes RunUnderFaultGuard, which
//    unlinks it. An exception that cannot be continued, a stack overflow (no stack to unwind on), a
//    fault in code without unwind tables, and a fault while the guard is already unwinding take
//    this step directly from the handler.
#include "probes/fault_guard.h"

#include <unwind.h>

#include <cstdint>

extern "C" {
extern IMAGE_DOS_HEADER __ImageBase;
void FaultGuardResume();
const void* _Unwind_Find_FDE(void* pc, void* bases);
}

namespace {

struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;  // first: the system hands the handler its address
  void* resume[5];                       // __builtin_setjmp buffer in RunUnderFaultGuard
  // The guarded call's CFA: the frames of the work report a lower one.
  uintptr_t boundary;
  // Set by the first exception; one raised while it is being unwound goes straight to the guard.
  bool faulted;
  DWORD code;
  uintptr_t faultIp;
  // Here, in the guard's frame, because landing pads run on the stack below it.
  _Unwind_Exception exception;
};

// NT_TIB.Self, read directly: NtCurrentTeb's inline form trips GCC 12's -Warray-bounds.
NT_TIB* ThreadTib() {
  NT_TIB* tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}

// RtlUnwind on x86 may come back with ebx, esi and edi changed by the handlers it ran (the system's
// own callers save them around it), so this saves them itself.
void UnwindSehChainTo(EXCEPTION_REGISTRATION_RECORD* target) {
  asm volatile(
      "pushl %%ebp\n\t"
      "pushl %%ebx\n\t"
      "pushl %%esi\n\t"
      "pushl %%edi\n\t"
      "pushl $0\n\t"   // ReturnValue
      "pushl $0\n\t"   // ExceptionRecord: the system makes a STATUS_UNWIND one
      "pushl $1f\n\t"  // TargetIp: where RtlUnwind returns to anyway
      "pushl %0\n\t"   // TargetFrame
      "call _RtlUnwind@16\n"
      "1:\n\t"
      "popl %%edi\n\t"
      "popl %%esi\n\t"
      "popl %%ebx\n\t"
      "popl %%ebp"
      :
      : "r"(target)
      : "eax", "ecx", "edx", "memory", "cc");
}

[[noreturn]] __attribute__((noinline)) void ReturnToGuard(GuardFrame* frame) {
  UnwindSehChainTo(&frame->record);
  __builtin_longjmp(frame->resume, 1);
}

// Only code of this image, which is linked statically, can have unwind tables; a fault in a system
// DLL is answered without asking the unwinder, which takes a lock.
bool HasUnwindTable(uintptr_t pc) {
  MEMORY_BASIC_INFORMATION region;
  if (!VirtualQuery(reinterpret_cast<void*>(pc), &region, sizeof region) ||
      region.AllocationBase != &__ImageBase)
    return false;
  struct {
    void* tbase;
    void* dbase;
    void* func;
  } bases;
  return _Unwind_Find_FDE(reinterpret_cast<void*>(pc), &bases) != nullptr;
}

_Unwind_Reason_Code StopAtGuard(int, _Unwind_Action actions, _Unwind_Exception_Class,
                                _Unwind_Exception*, _Unwind_Context* context, void* parameter) {
  GuardFrame* frame = static_cast<GuardFrame*>(parameter);
  if ((actions & _UA_END_OF_STACK) || _Unwind_GetCFA(context) >= frame->boundary)
    ReturnToGuard(frame);
  return _URC_NO_REASON;
}

void IgnoreDeletion(_Unwind_Reason_Code, _Unwind_Exception*) {}

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                         CONTEXT* context, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  GuardFrame* frame = static_cast<GuardFrame*>(establisher);
  if (!frame->faulted) {
    frame->faulted = true;
    frame->code = record->ExceptionCode;
    if (!(record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) &&
        record->ExceptionCode != EXCEPTION_STACK_OVERFLOW && HasUnwindTable(context->Eip)) {
      frame->faultIp = context->Eip;
      context->Eip = reinterpret_cast<uintptr_t>(&FaultGuardResume);
      return ExceptionContinueExecution;
    }
  }
  ReturnToGuard(frame);
}

__attribute__((noinline)) void CallGuarded(GuardFrame* frame, void (*work)(void*), void* context) {
  frame->boundary = reinterpret_cast<uintptr_t>(__builtin_dwarf_cfa());
  work(context);
}

}  // namespace

// Entered with the faulting thread's registers, Eip aside; see step 3 above.
asm(R"(
    .text
    .p2align 4
    .globl _FaultGuardResume
_FaultGuardResume:
    .cfi_startproc
    .cfi_signal_frame
    .cfi_def_cfa %esp, 0
    subl $4, %esp
    .cfi_def_cfa_offset 4
    pushal
    .cfi_def_cfa_offset 36
    .cfi_offset %eax, -8
    .cfi_offset %ecx, -12
    .cfi_offset %edx, -16
    .cfi_offset %ebx, -20
    .cfi_offset %ebp, -28
    .cfi_offset %esi, -32
    .cfi_offset %edi, -36
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    leal 32(%ebp), %eax
    andl $-16, %esp
    subl $12, %esp
    pushl %eax
    call _FaultGuardUnwind
    ud2
    .cfi_endproc
)");

// Called by FaultGuardResume with the address of its return-address slot, still empty.
extern "C" [[noreturn]] void FaultGuardUnwind(uintptr_t* returnSlot) {
  EXCEPTION_REGISTRATION_RECORD* record = ThreadTib()->ExceptionList;
  // The guard that redirected us is the innermost: an inner one would have taken the fault first.
  while (record->Handler != GuardHandler) record = record->Next;
  GuardFrame* frame = reinterpret_cast<GuardFrame*>(record);
  *returnSlot = frame->faultIp;
  frame->exception.exception_class = 0x4641554C54475244ull;  // "FAULTGRD": not a C++ exception
  frame->exception.exception_cleanup = IgnoreDeletion;
  _Unwind_ForcedUnwind(&frame->exception, StopAtGuard, frame);
  ReturnToGuard(frame);  // the unwinder gave up before reaching the stop function's end
}

bool RunUnderFaultGuard(void (*work)(void* context), void* context, DWORD* exceptionCode) {
  GuardFrame frame{};
  frame.record.Handler = GuardHandler;
  if (__builtin_setjmp(frame.resume) == 0) {
    frame.record.Next = ThreadTib()->ExceptionList;
    ThreadTib()->ExceptionList = &frame.record;
    CallGuarded(&frame, work, context);
  }
  ThreadTib()->ExceptionList = frame.record.Next;
  if (frame.faulted && exceptionCode) *exceptionCode = frame.code;
  return !frame.faulted;
}
