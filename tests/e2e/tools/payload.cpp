// payload: the package the end-to-end tests let the installer download and start. It opens no
// window; each start appends one line "<own path>\t<command line>\t<working directory>\t<temporary
// directory>\t<__COMPAT_LAYER, "-" when unset>\t<SHA-256 of its own file, "-" when unreadable>\r\n"
// to the file named by the environment variable PAYLOAD_RECORD, or to C:\payload-started.txt, and
// exits. The hash says what ran even when the installer's end has deleted the file since. Zero bytes appended to the
// image (to reach a package size) do not change what it does.
#include <windows.h>

#include <string>

#include "app/package_checks.h"
#include "framework/handle.h"
#include "util/sha256.h"

namespace {
std::string HashOfFile(const char* path) {
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file) return "-";
  Sha256 hash;
  static char block[65536];
  DWORD count = 0;
  while (ReadFile(file.get(), block, sizeof block, &count, nullptr) && count != 0) hash.Update(block, count);
  return FormatSha256(hash.Finish());
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char record[MAX_PATH] = "C:\\payload-started.txt";
  DWORD length = GetEnvironmentVariableA("PAYLOAD_RECORD", record, sizeof record);
  if (length == 0 || length >= sizeof record) lstrcpyA(record, "C:\\payload-started.txt");

  char self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  char directory[MAX_PATH] = "", temp[MAX_PATH] = "", layer[MAX_PATH] = "-";
  GetCurrentDirectoryA(sizeof directory, directory);
  GetTempPathA(sizeof temp, temp);
  const DWORD layerLength = GetEnvironmentVariableA("__COMPAT_LAYER", layer, sizeof layer);
  if (layerLength == 0 || layerLength >= sizeof layer) lstrcpyA(layer, layerLength == 0 ? "-" : "?");
  std::string line = std::string(self) + "\t" + GetCommandLineA() + "\t" + directory + "\t" + temp + "\t" + layer +
                     "\t" + HashOfFile(self) + "\r\n";

  // One write per start, so that starts close together never interleave their lines.
  UniqueHandle file(CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  DWORD written = 0;
  return WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                 written == line.size()
             ? 0
             : 1;
}
