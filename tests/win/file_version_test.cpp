#include <gtest/gtest.h>

#include <windows.h>

#include "util/file_version.h"

namespace {

TEST(FileVersion, ReadsTheInstallersProductVersion) { EXPECT_EQ(GetFileVersionString(SETUP_EXE_PATH), "6.10.18.01"); }

TEST(FileVersion, ZeroWithoutVersionInformation) {
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
  const std::string plain = std::string(temp) + "no-version-block.txt";
  HANDLE file = CreateFileA(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "MZ text", 7, &written, nullptr);
  CloseHandle(file);
  EXPECT_EQ(GetFileVersionString(plain.c_str()), "0");
  DeleteFileA(plain.c_str());
  EXPECT_EQ(GetFileVersionString("C:\\does\\not\\exist.exe"), "0");
}

}  // namespace
