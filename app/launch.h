// Starting the downloaded package.
#pragma once

#include <windows.h>

#include <string>

#include "app/launch_check.h"
#include "app/runtime_config.h"

// Checks the downloaded package and starts it with the configured parameters, elevated ("runas")
// where the known-folder API exists and with "open" elsewhere. Every outcome but a vanished file is
// logged; the start and a refusal for size are recorded in the status file. A too-small package is
// also shown to the user unless the configuration is silent.
void LaunchDownloadedPackage(const std::string& targetPath, const RuntimeConfig& config);

// ShellExecuteA with "runas" and SW_SHOW; TRUE when the shell's answer is above 32.
BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory);
