// The launch step: the package checked and started from the working folder (downloaded, or copied
// there from beside the installer), and the refusals the user sees.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/runtime_config.h"
#include "download/downloaded_package.h"
#include "framework/handle.h"
#include "util/sha256.h"

// Checks the downloaded package and starts it with the configured parameters and `directory` (the
// working folder) as its working directory and the folder's package temporary directory as its
// TEMP (ChildEnvironment), elevated ("runas") where the known-folder API exists and with "open"
// elsewhere. Every outcome, a failed start too, is logged; the start and every
// refusal are recorded in the status file. A refusal is also shown to the user unless the
// configuration is silent. `package` is the file as the download left it held (shared for reading
// only); it stays held until the shell has started it, and one the download could not hold again
// is refused. A package whose bytes are not those the download wrote, or that fails the configured
// hash or signature check, is deleted. TRUE when the shell started it.
bool LaunchDownloadedPackage(DownloadedPackage package, const RuntimeConfig& config, const std::string& directory);

// The package beside the installer (`sourcePath`): copied to `targetPath` in the working folder
// (`directory`) while the source is held against writers, then held, hashed and checked as a
// download is (the configured hash and signature, and that the copy still holds what was copied),
// and started with "open", `parameters`, the working folder as its working directory and its
// package temporary directory as its TEMP (ChildEnvironment). The copy keeps the source's zone
// mark (CopyHeldFile). A
// refusal is logged, recorded under "Error" and (unless silent) shown; a start, failed or not,
// records "Attempted to run local file". True when the shell started it.
bool LaunchLocalPackage(const std::string& sourcePath, const std::string& targetPath, const std::string& parameters,
                        const RuntimeConfig& config, const std::string& directory);

// Where the package of a run comes from; the refusal of a malformed configuration says which.
enum class PackageSource { kDownload, kBesideInstaller };

// True when the configuration's values can be used. Otherwise the malformed value is logged,
// recorded under "Error" and (unless silent) shown, and nothing may be downloaded or started.
bool ConfirmPackageChecks(const RuntimeConfig& config, PackageSource source);

// What the launch hands to the shell: ShellExecuteExA with the verb's command taken from the
// machine's class key for programs (HKLM\Software\Classes\exefile, SEE_MASK_CLASSKEY), so that
// HKEY_CLASSES_ROOT, which merges the user's HKCU\Software\Classes, is never consulted. It owns
// the texts and the key that `info` points to; it cannot be copied or moved.
struct ShellStart {
  ShellStart() = default;
  ShellStart(const ShellStart&) = delete;
  ShellStart& operator=(const ShellStart&) = delete;

  std::string verb, file, parameters, directory;
  UniqueRegKey classKey;
  SHELLEXECUTEINFOA info = {};
};

// Fills `start` for `verb` on `file` with `parameters`, `directory` as the working directory
// (empty: none), no owner window and SW_SHOW; the shell shows its own error unless `silent`.
// FALSE, with the system's error as the last error, when the machine's class key cannot be opened.
bool PrepareShellStart(const char* verb, const std::string& file, const std::string& parameters,
                       const std::string& directory, bool silent, ShellStart& start);

// PrepareShellStart, then ShellExecuteExA with `owner` as the owner window. A failure leaves an
// ERROR entry through LogShellFailure. TRUE when the shell started the file.
bool StartThroughShell(const char* verb, const std::string& file, const std::string& parameters,
                       const std::string& directory, bool silent, HWND owner = nullptr);

// StartThroughShell with "open".
bool StartWithOpen(const std::string& path, const std::string& parameters, const std::string& directory, bool silent);

// The ERROR entry for a shell that could not start `path`, with the system's reason: the thread's
// last error, so call it right after the failed call.
void LogShellFailure(const std::string& path);

// The environment a program started through the shell gets while this object lives: the shell has
// no environment of its own to give, so the child inherits this process's. `tempDirectory` (with
// its trailing backslash; empty: left as it is) becomes TEMP and TMP, and __COMPAT_LAYER, which
// would carry the user's compatibility settings into it, is removed. The destructor puts back
// what this process had, so that nothing else it does changes; start the child with
// SEE_MASK_NOASYNC, so that it has been created by then. Main thread only.
class ChildEnvironment {
public:
  explicit ChildEnvironment(const std::string& tempDirectory);
  ~ChildEnvironment();
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;

private:
  struct Saved {
    const char* name;
    bool present;
    std::string value;
  };
  Saved saved_[3];
};

// StartThroughShell with "runas"; TRUE when the shell started the file.
BOOL RunElevated(HWND owner, const char* file, const char* parameters, const char* directory, bool silent);
