#include "app/work_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "framework/file.h"
#include "framework/format.h"
#include "util/sha256.h"

namespace {
// Owner Administrators; DACL protected, SYSTEM and Administrators full file access, both passed on
// to files and folders inside.
const char kAdminOnlySddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The same as Windows may read it back from a folder: the DACL flagged auto-inherited ("AI"), the
// entries in either order.
const char* const kAdminOnlyForms[] = {
    kAdminOnlySddl,
    "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
    "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
    "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
};
constexpr int kNameAttempts = 8;
const char kNamePrefix[] = "vkinst-";
constexpr size_t kNameDigits = 16;
// How deep the removal of an earlier run's folder goes: a package's temporary files rarely nest
// more than a few levels, and a deeper tree stays for a later run rather than risk the stack.
constexpr int kRemovalDepth = 24;
constexpr DWORD kOpenAsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);

// "vkinst-" and 16 hex digits that another program cannot guess: the system's random generator
// where it exists (Windows XP on), mixed with the clock, the process and the attempt. A guessed
// name would only make the run refuse that name and try the next; nobody else can write in the
// folder once it is made.
std::string RandomName(int attempt) {
  struct {
    BYTE random[16];
    LARGE_INTEGER performanceCounter;
    FILETIME time;
    DWORD ticks, process, thread;
    int attempt;
  } seed = {};
  auto generate = reinterpret_cast<RtlGenRandomFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "SystemFunction036")));
  if (generate != nullptr) generate(seed.random, sizeof seed.random);
  QueryPerformanceCounter(&seed.performanceCounter);
  GetSystemTimeAsFileTime(&seed.time);
  seed.ticks = GetTickCount();
  seed.process = GetCurrentProcessId();
  seed.thread = GetCurrentThreadId();
  seed.attempt = attempt;
  Sha256 hash;
  hash.Update(reinterpret_cast<const unsigned char*>(&seed), sizeof seed);
  const Sha256Digest digest = hash.Finish();
  DWORD high, low;
  CopyMemory(&high, &digest[0], sizeof high);
  CopyMemory(&low, &digest[4], sizeof low);
  return FormatText("vkinst-%08lx%08lx", high, low);
}

// The system's own temporary directory, from the Windows directory (not the user's environment),
// with its trailing backslash; empty when the system gives none.
std::string SystemTempDirectory() {
  char buffer[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  std::string directory(buffer, length);
  if (directory.back() != '\\') directory += '\\';
  return directory + "Temp\\";
}

void DeleteAtRestart(const std::string& path) { MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }

// `path` itself, a reparse point too, never what one leads to. Shares everything, so that opening
// it changes nothing for anybody else.
UniqueHandle OpenAsItself(const std::string& path, DWORD access) {
  return UniqueHandle(CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, kOpenAsItself, nullptr));
}

enum class EntryKind { kUnknown, kFile, kDirectory, kReparsePoint };

EntryKind KindOf(HANDLE entry) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(entry, &info)) return EntryKind::kUnknown;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kReparsePoint;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kDirectory : EntryKind::kFile;
}

// Marks the entry behind `entry` (opened with DELETE) for deletion when its last handle closes:
// the entry itself, whatever its name leads to now. NtSetInformationFile exists on every NT
// system; SetFileInformationByHandle only from Windows Vista on.
bool MarkForDeletion(HANDLE entry) {
  struct IoStatus {
    void* pointer;
    ULONG_PTR information;
  };
  using SetInformationFn = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
  constexpr int kFileDispositionInformation = 13;
  const auto setInformation = reinterpret_cast<SetInformationFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
  if (setInformation == nullptr) return false;
  IoStatus status = {};
  BOOLEAN deleteFile = TRUE;
  return setInformation(entry, &status, &deleteFile, sizeof deleteFile, kFileDispositionInformation) >= 0;
}

