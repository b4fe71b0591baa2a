#include "framework/file.h"

BOOL CFile::OpenForWriting(const char* path, DWORD& error) {
  m_file.reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
  if (m_file) return TRUE;
  error = GetLastError();
  return FALSE;
}

BOOL CFile::Write(const void* data, DWORD count, long& error) {
  DWORD written = 0;
  if (!WriteFile(m_file.get(), data, count, &written, nullptr)) {
    error = static_cast<long>(GetLastError());
    return FALSE;
  }
  if (written != count) {
    error = -1;
    return FALSE;
  }
  return TRUE;
}
