#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "framework/handle.h"
#include "probes/fault_guard.h"
#include "probes/logged_on_user.h"
#include "tests/win/test_helpers.h"

namespace {

using win_test::EventExists;
using win_test::EventName;
using win_test::IsClosed;
using win_test::OpaqueNull;

struct Helper : CLoggedOnUserHelper {
  using CLoggedOnUserHelper::CheckLoggedOnUser;
  using CLoggedOnUserHelper::GetAccountSid;
  using CLoggedOnUserHelper::GetLoggedOnUserToken;
  using CLoggedOnUserHelper::GetProcessLogonSid;
  using CLoggedOnUserHelper::GetProcessToken;
  using CLoggedOnUserHelper::GetTokenInformationInternal;
  using CLoggedOnUserHelper::IsTokenAdmin;
  using CLoggedOnUserHelper::RunCheck;
};

// A process id that no process has: ids are multiples of four.
constexpr DWORD kNoSuchProcess = 0xFFFFFFF1;

UniqueHandle OwnToken(DWORD access) {
  UniqueHandle token;
  OpenProcessToken(GetCurrentProcess(), access, token.put());
  return token;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "(invalid)";
  UniqueLocal owner(text);
  return text;
}

TEST(LoggedOnUser, GetTokenInformationInternalReadsAWholeRecord) {
  UniqueHandle token = OwnToken(TOKEN_QUERY);
  ASSERT_TRUE(token);
  DWORD length = 0;
  UniqueHeapBlock block = Helper::GetTokenInformationInternal(token.get(), TokenGroups, length);
  ASSERT_TRUE(block);
  EXPECT_GT(length, sizeof(TOKEN_GROUPS));
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block.get()), static_cast<SIZE_T>(length)) << "sized by the probe";
  const auto* groups = static_cast<const TOKEN_GROUPS*>(block.get());
  ASSERT_GT(groups->GroupCount, 0u);
  EXPECT_TRUE(IsValidSid(groups->Groups[0].Sid));
  void* raw = block.get();
  block.reset();
  EXPECT_FALSE(HeapValidate(GetProcessHeap(), 0, raw)) << "the block is the process heap's, freed by its owner";
}

TEST(LoggedOnUser, GetTokenInformationInternalFailsWithoutWritingTheLength) {
  UniqueHandle noQuery = OwnToken(TOKEN_DUPLICATE);
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(noQuery);
  ASSERT_TRUE(event);
  struct Case {
    const char* name;
    HANDLE handle;
  };
  const Case cases[] = {
      {"no token", nullptr},
      {"a token opened without query access", noQuery.get()},
      {"not a token", event.get()},
  };
  for (const Case& c : cases) {
    DWORD length = 0xDEADBEEF;
    EXPECT_FALSE(Helper::GetTokenInformationInternal(c.handle, TokenGroups, length)) << c.name;
    EXPECT_EQ(length, 0xDEADBEEFu) << c.name;
  }
}

TEST(LoggedOnUser, GetProcessLogonSidOfThisProcess) {
  UniqueHeapBlock sid;
  ASSERT_TRUE(Helper::GetProcessLogonSid(GetCurrentProcessId(), sid));
  ASSERT_TRUE(sid);
  ASSERT_TRUE(IsValidSid(sid.get()));
  const std::string text = SidText(sid.get());
  // S-1-5-5-X-Y: the logon-session SIDs.
  ASSERT_EQ(text.compare(0, 8, "S-1-5-5-"), 0) << text;
  EXPECT_EQ(*GetSidSubAuthorityCount(sid.get()), 3) << text;

  // The same SID as the logon entry of the token's own group list.
  UniqueHandle token = OwnToken(TOKEN_QUERY);
  DWORD length = 0;
  UniqueHeapBlock block = Helper::GetTokenInformationInternal(token.get(), TokenGroups, length);
  ASSERT_TRUE(block);
  const auto* groups = static_cast<const TOKEN_GROUPS*>(block.get());
  bool found = false;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if ((groups->Groups[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID)
      found = found || EqualSid(groups->Groups[i].Sid, sid.get());
  }
  EXPECT_TRUE(found) << text;
}

TEST(LoggedOnUser, GetProcessLogonSidReportsAProcessItCannotOpen) {
  UniqueHeapBlock sid(HeapAlloc(GetProcessHeap(), 0, 16));
  testing::internal::CaptureStdout();
  const BOOL found = Helper::GetProcessLogonSid(kNoSuchProcess, sid);
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(found);
  EXPECT_FALSE(sid) << "the out value is emptied";
  EXPECT_EQ(output, "GetProcessLogonSid::GetProcessToken failed with error: 87\r\n");
}

TEST(LoggedOnUser, GetAccountSidOfTheSessionUserIsTheTokenUser) {
  char name[256];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetUserNameA(name, &size));
  UniqueHeapBlock sid = Helper::GetAccountSid(nullptr, name);
  ASSERT_TRUE(sid) << name;
  ASSERT_TRUE(IsValidSid(sid.get()));

  UniqueHandle token = OwnToken(TOKEN_QUERY);
  DWORD length = 0;
  UniqueHeapBlock user = Helper::GetTokenInformationInternal(token.get(), TokenUser, length);
  ASSERT_TRUE(user);
  PSID tokenUser = static_cast<const TOKEN_USER*>(user.get())->User.Sid;
  EXPECT_TRUE(EqualSid(sid.get(), tokenUser)) << SidText(sid.get()) << " vs " << SidText(tokenUser);

  EXPECT_FALSE(Helper::GetAccountSid(nullptr, "no such account, surely"));
}

