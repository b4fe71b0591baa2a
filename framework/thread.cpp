#include "framework/thread.h"

#include <process.h>

unsigned __stdcall CWinThread::Entry(void* self) {
  CWinThread* thread = static_cast<CWinThread*>(self);
  const UINT exitCode = thread->m_pfnThreadProc(thread->m_pThreadParams);
  if (thread->m_bAutoDelete) delete thread;
  return exitCode;
}

BOOL CWinThread::CreateThread(DWORD createFlags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
  // Started suspended in any case, so the handle is stored before the thread can run (and end).
  const uintptr_t handle = _beginthreadex(security, stackSize, Entry, this, CREATE_SUSPENDED, nullptr);
  if (handle == 0) return FALSE;
  m_hThread.reset(reinterpret_cast<HANDLE>(handle));
  if ((createFlags & CREATE_SUSPENDED) == 0) ResumeThread();
  return TRUE;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security) {
  CWinThread* thread = new CWinThread(proc, param);
  if (!thread->CreateThread(createFlags | CREATE_SUSPENDED, stackSize, security)) {
    delete thread;
    return nullptr;
  }
  SetThreadPriority(thread->m_hThread.get(), priority);
  if ((createFlags & CREATE_SUSPENDED) == 0) thread->ResumeThread();
  return thread;
}
