// The working folder's descriptor, which keeps everybody but administrators out, how the folders
// of earlier runs are told from anybody else's and removed, and what a run's end leaves. Where the
// folder is made is proven end to end (tests/e2e/test_redirection.py).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

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

// Windows reads a descriptor back in its own form (the DACL's "AI" flag set, the entries in any
// order); nothing else passes for a working folder's.
TEST(WorkFolder, OnlyTheWorkFoldersDescriptorIsRecognised) {
  struct Case {
    const char* sddl;
    bool recognised;
  };
  const Case cases[] = {
      {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
      {"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
      {"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},                    // not protected
      {"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},  // a user's
      {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", false},   // users let in
      {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BU)", false},
      {"O:BAD:P(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)", false},  // inherited
      {"O:BAD:P(A;OICI;FA;;;SY)(A;;FA;;;BA)", false},
      {"O:BAD:P(D;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},
      {"O:BA", false},  // no DACL: everybody may do anything
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sddl);
    UniqueLocal descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        c.sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
    EXPECT_EQ(IsWorkFolderDescriptor(descriptor.get()), c.recognised);
  }
}

class WorkFolderSweep : public win_test::ScratchFolderTest {
protected:
  WorkFolderSweep() : ScratchFolderTest("work_folder_test") {}

  void SetUp() override {
    ScratchFolderTest::SetUp();
    parent_ = Path("");
  }

  bool Exists(const std::string& name) const {
    return GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // The restart deletions queued for paths under this fixture's folder, in order.
  std::vector<std::string> QueuedHere() const {
    std::vector<std::string> queued;
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      key.put()) != ERROR_SUCCESS) {
      return queued;
    }
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
      return queued;
    std::string text(size, '\0');
    RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]),
                     &size);
    for (size_t at = 0; at < text.size();) {
      const std::string item = text.c_str() + at;
      at += item.size() + 1;
      const size_t here = item.find(parent_);
      if (here != std::string::npos) queued.push_back(item.substr(here + parent_.size()));
    }
    return queued;
  }

  std::string parent_;
};

bool AcceptAny(HANDLE) { return true; }

// Folders of earlier runs go with everything in them; an entry not named as a run names its
// folder, a file of such a name, and a folder that a run still holds stay.
TEST_F(WorkFolderSweep, RemovesOnlyFoldersOfFinishedRunsAndEverythingInThem) {
  const std::string earlier = "vkinst-0123456789abcdef";
  for (const std::string& folder :
       {earlier, earlier + "\\Temp", earlier + "\\Temp\\nested", std::string("vkinst-0123456789abcdeg"),
        std::string("vkinst-0123"), std::string("other")}) {
    ASSERT_TRUE(CreateDirectoryA(Path(folder).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  Write(earlier + "\\~setup.exe", "package");
  Write(earlier + "\\Temp\\nested\\unpacked.dll", "unpacked");
  Write("vkinst-fedcba9876543210", "a file, not a folder");
  WorkFolder running;
  DWORD error = 0;
  ASSERT_TRUE(running.CreateIn(parent_, false, error)) << error;
  const std::string runningName = running.Folder().substr(parent_.size());

  EXPECT_EQ(RemoveEarlierWorkFolders(parent_, AcceptAny), 1);
  EXPECT_FALSE(Exists(earlier));
  for (const std::string& kept :
       {std::string("vkinst-0123456789abcdeg"), std::string("vkinst-0123"), std::string("other"),
        std::string("vkinst-fedcba9876543210"), runningName, runningName + "\\Temp"}) {
    EXPECT_TRUE(Exists(kept)) << kept;
  }

  // Without the administrators-only descriptor a folder is nobody's to remove.
  running.Finish();
  ASSERT_TRUE(CreateDirectoryA(Path(earlier).c_str(), nullptr));
  EXPECT_EQ(RemoveEarlierWorkFolders(parent_), 0);
  EXPECT_TRUE(Exists(earlier));
  RemoveDirectoryA(Path(earlier).c_str());
  for (const char* folder : {"vkinst-0123456789abcdeg", "vkinst-0123", "other"}) RemoveDirectoryA(Path(folder).c_str());
  DeleteFileA(Path("vkinst-fedcba9876543210").c_str());
}

// After a start, what the package holds and the folders it still uses wait for the restart; what
// can go now goes. Without a start everything goes and nothing waits.
TEST_F(WorkFolderSweep, AStartedRunLeavesOnlyWhatIsStillInUse) {
  for (const bool started : {true, false}) {
    SCOPED_TRACE(started ? "started" : "not started");
    WorkFolder folder;
    DWORD error = 0;
    ASSERT_TRUE(folder.CreateIn(parent_, false, error)) << error;
    const std::string name = folder.Folder().substr(parent_.size());
    Write(name + "\\~setup.exe", "package");
    Write(name + "\\done.txt", "closed");
    Write(name + "\\Temp\\unpacked.dll", "unpacked");
    // The running package's image: nobody may delete it while it runs.
    UniqueHandle running(CreateFileA(Path(name + "\\~setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(running);
    if (started) folder.MarkStarted();
    const size_t queuedBefore = QueuedHere().size();
    folder.Finish();
    EXPECT_FALSE(Exists(name + "\\done.txt"));
    EXPECT_TRUE(Exists(name + "\\~setup.exe"));
    EXPECT_EQ(Exists(name + "\\Temp\\unpacked.dll"), started);
    const std::vector<std::string> queued = QueuedHere();
    const std::vector<std::string> expected =
        started ? std::vector<std::string>{name + "\\~setup.exe", name + "\\Temp", name}
                : std::vector<std::string>{name + "\\~setup.exe", name};
    ASSERT_GE(queued.size(), queuedBefore);
    std::vector<std::string> added(queued.begin() + static_cast<std::ptrdiff_t>(queuedBefore), queued.end());
    std::sort(added.begin(), added.end());
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(added, sorted);
    running.reset();
    EXPECT_EQ(RemoveEarlierWorkFolders(parent_, AcceptAny), 1) << "the next run takes what is left";
    EXPECT_FALSE(Exists(name));
  }
}

}  // namespace
