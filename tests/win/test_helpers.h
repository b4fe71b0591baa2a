// Helpers that several Win32 test files share: a scratch folder for a fixture's files, proofs that
// handles were closed, and a null pointer a fault test can write through.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "framework/handle.h"

namespace win_test {

// A fixture whose files live in a folder of its own under %TEMP%, named by the derived fixture.
class ScratchFolderTest : public ::testing::Test {
protected:
  explicit ScratchFolderTest(const char* folder) : folder_(folder) {}

  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    dir_ = std::string(temp) + folder_ + "\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
  }

  std::string Path(const std::string& name) const { return dir_ + name; }

  // Writes `bytes` as the whole file `name`, replacing what was there.
  void Write(const std::string& name, const std::string& bytes) const {
    UniqueHandle file(
        CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << name << " error " << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }

private:
  const char* folder_;
  std::string dir_;
};

inline bool IsClosed(HANDLE handle) {
  DWORD flags = 0;
  SetLastError(0);
  return !GetHandleInformation(handle, &flags) && GetLastError() == ERROR_INVALID_HANDLE;
}

// A named event lives as long as a handle to it is open, so its name tells whether the handles were
// closed even when their values have been given out again.
inline std::string EventName(const char* purpose) {
  return "Local\\win_tests." + std::to_string(GetCurrentProcessId()) + "." + purpose;
}
inline bool EventExists(const std::string& name) {
  UniqueHandle event(OpenEventA(SYNCHRONIZE, FALSE, name.c_str()));
  return static_cast<bool>(event);
}

// A null pointer the compiler cannot see through, so the faulting access stays in the code.
inline int* OpaqueNull() {
  int* p;
  asm volatile("" : "=r"(p) : "0"(static_cast<int*>(nullptr)));
  return p;
}

}  // namespace win_test
