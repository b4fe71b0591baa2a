// planted: a DLL that the end-to-end tests put beside the installer under system DLL names. Loaded
// into a process, it appends "<its own path>\t<the process's image>\r\n" to C:\planted-loaded.txt.
// It exports nothing, so a process that wanted its functions would fail.
#include <windows.h>

#include <string>

#include "framework/handle.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char self[MAX_PATH] = "";
  char image[MAX_PATH] = "";
  GetModuleFileNameA(instance, self, sizeof self);
  GetModuleFileNameA(nullptr, image, sizeof image);
  const std::string line = std::string(self) + "\t" + image + "\r\n";
  UniqueHandle file(CreateFileA("C:\\planted-loaded.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  return TRUE;
}
