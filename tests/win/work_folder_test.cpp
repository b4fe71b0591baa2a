// The working folder's descriptor, which keeps everybody but administrators out, how the folders
// of earlier runs are told from anybody else's and removed, and what a run's end leaves. Where the
// folder is made is proven end to end (tests/e2e/test_redirection.py).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <utility>

#include "app/work_folder.h"
#include "framework/handle.h"
#include "tests/win/test_helpers.h"

namespace {

// Wine 8 keeps no descriptor on a file or folder (it answers success and reads back a default made
// from the Unix mode), so the descriptor is proven as the code builds it, as text.
TEST(WorkFolder, OnlySystemAndAdministratorsMayWriteAndNothingIsInherited) {
  UniqueLocal descriptor = WorkFolderSecurity();
  ASSERT_TRUE(descriptor);
  UniqueLocal text;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      descriptor.get(), SDDL_REVISION_1,
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION,
      reinterpret_cast<LPSTR*>(text.put()), nullptr));
  // Owner Administrators (not the user, whose programs could otherwise rewrite the DACL); the
  // DACL protected ("P": the parent's entries are not inherited); full file access for SYSTEM and
  // Administrators, passed on to files ("OI") and folders ("CI") inside; no other entry.
  EXPECT_STREQ(static_cast<const char*>(text.get()), "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

// Windows reads a descriptor back in its own form ("AI" set, the entries in any order); nothing
// else passes for a working folder's.
TEST(WorkFolder, OnlyTheWorkFoldersDescriptorIsRecognised) {
  const std::pair<const char*, bool> cases[] = {
      {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
      {"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
      {"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},                    // not protected
      {"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},  // a user's
      {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", false},   // users let in
      {"O:BAD:P(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)", false},               // inherited
      {"O:BA", false},                                                      // no DACL: open to all
  };
  for (const auto& [sddl, recognised] : cases) {
    UniqueLocal descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
    EXPECT_EQ(IsWorkFolderDescriptor(descriptor.get()), recognised) << sddl;
  }
}

class WorkFolderEnd : public win_test::ScratchFolderTest {
protected:
  WorkFolderEnd() : ScratchFolderTest("work_folder_test") {}
  bool Exists(const std::string& name) const {
    return GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
};

bool AcceptAny(HANDLE) { return true; }

// A started run's end deletes what is not in use; the next run removes the rest once the package
// has ended, but no folder still held, named otherwise or (by default) not administrators-only.
TEST_F(WorkFolderEnd, WhatAStartedRunLeavesTheNextRunRemoves) {
  WorkFolder earlier, running;
  DWORD error = 0;
  ASSERT_TRUE(earlier.CreateIn(Path(""), false, error) && running.CreateIn(Path(""), false, error)) << error;
  const std::string name = earlier.Folder().substr(Path("").size());
  Write(name + "\\~setup.exe", "package");
  Write(name + "\\done.txt", "closed");
  Write(name + "\\Temp\\unpacked.dll", "unpacked");
  Write("vkinst-0123456789abcdef", "a file");
  for (const char* other : {"vkinst-0123456789abcdeg", "other", "vkinst-1111111111111111"})
    CreateDirectoryA(Path(other).c_str(), nullptr);
  // The running package: its image, and the folder as its working directory.
  UniqueHandle image(CreateFileA(Path(name + "\\~setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  UniqueHandle directory(CreateFileA(earlier.Folder().c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(image && directory);
  earlier.MarkStarted();
  earlier.Finish();
  EXPECT_FALSE(Exists(name + "\\done.txt"));
  EXPECT_TRUE(Exists(name + "\\~setup.exe") && Exists(name + "\\Temp\\unpacked.dll"));
  EXPECT_EQ(RemoveEarlierWorkFolders(Path("")), 0);
  EXPECT_EQ(RemoveEarlierWorkFolders(Path(""), AcceptAny), 1) << "only the folder no run holds";
  EXPECT_TRUE(Exists(name + "\\Temp\\unpacked.dll")) << "the package still runs";
  image.reset();
  directory.reset();
  EXPECT_EQ(RemoveEarlierWorkFolders(Path(""), AcceptAny), 1);
  EXPECT_FALSE(Exists(name));
  for (const char* kept : {"vkinst-0123456789abcdef", "vkinst-0123456789abcdeg", "other"}) EXPECT_TRUE(Exists(kept));
  EXPECT_TRUE(Exists(running.Folder().substr(Path("").size())));
}

}  // namespace
