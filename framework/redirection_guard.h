// RedirectionGuard: an elevated process that follows a junction another user's program made can be
// made to read or start what that program chose. Where the system offers the mitigation, the
// process follows no junction made by a non-administrator.
#pragma once

// Turns on ProcessRedirectionTrustPolicy with EnforceRedirectionTrust (SetProcessMitigationPolicy,
// looked up at run time). A system without it, or one that refuses it (some Windows 10 builds
// answer STATUS_NOT_SUPPORTED), goes on as before: one more wall, nothing relies on it alone. The
// processes this one starts inherit the policy. Call it first thing, before any file is opened.
void EnableRedirectionGuard();
