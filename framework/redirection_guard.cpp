#include "framework/redirection_guard.h"

#include <windows.h>

namespace {
// PROCESS_MITIGATION_POLICY's ProcessRedirectionTrustPolicy and the Flags bit of
// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY: mingw's headers for Windows 7 have neither.
constexpr int kProcessRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 0x1;
using SetProcessMitigationPolicyFn = BOOL(WINAPI*)(int policy, PVOID buffer, SIZE_T length);
}  // namespace

void EnableRedirectionGuard() {
  auto setPolicy = reinterpret_cast<SetProcessMitigationPolicyFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessMitigationPolicy")));
  if (setPolicy == nullptr) return;
  DWORD flags = kEnforceRedirectionTrust;
  setPolicy(kProcessRedirectionTrustPolicy, &flags, sizeof flags);
}
