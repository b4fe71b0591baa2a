#include "framework/file.h"

namespace {
constexpr size_t kWriteBufferSize = 65536;
}  // namespace

BOOL ReadTempDirectory(std::string& directory) {
  char buffer[MAX_PATH] = {};
  // Too small a buffer gives the size it would need, more than the buffer holds.
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) {
    directory.clear();
    return FALSE;
  }
  directory.assign(buffer, length);
  return TRUE;
}

UniqueHandle CreateNewFile(const char* path) {
  if (!DeleteFileA(path)) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return UniqueHandle();
  }
  // CREATE_NEW: a name that another process took again since the deletion fails the call.
  return UniqueHandle(
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

UniqueHandle HoldFileForReading(const char* path) {
  return UniqueHandle(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

BOOL CFile::OpenForWriting(const char* path, DWORD& error) {
  buffer_.clear();
  buffer_.reserve(kWriteBufferSize);
  m_file = CreateNewFile(path);
  if (m_file) return TRUE;
  error = GetLastError();
  return FALSE;
}

BOOL CFile::Write(const void* data, DWORD count, long& error) {
  if (buffer_.size() + count > kWriteBufferSize && !Flush(error)) return FALSE;
  if (count >= kWriteBufferSize) return WriteOut(data, count, error);
  buffer_.append(static_cast<const char*>(data), count);
  return TRUE;
}

BOOL CFile::Flush(long& error) {
  if (buffer_.empty()) return TRUE;
  const BOOL written = WriteOut(buffer_.data(), static_cast<DWORD>(buffer_.size()), error);
  buffer_.clear();
  return written;
}

BOOL CFile::WriteOut(const void* data, DWORD count, long& error) {
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

BOOL CFile::Truncate(long& error) {
  buffer_.clear();
  if (SetFilePointer(m_file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(m_file.get())) {
    error = static_cast<long>(GetLastError());
    return FALSE;
  }
  return TRUE;
}