TEST(LoggedOnUser, GetProcessTokenOpensTheProcessToken) {
  UniqueHandle token = Helper::GetProcessToken(GetCurrentProcessId(), TOKEN_QUERY);
  ASSERT_TRUE(token);
  TOKEN_TYPE type = TokenImpersonation;
  DWORD returned = 0;
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenType, &type, sizeof type, &returned));
  EXPECT_EQ(type, TokenPrimary);
  EXPECT_FALSE(Helper::GetProcessToken(kNoSuchProcess, TOKEN_QUERY));
}

TEST(LoggedOnUser, IsTokenAdminOnRealTokens) {
  // Wine's own token holds Administrators, enabled.
  UniqueHandle query = OwnToken(TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY);
  UniqueHandle noQuery = OwnToken(TOKEN_DUPLICATE);
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(query);
  // The same token with Administrators made deny-only, as in a filtered token.
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid administrators;
  ASSERT_TRUE(AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                       0, 0, 0, administrators.put()));
  SID_AND_ATTRIBUTES disable = {administrators.get(), 0};
  UniqueHandle filtered;
  ASSERT_TRUE(CreateRestrictedToken(query.get(), 0, 1, &disable, 0, nullptr, 0, nullptr, filtered.put()));

  struct Case {
    const char* name;
    HANDLE token;
    BOOL expected;
  };
  const Case cases[] = {
      {"null: the own token", nullptr, TRUE},
      {"the own token, passed in", query.get(), TRUE},
      {"Administrators for deny only", filtered.get(), TRUE},
      {"a token opened without query access", noQuery.get(), FALSE},
      {"not a token", event.get(), FALSE},
  };
  for (const Case& c : cases) EXPECT_EQ(Helper::IsTokenAdmin(c.token), c.expected) << c.name;
  EXPECT_FALSE(IsClosed(query.get())) << "a token passed in stays open";
}

TEST(LoggedOnUser, UnderWineTheOwnTokenDecides) {
  // Wine's window station reports no user SID, so no logged-on user's token is found and the check
  // falls back to the own token, which holds Administrators.
  EXPECT_FALSE(Helper::GetLoggedOnUserToken(TOKEN_IMPERSONATE | TOKEN_QUERY, TokenImpersonation));
  UniqueHandle userToken;
  EXPECT_TRUE(Helper::CheckLoggedOnUser(userToken));
  EXPECT_FALSE(userToken);
  EXPECT_TRUE(CLoggedOnUserHelper::IsLoggedOnUserAdmin());
}

// The user token a check under test left, handed out by the check itself.
HANDLE leftUserToken = nullptr;

BOOL CheckThatFaults(UniqueHandle& userToken) {
  userToken = OwnToken(TOKEN_QUERY);
  leftUserToken = userToken.get();
  // Held the way the check holds its handles.
  FaultReleased<UniqueHandle> event(UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, EventName("check").c_str())));
  if (!event) return TRUE;
  *OpaqueNull() = 1;
  return TRUE;
}

BOOL CheckThatAnswers(UniqueHandle& userToken) {
  userToken = OwnToken(TOKEN_QUERY);
  leftUserToken = userToken.get();
  return TRUE;
}

// The user token is looked at before the captured output is read: reading it opens handles, which
// may take the closed token's value.
TEST(LoggedOnUser, AFaultInTheCheckIsReportedAndAnswersFalse) {
  leftUserToken = nullptr;
  testing::internal::CaptureStdout();
  const BOOL answer = Helper::RunCheck(CheckThatFaults);
  const bool userTokenClosed = IsClosed(leftUserToken);
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(answer) << "TRUE also when the check could not create its event";
  EXPECT_EQ(output, "Exception occured at CLoggedOnUserHelper::IsLoggedOnUserAdmin");
  ASSERT_NE(leftUserToken, nullptr);
  EXPECT_TRUE(userTokenClosed) << "the user token";
  EXPECT_FALSE(EventExists(EventName("check"))) << "a handle held where the fault happened";
}

TEST(LoggedOnUser, TheUserTokenIsClosedAfterAnAnswer) {
  leftUserToken = nullptr;
  testing::internal::CaptureStdout();
  const BOOL answer = Helper::RunCheck(CheckThatAnswers);
  const bool userTokenClosed = IsClosed(leftUserToken);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(answer);
  ASSERT_NE(leftUserToken, nullptr);
  EXPECT_TRUE(userTokenClosed);
}

}  // namespace
