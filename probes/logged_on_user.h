// Whether the user logged on to this desktop is a member of the local Administrators group.
#pragma once

#include <windows.h>

#include "framework/handle.h"

class CLoggedOnUserHelper {
public:
  // TRUE when the desktop's user is judged a member of Administrators: on Vista and later from the
  // token of a process in the interactive logon session, otherwise (and when no such process is
  // found) from this process's own token. Never fails outward: a failure answers FALSE or falls
  // back to the own token, and a fault inside is reported on the debugger output and standard
  // output and answers FALSE.
  static BOOL IsLoggedOnUserAdmin();

protected:
  // The steps of the check, reachable by its tests through a derived class.

  // The check without its fault guard: leaves in `userToken` the logged-on user's token it tested
  // (empty when the own token decided) and returns the answer.
  static BOOL CheckLoggedOnUser(UniqueHandle& userToken);
  // Runs `check` the way IsLoggedOnUserAdmin runs CheckLoggedOnUser: under the fault guard,
  // reporting a fault and answering FALSE for it, and closing the user token it left on every path.
  static BOOL RunCheck(BOOL (*check)(UniqueHandle& userToken));

  // TRUE when the token's group list, read into a 4096-byte buffer, holds Administrators
  // (attributes ignored). A null token means this process's own token, opened and closed here; a
  // token passed in is never closed here.
  static BOOL IsTokenAdmin(HANDLE token);
  // A duplicate, of `tokenType` with `desiredAccess`, of the token of a process that belongs to the
  // session's user and to the window station's logon session; empty when there is none.
  static UniqueHandle GetLoggedOnUserToken(DWORD desiredAccess, TOKEN_TYPE tokenType);
  // The token (TOKEN_DUPLICATE | TOKEN_QUERY) of the first listed process whose user SID is
  // `userSid` and whose logon SID is `logonSid`; empty when none matches.
  static UniqueHandle FindUserProcessToken(PSID userSid, PSID logonSid);
  // The SID of `accountName` as looked up on `systemName` (null: this computer), in a process-heap
  // block; empty on failure.
  static UniqueHeapBlock GetAccountSid(const char* systemName, const char* accountName);
  // TRUE with the process's logon SID in `logonSid` (a process-heap block that is the SID itself);
  // FALSE with `logonSid` empty, after printing the failing step and its error code on standard
  // output.
  static BOOL GetProcessLogonSid(DWORD processId, UniqueHeapBlock& logonSid);
  // The token information of `infoClass` in a process-heap block, empty on failure. `length`
  // receives the size the system reported once the block was allocated, whether the read then
  // succeeded or not.
  static UniqueHeapBlock GetTokenInformationInternal(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, DWORD& length);
  // The token of the process with `desiredAccess`, empty on failure.
  static UniqueHandle GetProcessToken(DWORD processId, DWORD desiredAccess);
};
