// How a fault becomes a return from RunUnderFaultGuard, and why each step holds on Windows as well as
// under Wine (i686, GCC, which has no __try/__except):
//
// 1. RunUnderFaultGuard links a registration record that lives in its own frame onto the thread's SEH
//    chain (NT_TIB.ExceptionList). The system offers an exception to the vectored handlers first and
//    then to the chain from the innermost record outwards, so our handler runs only for what no
//    handler inside the work took, and only on this thread.
// 2. The handler runs on the dispatcher's stack, below the faulting frame: every frame of the work,
//    and every FaultReleased owner in them, is still intact there.
// 3. It does what a compiler's __except does before its block runs: RtlUnwind to our record runs the
//    unwind handlers of the SEH records above it (the dispatcher's, a system function's __finally)
//    and leaves our record at the head of the chain.
// 4. Still below the abandoned frames, it releases the owners listed with the guard, newest first.
//    Each is taken off the list before its release, so a fault inside a release comes back to this
//    handler (our record is the head) and goes on with the rest.
// 5. __builtin_longjmp resumes RunUnderFaultGuard, which unlinks its record.
#include "probes/fault_guard.h"

struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;  // first: the system hands the handler its address
  void* resume[5];                       // __builtin_setjmp buffer in RunUnderFaultGuard
  FaultCleanup* newest;                  // the owners listed with this guard
  bool faulted;
  DWORD code;

  void Add(FaultCleanup* node) {
    node->guard_ = this;
    node->older_ = newest;
    if (newest != nullptr) newest->newer_ = node;
    newest = node;
  }
  void Remove(FaultCleanup* node) {
    if (node->older_ != nullptr) node->older_->newer_ = node->newer_;
    if (node->newer_ != nullptr) node->newer_->older_ = node->older_;
    if (newest == node) newest = node->older_;
    node->guard_ = nullptr;
    node->older_ = node->newer_ = nullptr;
  }
  // After a fault: releases everything listed. On a normal return: only lets go of what is left (an
  // owner that outlives the call is no longer the guard's business).
  void Drain(bool release) {
    while (FaultCleanup* node = newest) {
      Remove(node);
      if (release) node->ReleaseAfterFault();
    }
  }
};

namespace {

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

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  GuardFrame* frame = static_cast<GuardFrame*>(establisher);
  if (!frame->faulted) {
    frame->faulted = true;
    frame->code = record->ExceptionCode;
  }
  UnwindSehChainTo(&frame->record);
  frame->Drain(true);
  __builtin_longjmp(frame->resume, 1);
}

// The innermost guard on this thread's chain, or null.
GuardFrame* InnermostGuard() {
  EXCEPTION_REGISTRATION_RECORD* record = ThreadTib()->ExceptionList;
  for (; record != nullptr && record != reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(-1); record = record->Next) {
    if (record->Handler == GuardHandler) return reinterpret_cast<GuardFrame*>(record);
  }
  return nullptr;
}

}  // namespace

FaultCleanup::FaultCleanup() {
  if (GuardFrame* guard = InnermostGuard()) guard->Add(this);
}

FaultCleanup::~FaultCleanup() {
  if (guard_ != nullptr) guard_->Remove(this);
}

bool RunUnderFaultGuard(void (*work)(void* context), void* context, DWORD* exceptionCode) {
  GuardFrame frame{};
  frame.record.Handler = GuardHandler;
  if (__builtin_setjmp(frame.resume) == 0) {
    frame.record.Next = ThreadTib()->ExceptionList;
    ThreadTib()->ExceptionList = &frame.record;
    work(context);
    frame.Drain(false);
  }
  ThreadTib()->ExceptionList = frame.record.Next;
  if (frame.faulted && exceptionCode) *exceptionCode = frame.code;
  return !frame.faulted;
}
