// How the running process stands with user account control, asked of its own token.
#pragma once

struct ProcessElevation {
  bool elevated = false;               // holds the Administrators group enabled (IsProcessElevated)
  bool hasUserAccountControl = false;  // the token answers TokenElevationType (Windows Vista on)
};

// Asked afresh on each call; a question the system cannot answer is the negative answer. (Win32.)
ProcessElevation ReadProcessElevation();
