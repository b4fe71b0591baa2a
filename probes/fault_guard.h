// Runs a piece of work so that a structured exception escaping it (an access violation, an illegal
// instruction, a raised exception nobody handles) ends the work instead of the process.
//
// The guard is a frame-based SEH registration on the calling thread's own chain, so it sees only
// what escapes the work on this thread, after every handler inside the work (a system function's
// own __except, for instance) has had its chance. On a fault the frames between the guard and the
// fault are unwound by the C++ unwinder, which runs the destructors in them. What that asks of the
// code inside the work (fault_guard.cpp says why it works):
//   - compiled with -fexceptions -fnon-call-exceptions -fasynchronous-unwind-tables: its frames are
//     unwound from any faulting instruction and their destructors run;
//   - compiled with -fno-exceptions (and the default unwind tables): its frames are passed through,
//     their destructors do not run;
//   - compiled with -fexceptions but not -fnon-call-exceptions, or a noexcept function with
//     cleanups: a fault in it ends the process through std::terminate, as a C++ exception would;
//   - system code and other code without unwind tables: where the unwinder meets such a frame, the
//     rest is abandoned the way an __except block abandons it: the frames' own SEH unwind handlers
//     run, the destructors between them and the guard do not.
#pragma once

#include <windows.h>

// Runs work(context) on the calling thread. Returns true when the work returned normally; false
// when a structured exception escaped it, with the exception's code in *exceptionCode when that is
// not null. Either way the thread's SEH chain and stack are as they were before the call.
bool RunUnderFaultGuard(void (*work)(void* context), void* context, DWORD* exceptionCode = nullptr);
