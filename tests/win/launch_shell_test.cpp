// What the launch hands to the shell. Wine starts an .exe without consulting any exefile verb
// unless it is given a class key, and its HKEY_CLASSES_ROOT does not show a user's exefile verb
// over the machine's as Windows' merged view does, so which command Windows would run cannot be
// watched there: what is proven is the request itself, and that its class key is the machine's,
// which a user-written verb does not reach.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

#include "app/launch.h"
#include "framework/handle.h"

namespace {

const char kUserVerb[] = "Software\\Classes\\exefile\\shell\\runas\\command";
const char kPlanted[] = "\"C:\\planted.exe\" \"%1\"";

// The registry's own name of `key` (NtQueryKey, KeyNameInformation), such as
// "\REGISTRY\MACHINE\SOFTWARE\Classes\exefile".
std::wstring KeyName(HKEY key) {
  using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<NtQueryKeyFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryKey")));
  if (query == nullptr) return L"";
  std::vector<BYTE> buffer(4096);
  ULONG size = 0;
  if (query(key, 3 /* KeyNameInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &size) != 0) return L"";
  const ULONG length = *reinterpret_cast<ULONG*>(buffer.data());
  return std::wstring(reinterpret_cast<wchar_t*>(buffer.data() + sizeof(ULONG)), length / sizeof(wchar_t));
}

std::string CommandUnder(HKEY classKey, const char* verb) {
  char value[512] = {};
  LONG size = sizeof value;
  const std::string subKey = std::string("shell\\") + verb + "\\command";
  if (RegQueryValueA(classKey, subKey.c_str(), value, &size) != ERROR_SUCCESS) return "<none>";
  return value;
}

// A user's own command for the elevating verb, as a program of the user can write it without any
// rights; removed again (only what the test made) when the test ends.
class UserWrittenVerb : public ::testing::Test {
protected:
  void SetUp() override {
    UniqueRegKey existing;
    ASSERT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\exefile", 0, KEY_READ, existing.put()),
              ERROR_SUCCESS)
        << "the prefix already has a user exefile class";
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kUserVerb, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kPlanted), sizeof kPlanted),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    for (const char* key : {kUserVerb, "Software\\Classes\\exefile\\shell\\runas", "Software\\Classes\\exefile\\shell",
                            "Software\\Classes\\exefile"}) {
      RegDeleteKeyA(HKEY_CURRENT_USER, key);
    }
  }
};

TEST_F(UserWrittenVerb, TheLaunchAsksTheShellWithTheMachinesProgramClass) {
  // verb, silent: an interactive run lets the shell say why a start failed
  for (const auto& [verb, silent] : {std::pair{"runas", true}, std::pair{"open", false}}) {
    SCOPED_TRACE(verb);
    ShellStart start;
    ASSERT_TRUE(PrepareShellStart(verb, "C:\\windows\\Temp\\vkinst-0\\~setup.exe", "/s update",
                                  "C:\\windows\\Temp\\vkinst-0\\", silent, start));
    const SHELLEXECUTEINFOA& info = start.info;
    EXPECT_EQ(info.cbSize, sizeof info);
    EXPECT_EQ(info.fMask & SEE_MASK_CLASSKEY, static_cast<ULONG>(SEE_MASK_CLASSKEY));
    EXPECT_EQ(info.fMask & SEE_MASK_NOASYNC, static_cast<ULONG>(SEE_MASK_NOASYNC));
    EXPECT_EQ(info.fMask & SEE_MASK_FLAG_NO_UI, silent ? static_cast<ULONG>(SEE_MASK_FLAG_NO_UI) : 0);
    EXPECT_STREQ(info.lpVerb, verb);
    EXPECT_STREQ(info.lpFile, "C:\\windows\\Temp\\vkinst-0\\~setup.exe");
    EXPECT_STREQ(info.lpParameters, "/s update");
    EXPECT_STREQ(info.lpDirectory, "C:\\windows\\Temp\\vkinst-0\\");
    EXPECT_EQ(info.nShow, SW_SHOW);
    EXPECT_EQ(info.hwnd, nullptr);
    ASSERT_NE(info.hkeyClass, nullptr);
    EXPECT_EQ(info.hkeyClass, start.classKey.get());
    EXPECT_EQ(_wcsicmp(KeyName(info.hkeyClass).c_str(), L"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\exefile"), 0)
        << "the machine's classes";
    EXPECT_NE(CommandUnder(info.hkeyClass, verb), kPlanted) << "the user's command is out of reach";
  }
}

}  // namespace