bool IsWorkFolderName(const char* name) {
  const size_t prefixLength = sizeof kNamePrefix - 1;
  if (strncmp(name, kNamePrefix, prefixLength) != 0 || strlen(name) != prefixLength + kNameDigits) return false;
  for (const char* digit = name + prefixLength; *digit != '\0'; ++digit) {
    if (!((*digit >= '0' && *digit <= '9') || (*digit >= 'a' && *digit <= 'f'))) return false;
  }
  return true;
}

using EntryVisitor = void (*)(void* context, const char* name, bool reparsePoint);

// The one listing loop behind ForEachEntry.
void VisitEntries(const std::string& path, EntryVisitor visit, void* context) {
  WIN32_FIND_DATAA found;
  const UniqueFileSearch search(FindFirstFileA(FormatText("%s\\*", path.c_str()).c_str(), &found));
  while (search) {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
      visit(context, found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    if (!FindNextFileA(search.get(), &found)) break;
  }
}

// Calls `visit`(name, whether the listing flags a reparse point) for each entry of the directory
// `path` (without its trailing backslash), "." and ".." left out. What a handle shows is checked
// again after: the listing only adds what Wine shows of a link.
template <typename Visit>
void ForEachEntry(const std::string& path, const Visit& visit) {
  VisitEntries(
      path,
      [](void* context, const char* name, bool reparsePoint) {
        (*static_cast<const Visit*>(context))(name, reparsePoint);
      },
      const_cast<Visit*>(&visit));
}

// Deletes the entry at `path` itself when a handle shows it to be of `kind` (a reparse point as
// the listing flagged it, `listedReparsePoint`).
bool DeleteEntry(const std::string& path, bool listedReparsePoint, EntryKind kind) {
  const UniqueHandle entry = OpenAsItself(path, DELETE | FILE_READ_ATTRIBUTES);
  if (!entry) return false;
  const EntryKind found = listedReparsePoint ? EntryKind::kReparsePoint : KindOf(entry.get());
  return found == kind && MarkForDeletion(entry.get());
}

// Deletes what the directory `path` holds, nothing followed, and then the directory itself. The
// directory is enumerated by name while nothing of ours holds it for deletion (a listing does not
// share that). True when all of it is gone.
bool RemoveTree(const std::string& path, int depth) {
  bool emptied = true;
  ForEachEntry(path, [&](const char* name, bool reparsePoint) {
    const std::string entryPath = FormatText("%s\\%s", path.c_str(), name);
    EntryKind kind = EntryKind::kUnknown;
    {
      const UniqueHandle entry = OpenAsItself(entryPath, FILE_READ_ATTRIBUTES);
      if (entry) kind = reparsePoint ? EntryKind::kReparsePoint : KindOf(entry.get());
    }
    if (kind == EntryKind::kDirectory) {
      if (depth >= kRemovalDepth || !RemoveTree(entryPath, depth + 1)) emptied = false;
    } else if (kind == EntryKind::kUnknown || !DeleteEntry(entryPath, reparsePoint, kind)) {
      emptied = false;
    }
  });
  return emptied && DeleteEntry(path, false, EntryKind::kDirectory);
}
}  // namespace

bool IsWorkFolderDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  UniqueLocal text;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                            reinterpret_cast<LPSTR*>(text.put()), nullptr)) {
    return false;
  }
  for (const char* form : kAdminOnlyForms) {
    if (strcmp(static_cast<const char*>(text.get()), form) == 0) return true;
  }
  return false;
}

bool HasWorkFolderDescriptor(HANDLE folder) {
  UniqueLocal descriptor;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
    return false;
  }
  return IsWorkFolderDescriptor(descriptor.get());
}

int RemoveEarlierWorkFolders(const std::string& parent, bool (*isOurs)(HANDLE folder)) {
  int removed = 0;
  const std::string folderPath = parent.substr(0, parent.find_last_not_of('\\') + 1);
  ForEachEntry(folderPath, [&](const char* name, bool reparsePoint) {
    if (reparsePoint || !IsWorkFolderName(name)) return;
    const std::string path = parent + name;
    {
      // Asking for DELETE fails while a run or its package holds the folder without sharing that.
      const UniqueHandle folder = OpenAsItself(path, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES);
      if (!folder || KindOf(folder.get()) != EntryKind::kDirectory || !isOurs(folder.get())) return;
    }
    if (RemoveTree(path, 0)) ++removed;
  });
  return removed;
}

