#include "framework/error_text.h"

#include "framework/handle.h"

std::string SystemErrorText(DWORD error) {
  std::string text = "error " + std::to_string(error);
  UniqueLocal message;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char*>(message.put()), 0, nullptr);
  if (length == 0 || !message) return text;
  std::string sentence(static_cast<const char*>(message.get()), length);
  for (char& c : sentence) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!sentence.empty() && sentence.back() == ' ') sentence.pop_back();
  return sentence.empty() ? text : text + ": " + sentence;
}
