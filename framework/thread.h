// Worker threads in the framework's manner.
#pragma once

#include <windows.h>

#include "framework/handle.h"

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread {
public:
  CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  // Starts the thread (suspended when `createFlags` holds CREATE_SUSPENDED); FALSE on failure.
  BOOL CreateThread(DWORD createFlags, UINT stackSize, LPSECURITY_ATTRIBUTES security);
  DWORD ResumeThread() const { return ::ResumeThread(m_hThread.get()); }

  UniqueHandle m_hThread;
  // When set, the object deletes itself as the thread ends; then nobody else may delete it or use
  // it once the thread may have ended.
  BOOL m_bAutoDelete = TRUE;

private:
  static unsigned __stdcall Entry(void* self);
  AFX_THREADPROC m_pfnThreadProc;
  LPVOID m_pThreadParams;
};

// Creates and starts a worker thread running proc(param); null when it cannot be started.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);
