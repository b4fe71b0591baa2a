// Every owner inside the check is a FaultReleased one: a fault anywhere in it releases what they hold
// before the guard answers (probes/fault_guard.cpp).
#include "probes/logged_on_user.h"

#include <wtsapi32.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "framework/format.h"
#include "probes/fault_guard.h"
#include "probes/group_walk.h"
#include "probes/version_probes.h"

namespace {

using Handle = FaultReleased<UniqueHandle>;
using HeapBlock = FaultReleased<UniqueHeapBlock>;
using Sid = FaultReleased<UniqueSid>;
using WtsMemory = FaultReleased<UniqueWtsMemory>;

constexpr char kFaultMessage[] = "Exception occured at CLoggedOnUserHelper::IsLoggedOnUserAdmin";

std::string_view SidBytes(PSID sid) { return std::string_view(static_cast<const char*>(sid), GetLengthSid(sid)); }

}  // namespace

BOOL CLoggedOnUserHelper::IsLoggedOnUserAdmin() { return RunCheck(CheckLoggedOnUser); }

BOOL CLoggedOnUserHelper::RunCheck(BOOL (*check)(UniqueHandle& userToken)) {
  struct Run {
    BOOL (*check)(UniqueHandle&);
    // Outside the guarded call: closed here whether or not the check faulted.
    UniqueHandle userToken;
    BOOL answer;
  } run{check, UniqueHandle(), FALSE};
  auto work = [](void* context) {
    Run* r = static_cast<Run*>(context);
    r->answer = r->check(r->userToken);
  };
  if (!RunUnderFaultGuard(work, &run)) {
    OutputDebugStringA(kFaultMessage);
    fputs(kFaultMessage, stdout);
    run.answer = FALSE;
  }
  return run.answer;
}

BOOL CLoggedOnUserHelper::CheckLoggedOnUser(UniqueHandle& userToken) {
  if (IsVistaOrLater()) {
    userToken = GetLoggedOnUserToken(TOKEN_IMPERSONATE | TOKEN_QUERY, TokenImpersonation);
    return IsTokenAdmin(userToken.get());
  }
  return IsTokenAdmin(nullptr);
}

BOOL CLoggedOnUserHelper::IsTokenAdmin(HANDLE token) {
  Handle ownToken;
  if (!token) {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, ownToken.put())) return FALSE;
    token = ownToken.get();
  }
  // A group list that needs more than this buffer answers FALSE.
  alignas(TOKEN_GROUPS) BYTE buffer[4096];
  ZeroMemory(buffer, sizeof buffer);
  DWORD returned = 0;
  if (!GetTokenInformation(token, TokenGroups, buffer, sizeof buffer, &returned)) return FALSE;

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  Sid administrators;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                administrators.put()))
    return FALSE;

  // No heap for the list: a fault would leave it allocated. The buffer holds at most this many.
  const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer);
  constexpr size_t kMaxGroups = (sizeof buffer - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES);
  TokenGroupEntry entries[kMaxGroups];
  const size_t count = groups->GroupCount < kMaxGroups ? groups->GroupCount : kMaxGroups;
  for (size_t i = 0; i < count; ++i)
    entries[i] = {SidBytes(groups->Groups[i].Sid), static_cast<uint32_t>(groups->Groups[i].Attributes)};
  return HasGroup(entries, count, SidBytes(administrators.get()));
}

UniqueHandle CLoggedOnUserHelper::GetLoggedOnUserToken(DWORD desiredAccess, TOKEN_TYPE tokenType) {
  HWINSTA station = GetProcessWindowStation();  // the process's own handle: not closed
  DWORD needed = 0;
  GetUserObjectInformationA(station, UOI_USER_SID, nullptr, 0, &needed);
  if (needed == 0) return UniqueHandle();
  // The station's SID is the logon SID of the interactive logon session.
  HeapBlock stationSid(HeapAlloc(GetProcessHeap(), 0, needed));
  if (!stationSid || !GetUserObjectInformationA(station, UOI_USER_SID, stationSid.get(), needed, &needed))
    return UniqueHandle();

  DWORD bytes = 0;
  LPSTR text = nullptr;
  BOOL ok = WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName, &text, &bytes);
  WtsMemory userName(text);
  if (!ok) return UniqueHandle();
  text = nullptr;
  ok = WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSDomainName, &text, &bytes);
  WtsMemory domainName(text);
  if (!ok) return UniqueHandle();

  HeapBlock accountSid =
      GetAccountSid(static_cast<const char*>(domainName.get()), static_cast<const char*>(userName.get()));
  if (!accountSid) return UniqueHandle();

  Handle found = FindUserProcessToken(accountSid.get(), stationSid.get());
  // Not tested: with no token found, or a failed duplication, the result stays empty.
  Handle result;
  DuplicateTokenEx(found.get(), desiredAccess, nullptr, SecurityImpersonation, tokenType, result.put());
  return result.Take();
}

