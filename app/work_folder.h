// The working folder of one run: a fresh folder with a random name that only administrators can
// write, where the configuration is extracted, read and deleted, and the package is downloaded (or
// copied), checked and started from. Nothing in it is found through a path that another program of
// the user can redirect.
#pragma once

#include <windows.h>

#include <string>

#include "framework/handle.h"

class WorkFolder {
public:
  WorkFolder() = default;
  ~WorkFolder() { Finish(); }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // Makes the folder. In an elevated process (IsProcessElevated) under the system's own temporary
  // directory (the Windows directory's "Temp", never the user's %TEMP%) with WorkFolderSecurity;
  // otherwise under the user's temporary directory with the default permissions. A name that exists
  // is refused and another one tried. FALSE when none can be made: `error` is the system's error
  // number and Path() the last name tried (the parent alone when there was none).
  BOOL Create(DWORD& error);
  // The same in `parent` (with its trailing backslash); `adminOnly` selects WorkFolderSecurity.
  BOOL CreateIn(const std::string& parent, bool adminOnly, DWORD& error);

  // The folder with its trailing backslash; empty before Create.
  const std::string& Path() const { return path_; }
  // The folder without it, as the records name it.
  std::string Folder() const { return path_.substr(0, path_.find_last_not_of('\\') + 1); }
  // Path() + `name`.
  std::string FilePath(const std::string& name) const { return path_ + name; }

  // The package has been started from the folder: Finish then marks what is left for deletion at
  // the next restart instead of deleting it (the running package holds its file).
  void MarkStarted() { started_ = true; }

  // The end of the run's folder, on every path (the destructor calls it; a second call does
  // nothing). Without a start, the files in it and the folder are deleted; whatever cannot be
  // deleted now, and everything after a start, is marked for deletion at the next restart
  // (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT, which needs administrator rights).
  void Finish();

private:
  std::string path_;
  bool created_ = false;
  bool started_ = false;
};

// The descriptor the folder is made with when only administrators may write it: owner
// Administrators; a protected DACL (nothing inherited from the parent) that gives SYSTEM and
// Administrators full control and passes both entries on to what is created inside. Invalid when
// the system cannot build it.
UniqueLocal WorkFolderSecurity();

// Whether the process holds the Administrators group enabled: elevated under user account control,
// or run by an administrator on a system without it (Windows 2000, XP).
bool IsProcessElevated();
