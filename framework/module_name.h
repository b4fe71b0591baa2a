#pragma once

#include <string>

// The application name for a module path: the file name without directory and without its last
// extension ("C:\dir\setup.exe" -> "setup"). Both "\" and "/" separate directories.
std::string AppNameFromModulePath(const std::string& modulePath);
