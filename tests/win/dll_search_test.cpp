// The DLL search restriction itself: every DLL the product names is loaded by full path anyway, so
// only a load by bare name shows what RestrictDllSearch changes. It is made in a child process: it
// cannot be undone in this one.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "framework/handle.h"

namespace {

// The child's output, or "" when it could not be run.
std::string RunChild() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self);
  path = path.substr(0, path.rfind('\\') + 1) + "dll_search_child.exe";
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return "";
  UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  std::string commandLine = "\"" + path + "\"";
  if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process)) {
    return "";
  }
  UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  writer.reset();
  std::string output;
  char block[256];
  DWORD read = 0;
  while (ReadFile(reader.get(), block, sizeof block, &read, nullptr) && read > 0) output.append(block, read);
  WaitForSingleObject(process.hProcess, 30000);
  return output;
}

TEST(DllSearch, ADllBesideTheProgramIsFoundBeforeTheRestrictionAndNotAfterIt) {
  EXPECT_EQ(RunChild(), "before=0 after=126\r\n") << "126: ERROR_MOD_NOT_FOUND";
}

}  // namespace
