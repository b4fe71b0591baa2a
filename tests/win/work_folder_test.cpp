// The working folder's descriptor, which keeps everybody but administrators out. Where the folder
// is made and what its end leaves are proven end to end (tests/e2e/test_redirection.py).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "app/work_folder.h"
#include "framework/handle.h"

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

}  // namespace
