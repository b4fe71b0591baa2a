#include "framework/error_text.h"

#include "framework/format.h"
#include "framework/handle.h"

BOOL LookUpMessageText(DWORD number, HMODULE table, const char* lineBreak, std::string& text) {
  const DWORD source = table != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
  UniqueLocal message;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | source, table, number,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(message.put()), 0, nullptr);
  if (length == 0 || !message) return FALSE;
  const char* found = static_cast<const char*>(message.get());
  std::string kept;
  for (DWORD at = 0; at < length; ++at) {
    if (found[at] == '\r' && at + 1 < length && found[at + 1] == '\n') {
      kept += lineBreak;
      ++at;
    } else {
      kept += found[at];
    }
  }
  text = kept;
  return TRUE;
}

std::string SystemErrorText(DWORD error) {
  std::string sentence;
  if (!LookUpMessageText(error, nullptr, " ", sentence)) sentence.clear();
  while (!sentence.empty() && sentence.back() == ' ') sentence.pop_back();
  return sentence.empty() ? FormatText("error %lu", error) : FormatText("error %lu: %s", error, sentence.c_str());
}

std::optional<std::string> LookUpErrorText(long number) {
  HMODULE wininet = GetModuleHandleA("WinINet.dll");
  if (wininet == nullptr) return std::nullopt;
  std::string text;
  if (LookUpMessageText(static_cast<DWORD>(number), wininet, "", text) ||
      LookUpMessageText(static_cast<DWORD>(number), nullptr, "", text)) {
    return text;
  }
  return std::nullopt;
}
