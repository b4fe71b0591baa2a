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
  // directory (the Windows directory's "Temp", never the user's %TEMP%) with WorkFolderSecurity,
  // after RemoveEarlierWorkFolders there; otherwise under the user's temporary directory with the
  // default permissions. A name that exists is refused and another one tried. FALSE when none can
  // be made: `error` is the system's error number and Path() the last name tried (the parent alone
  // when there was none).
  BOOL Create(DWORD& error);
  // The same in `parent` (with its trailing backslash); `adminOnly` selects WorkFolderSecurity. The
  // folder's package temporary directory (PackageTempDirectory) is made inside it with the same
  // descriptor, and the folder is held (not deletable, not renamable) until Finish.
  BOOL CreateIn(const std::string& parent, bool adminOnly, DWORD& error);

  // The folder with its trailing backslash; empty before Create.
  const std::string& Path() const { return path_; }
  // The folder without it, as the records name it.
  std::string Folder() const { return path_.substr(0, path_.find_last_not_of('\\') + 1); }
  // Path() + `name`.
  std::string FilePath(const std::string& name) const { return path_ + name; }

  // The package has been started from the folder: Finish then leaves its temporary directory,
  // which the package is about to use, and marks what is still in use for the next restart.
  void MarkStarted() { started_ = true; }

  // The end of the run's folder, on every path (the destructor calls it; a second call does
  // nothing). Its files are deleted, each through a handle that does not follow a reparse point,
  // and, without a start, its package temporary directory and the folder too. What is left (a file
  // the started package holds; after a start, the package's temporary directory, which it is still
  // using, and the folder) is marked for deletion at the next restart (MoveFileExA with
  // MOVEFILE_DELAY_UNTIL_REBOOT, which needs administrator rights), but only while a handle shows
  // it to be a file or directory and no reparse point; the folder is marked while it is still held.
  // What a restart does not take, the next elevated run's RemoveEarlierWorkFolders does.
  void Finish();

private:
  std::string path_;
  UniqueHandle held_;
  bool created_ = false;
  bool started_ = false;
};

// The name of the package temporary directory inside a working folder.
inline constexpr char kPackageTempName[] = "Temp";
// The package temporary directory of the working folder `folderPath` (with its trailing
// backslash), with its own trailing backslash: what the started package gets as TEMP and TMP.
inline std::string PackageTempDirectory(const std::string& folderPath) { return folderPath + kPackageTempName + "\\"; }

// Whether `descriptor` is what WorkFolderSecurity gives a folder: owner Administrators, and a
// protected DACL with exactly its two entries (full access for SYSTEM and for Administrators,
// passed on to files and folders, neither inherited), in either order, with or without the
// auto-inherited flag that Windows may add when it reads a folder's descriptor back.
bool IsWorkFolderDescriptor(PSECURITY_DESCRIPTOR descriptor);
// IsWorkFolderDescriptor for the descriptor read through `folder` (READ_CONTROL).
bool HasWorkFolderDescriptor(HANDLE folder);

// Removes the working folders that earlier runs left in `parent` (with its trailing backslash):
// entries named as Create names them that, opened without following a reparse point, are
// directories and no reparse point, and that `isOurs` accepts (by default HasWorkFolderDescriptor).
// A folder that a running program holds (one whose run has not finished, or whose package still
// runs in it: either keeps it open without sharing its deletion) is left alone. Inside, nothing is
// followed: a reparse point is deleted as itself. A folder that cannot be emptied stays for the
// next run. Answers how many folders were removed.
int RemoveEarlierWorkFolders(const std::string& parent, bool (*isOurs)(HANDLE folder) = HasWorkFolderDescriptor);

// The descriptor the folder is made with when only administrators may write it: owner
// Administrators; a protected DACL (nothing inherited from the parent) that gives SYSTEM and
// Administrators full control and passes both entries on to what is created inside. Invalid when
// the system cannot build it.
UniqueLocal WorkFolderSecurity();

// Whether the process holds the Administrators group enabled: elevated under user account control,
// or run by an administrator on a system without it (Windows 2000, XP).
bool IsProcessElevated();