UniqueHandle CLoggedOnUserHelper::FindUserProcessToken(PSID userSid, PSID logonSid) {
  WTS_PROCESS_INFOA* processes = nullptr;
  DWORD count = 0;
  // Not tested: a failed enumeration leaves the list empty.
  WTSEnumerateProcessesA(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count);
  WtsMemory list(processes);
  if (!processes) count = 0;

  for (DWORD i = 0; i < count; ++i) {
    const WTS_PROCESS_INFOA& process = processes[i];
    if (!process.pUserSid) continue;
    // Fetched before the users are compared, so it runs (and may report) for every process with a
    // user.
    UniqueHeapBlock logonSidBlock;
    const BOOL gotLogonSid = GetProcessLogonSid(process.ProcessId, logonSidBlock);
    HeapBlock processLogonSid(std::move(logonSidBlock));
    if (!gotLogonSid) continue;
    if (!EqualSid(userSid, process.pUserSid)) continue;
    if (!EqualSid(logonSid, processLogonSid.get())) continue;
    Handle token = GetProcessToken(process.ProcessId, TOKEN_DUPLICATE | TOKEN_QUERY);
    if (token) return token.Take();
  }
  return UniqueHandle();
}

UniqueHeapBlock CLoggedOnUserHelper::GetAccountSid(const char* systemName, const char* accountName) {
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  // Not tested: the sizes tell.
  LookupAccountNameA(systemName, accountName, nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0) return UniqueHeapBlock();
  HeapBlock sid(HeapAlloc(GetProcessHeap(), 0, sidSize));
  if (!sid) return UniqueHeapBlock();
  // The domain name is not used, but the lookup wants room for it.
  char* domain = static_cast<char*>(__builtin_alloca((domainSize + 3) & ~DWORD(3)));
  if (!LookupAccountNameA(systemName, accountName, sid.get(), &sidSize, domain, &domainSize, &use))
    return UniqueHeapBlock();
  return sid.Take();
}

BOOL CLoggedOnUserHelper::GetProcessLogonSid(DWORD processId, UniqueHeapBlock& logonSid) {
  logonSid.reset();
  Handle token = GetProcessToken(processId, TOKEN_QUERY);
  if (!token) {
    fputs(FormatText("GetProcessLogonSid::GetProcessToken failed with error: %u\r\n",
                     static_cast<unsigned>(GetLastError()))
              .c_str(),
          stdout);
    return FALSE;
  }
  DWORD length = 0;
  HeapBlock groups = GetTokenInformationInternal(token.get(), TokenLogonSid, length);
  if (!groups) {
    fputs(FormatText("GetProcessLogonSid::GetTokenInformationInternal failed with error: %u\r\n",
                     static_cast<unsigned>(GetLastError()))
              .c_str(),
          stdout);
    return FALSE;
  }
  TOKEN_GROUPS* list = static_cast<TOKEN_GROUPS*>(groups.get());
  if (list->GroupCount == 0) return FALSE;  // no logon SID to take
  // The block becomes the SID itself: the first group's SID moved to its start (the two overlap).
  PSID sid = list->Groups[0].Sid;
  memmove(list, sid, GetLengthSid(sid));
  logonSid = groups.Take();
  return TRUE;
}

UniqueHeapBlock CLoggedOnUserHelper::GetTokenInformationInternal(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                                                 DWORD& length) {
  if (!token) return UniqueHeapBlock();
  DWORD needed = 0;
  GetTokenInformation(token, infoClass, nullptr, 0, &needed);
  if (needed == 0) return UniqueHeapBlock();
  HeapBlock block(HeapAlloc(GetProcessHeap(), 0, needed));
  if (!block) return UniqueHeapBlock();
  const BOOL ok = GetTokenInformation(token, infoClass, block.get(), needed, &needed);
  length = needed;
  if (!ok) return UniqueHeapBlock();
  return block.Take();
}

UniqueHandle CLoggedOnUserHelper::GetProcessToken(DWORD processId, DWORD desiredAccess) {
  Handle process(OpenProcess(MAXIMUM_ALLOWED, FALSE, processId));
  if (!process) return UniqueHandle();
  Handle token;
  if (!OpenProcessToken(process.get(), desiredAccess, token.put())) return UniqueHandle();
  return token.Take();
}
