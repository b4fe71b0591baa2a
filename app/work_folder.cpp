#include "app/work_folder.h"

#include <sddl.h>

#include "framework/file.h"
#include "framework/format.h"
#include "util/sha256.h"

namespace {
// Owner Administrators; DACL protected, SYSTEM and Administrators full file access, both passed on
// to files and folders inside.
const char kAdminOnlySddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr int kNameAttempts = 8;

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
}  // namespace

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
  // Only this run can write in the folder: what it holds is what the run put there.
  WIN32_FIND_DATAA found;
  const UniqueFileSearch search(FindFirstFileA((path_ + "*").c_str(), &found));
  while (search) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      const std::string path = path_ + found.cFileName;
      if (started_ || !DeleteFileA(path.c_str())) DeleteAtRestart(path);
    }
    if (!FindNextFileA(search.get(), &found)) break;
  }
  const std::string folder = Folder();
  if (started_ || !RemoveDirectoryA(folder.c_str())) DeleteAtRestart(folder);
}
