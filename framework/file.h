// A file object for writing the download: created (or truncated) for writing, others may read.
#pragma once

#include <windows.h>

#include "framework/handle.h"

class CFile {
public:
  // Creates or truncates `path` for write access; other openers may read but not write. On failure
  // returns FALSE and sets `error` to the system's error code.
  BOOL OpenForWriting(const char* path, DWORD& error);
  // Writes all `count` bytes. On failure returns FALSE with the system's error code, or -1 when the
  // file took fewer bytes than given.
  BOOL Write(const void* data, DWORD count, long& error);
  void Close() { m_file.reset(); }
  bool IsOpen() const { return static_cast<bool>(m_file); }

private:
  UniqueHandle m_file;
};
