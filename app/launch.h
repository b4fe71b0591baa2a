// The launch step: the downloaded package checked and started (a local one only started), and the
// refusals the user sees.
#pragma once

#include <windows.h>

#include <string>

#include "app/runtime_config.h"
#include "framework/handle.h"
#include "util/sha256.h"

// Checks the downloaded package and starts it with the configured parameters, elevated ("runas")
// where the known-folder API exists and with "open" elsewhere. Every outcome, a failed start too, is
// logged; the start and every refusal are recorded in the status file. A refusal is also shown to
// the user unless the configuration is silent. `held` is the file as the download left it held
// (shared for reading only); when invalid, the file is held here. It stays held until the shell
// has started it. A package whose bytes are not those the download wrote (`written`), or that
// fails the configured hash or signature check, is deleted.
void LaunchDownloadedPackage(const std::string& targetPath, UniqueHandle held, const Sha256Digest& written,
                             const RuntimeConfig& config);

// TRUE when the configuration's package checks can be used. Otherwise the malformed value is
// logged, recorded under "Error" and (unless silent) shown, and nothing may be downloaded.
BOOL ConfirmPackageChecks(const RuntimeConfig& config);

// ShellExecuteA with "open", no owner window, no working directory and SW_SHOW. A failure (an
// answer of 32 or less) leaves an ERROR entry through LogShellFailure.
void StartWithOpen(const std::string& path, const std::string& parameters);

// The ERROR entry for a shell that could not start `path`, with the system's reason: the thread's
// last error, so call it right after the failed ShellExecuteA.
void LogShellFailure(const std::string& path);

// ShellExecuteA with "runas" and SW_SHOW; TRUE when the shell's answer is above 32.
BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory);