UniqueLocal WorkFolderSecurity() {
  UniqueLocal descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          kAdminOnlySddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
    return UniqueLocal();
  }
  return descriptor;
}

bool IsProcessElevated() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid administrators;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                administrators.put())) {
    return false;
  }
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, administrators.get(), &member) && member;
}

BOOL WorkFolder::Create(DWORD& error) {
  const bool elevated = IsProcessElevated();
  std::string parent;
  if (elevated) {
    parent = SystemTempDirectory();
  } else {
    ReadTempDirectory(parent);
  }
  if (parent.empty()) {
    error = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  // Only where this run's own folders are administrators-only can an earlier run's be told from
  // anybody else's.
  if (elevated) RemoveEarlierWorkFolders(parent);
  return CreateIn(parent, elevated, error);
}

BOOL WorkFolder::CreateIn(const std::string& parent, bool adminOnly, DWORD& error) {
  path_ = parent;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  UniqueLocal descriptor;
  if (adminOnly) {
    descriptor = WorkFolderSecurity();
    if (!descriptor) {
      error = GetLastError();
      return FALSE;
    }
    attributes.lpSecurityDescriptor = descriptor.get();
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string folder = parent + RandomName(attempt);
    path_ = folder + "\\";
    // Only a folder made by this call is used: one that exists, whoever made it, is refused.
    if (CreateDirectoryA(folder.c_str(), &attributes)) {
      created_ = true;
      // Held without sharing its deletion until Finish: nobody can delete, rename or replace it
      // meanwhile, and a run that starts meanwhile leaves it alone. A handle without data access
      // would not count in the sharing; one with DELETE access would keep the started package
      // from having the folder as its working directory, which shares reading and writing only.
      held_.reset(CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kOpenAsItself, nullptr));
      const std::string temp = PackageTempDirectory(path_);
      if (!held_ || !CreateDirectoryA(temp.c_str(), &attributes)) {
        error = GetLastError();
        return FALSE;
      }
      return TRUE;
    }
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return FALSE;
  }
  return FALSE;
}

void WorkFolder::Finish() {
  if (!created_) return;
  created_ = false;
  const std::string folder = Folder();
  bool left = false;
  // Only administrators can write in the folder: what it holds is what the run or its package put
  // there. Still nothing is followed, and only what a handle shows is marked for a restart.
  ForEachEntry(folder, [&](const char* name, bool reparsePoint) {
    const std::string path = path_ + name;
    UniqueHandle entry = OpenAsItself(path, DELETE | FILE_READ_ATTRIBUTES);
    if (!entry) entry = OpenAsItself(path, FILE_READ_ATTRIBUTES);
    EntryKind kind = entry ? KindOf(entry.get()) : EntryKind::kUnknown;
    if (reparsePoint && kind != EntryKind::kUnknown) kind = EntryKind::kReparsePoint;
    if (kind == EntryKind::kFile || kind == EntryKind::kReparsePoint) {
      if (MarkForDeletion(entry.get())) return;
      if (kind == EntryKind::kFile) DeleteAtRestart(path);
    } else if (kind == EntryKind::kDirectory) {
      // The started package unpacks into its temporary directory as this run ends.
      entry.reset();
      if (!started_ && RemoveTree(path, 0)) return;
      DeleteAtRestart(path);
    }
    left = true;
  });
  // Marked while still held: the name cannot have been given to anything else.
  if (left && held_ && KindOf(held_.get()) == EntryKind::kDirectory) DeleteAtRestart(folder);
  held_.reset();
  if (!left) DeleteEntry(folder, false, EntryKind::kDirectory);
}
