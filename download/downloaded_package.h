// The package as a download leaves it: where it lies, held against writers, and the SHA-256 of
// the bytes written into it.
#pragma once

#include <windows.h>

#include <string>

#include "framework/handle.h"
#include "util/sha256.h"

struct DownloadedPackage {
  std::string path;
  // Shared for reading only since the writing handle was closed; invalid when it could not be
  // opened again, which the launch treats as a package it cannot check.
  UniqueHandle held;
  DWORD holdError = 0;  // why `held` is invalid: the system's error code
  Sha256Digest sha256 = {};
};
