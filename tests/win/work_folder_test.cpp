// The working folder: where it is made, the descriptor that keeps everybody but administrators out,
// and what is left of it when the run ends.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "app/work_folder.h"
#include "framework/handle.h"
#include "tests/win/test_helpers.h"

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// Wine 8 keeps no descriptor on a file or folder (it answers success and reads back a default made
// from the Unix mode), so the descriptor is proven as the code builds it, as text.
TEST(WorkFolder, OnlySystemAndAdministratorsMayWriteAndNothingIsInherited) {
  UniqueLocal descriptor = WorkFolderSecurity();
  ASSERT_TRUE(descriptor);
  UniqueLocal text;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      descriptor.get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                             DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION,
      reinterpret_cast<LPSTR*>(text.put()), nullptr));
  // Owner Administrators (not the user, whose programs could otherwise rewrite the DACL); the
  // DACL protected ("P": the parent's entries are not inherited); full file access for SYSTEM and
  // Administrators, passed on to files ("OI") and folders ("CI") inside; no other entry.
  EXPECT_STREQ(static_cast<const char*>(text.get()), "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

std::string SystemTemp() {
  char windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows) + "\\Temp\\";
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Wine runs every program with the Administrators group, as an elevated process has it.
TEST(WorkFolder, AnElevatedRunMakesAFreshFolderUnderTheSystemTemp) {
  ASSERT_TRUE(IsProcessElevated());
  WorkFolder first, second;
  DWORD error = 0;
  ASSERT_TRUE(first.Create(error)) << error;
  ASSERT_TRUE(second.Create(error)) << error;
  for (const WorkFolder* folder : {&first, &second}) {
    const std::string path = folder->Path();
    SCOPED_TRACE(path);
    const std::string parent = SystemTemp();
    ASSERT_EQ(_strnicmp(path.c_str(), parent.c_str(), parent.size()), 0);
    const std::string name = path.substr(parent.size());
    ASSERT_EQ(name.size(), 7u + 16u + 1u);
    EXPECT_EQ(name.compare(0, 7, "vkinst-"), 0);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 7), name.size() - 1);
    EXPECT_EQ(name.back(), '\\');
    EXPECT_TRUE(IsFolder(path));
  }
  EXPECT_NE(first.Path(), second.Path());
  first.Finish();
  second.Finish();
}

// The value of PendingFileRenameOperations: pairs of NUL-terminated names, as MoveFileEx writes them.
std::string PendingRenames() {
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return "";
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), kPendingRenames, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return "";
  std::string value(size, '\0');
  RegQueryValueExA(key.get(), kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(&value[0]), &size);
  value.resize(size);
  return value;
}

void RestorePendingRenames(const std::string& value) {
  UniqueRegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()), ERROR_SUCCESS);
  if (value.empty()) {
    RegDeleteValueA(key.get(), kPendingRenames);
  } else {
    RegSetValueExA(key.get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(value.data()),
                   static_cast<DWORD>(value.size()));
  }
}

// A deletion at the next restart, as MoveFileEx records it: the NT name, then an empty target.
bool MarkedForDeletion(const std::string& pending, const std::string& path) {
  return pending.find(std::string("\\??\\") + path + '\0' + '\0') != std::string::npos;
}

class WorkFolderEnd : public win_test::ScratchFolderTest {
 protected:
  WorkFolderEnd() : ScratchFolderTest("work_folder_test") {}
};

// Without a start everything goes at once, except a file that something still holds, which waits
// for the next restart with the folder; after a start everything waits (the running package holds
// its file).
TEST_F(WorkFolderEnd, WhatCannotGoNowGoesAtTheNextRestart) {
  struct Case {
    const char* what;
    bool started;
    bool fileHeld;
    bool leftUntilRestart;
  };
  const Case cases[] = {
      {"nothing started", false, false, false},
      {"nothing started, a file held", false, true, true},
      {"started", true, false, true},
  };
  const std::string before = PendingRenames();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WorkFolder folder;
    DWORD error = 0;
    ASSERT_TRUE(folder.CreateIn(Path(""), false, error)) << error;
    const std::string file = folder.FilePath("~setup.exe");
    UniqueHandle held(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(held);
    if (!c.fileHeld) held.reset();
    if (c.started) folder.MarkStarted();
    folder.Finish();
    held.reset();
    const std::string pending = PendingRenames();
    EXPECT_EQ(IsFolder(folder.Path()), c.leftUntilRestart);
    EXPECT_EQ(MarkedForDeletion(pending, file), c.leftUntilRestart);
    EXPECT_EQ(MarkedForDeletion(pending, folder.Folder()), c.leftUntilRestart);
    // Files before their folder: the folder can only go once it is empty.
    if (c.leftUntilRestart) {
      EXPECT_LT(pending.find(file + '\0'), pending.find(folder.Folder() + '\0'));
    }
    DeleteFileA(file.c_str());
    RemoveDirectoryA(folder.Folder().c_str());
    RestorePendingRenames(before);
  }
}

}  // namespace
