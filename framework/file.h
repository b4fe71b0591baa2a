// Files the installer writes and then uses: each is created new, and while the installer holds it
// no other process can write, rename or delete it.
#pragma once

#include <windows.h>

#include <string>

#include "framework/handle.h"

// The user's temporary directory (GetTempPathA: from the user's environment), with its trailing
// backslash. FALSE, with `directory` empty, when the system gives none or it does not fit in
// MAX_PATH (260) characters.
BOOL ReadTempDirectory(std::string& directory);

// Creates `path` new for writing, shared for reading only. Whatever had that name (a file, a hard
// link) is deleted first, never opened for writing, so nothing behind it is written. Invalid on
// failure, with the system's error code as the last error (the deletion's, when the name stays).
UniqueHandle CreateNewFile(const char* path);

// Opens `path` for reading, shared for reading only: while the owner lives nobody can write,
// rename or delete the file, and it can still be read and started. Invalid when it cannot be opened.
UniqueHandle HoldFileForReading(const char* path);

// A file object for writing the download. It takes the download's 1 KB blocks into memory and
// writes them out 64 KB at a time: a system call per block costs more than the copy. What it holds
// reaches the file with Flush, never by itself.
class CFile {
public:
  // Creates `path` new (CreateNewFile). On failure returns FALSE and sets `error` to the system's
  // error code.
  BOOL OpenForWriting(const char* path, DWORD& error);
  // Takes all `count` bytes, writing out what it holds when they do not fit. On failure returns
  // FALSE with the system's error code, or -1 when the file took fewer bytes than given; the bytes
  // not written are dropped.
  BOOL Write(const void* data, DWORD count, long& error);
  // Writes out what it holds; the same failures as Write.
  BOOL Flush(long& error);
  // Empties the file and drops what it holds; the next write goes to its first byte. On failure
  // returns FALSE with the system's error code.
  BOOL Truncate(long& error);
  // Closes the file; bytes not flushed are dropped.
  void Close() {
    m_file.reset();
    buffer_.clear();
  }
  bool IsOpen() const { return static_cast<bool>(m_file); }

private:
  BOOL WriteOut(const void* data, DWORD count, long& error);

  UniqueHandle m_file;
  std::string buffer_;  // a string: its append is in the program already, a vector's insert is not
};
