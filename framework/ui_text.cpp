#include "framework/ui_text.h"

#include <vector>

#include "framework/app.h"
#include "framework/format.h"
#include "framework/ui_choice.h"

namespace {
// Written once by SelectUiLanguage before any other thread starts; read-only afterwards.
LANGID shownLanguage = kEnglishLanguage;

constexpr DWORD kMuiLanguageId = 0x4;  // MUI_LANGUAGE_ID: the list holds hexadecimal LANGIDs
using PreferredLanguagesFunction = BOOL(WINAPI*)(DWORD, PULONG, PZZWSTR, PULONG);

std::vector<LanguageId> PreferredLanguages() {
  std::vector<LanguageId> preferred;
  // Looked up: Windows before Vista has no such function; kernel32 is loaded in every process.
  const auto function = reinterpret_cast<PreferredLanguagesFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetUserPreferredUILanguages")));
  ULONG count = 0;
  ULONG size = 0;
  if (function != nullptr && function(kMuiLanguageId, &count, nullptr, &size) && size > 0) {
    std::vector<wchar_t> list(size);
    if (function(kMuiLanguageId, &count, list.data(), &size)) {
      // NUL-separated entries ended by an empty one.
      for (size_t i = 0; i < list.size() && list[i] != L'\0'; i += wcslen(&list[i]) + 1) {
        const unsigned long id = wcstoul(&list[i], nullptr, 16);
        if (id != 0 && id <= 0xFFFF) preferred.push_back(static_cast<LanguageId>(id));
      }
    }
  }
  if (preferred.empty()) preferred.push_back(GetUserDefaultUILanguage());
  return preferred;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<LanguageId>*>(param)->push_back(language);
  return TRUE;
}

// RT_STRING in its wide form; the build's RT_STRING is the ANSI one.
const LPCWSTR kStringTable = MAKEINTRESOURCEW(6);

UINT StringBlock(UINT id) { return id / 16 + 1; }
}  // namespace

void SelectUiLanguage(HMODULE module, UINT probeId) {
  std::vector<LanguageId> available;
  EnumResourceLanguagesW(module, kStringTable, MAKEINTRESOURCEW(StringBlock(probeId)), AddLanguage,
                         reinterpret_cast<LONG_PTR>(&available));
  shownLanguage = ChooseUiLanguage(PreferredLanguages(), available);
}

bool UiTranslated() { return shownLanguage != kEnglishLanguage; }

LANGID UiLanguage() { return shownLanguage; }

std::string LanguageTag(LANGID language) {
  const LCID locale = MAKELCID(language, SORT_DEFAULT);
  char name[16] = {};
  char region[16] = {};
  if (GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, name, sizeof name) == 0) return std::string();
  if (GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, region, sizeof region) == 0) return name;
  return FormatText("%s-%s", name, region);
}

std::wstring LoadTableString(HMODULE module, UINT id, LANGID language) {
  const HRSRC found = FindResourceExW(module, kStringTable, MAKEINTRESOURCEW(StringBlock(id)), language);
  const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const auto* block = loaded != nullptr ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
  if (block == nullptr) return std::wstring();
  // Sixteen counted strings, the empty ones a lone zero count; nothing past the block is read.
  const size_t units = SizeofResource(module, found) / sizeof(WCHAR);
  size_t at = 0;
  for (UINT skip = id % 16; skip > 0 && at < units; --skip) at += 1 + block[at];
  if (at >= units || block[at] > units - at - 1) return std::wstring();
  return std::wstring(block + at + 1, block[at]);
}

std::wstring Widen(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return std::string();
  const int length =
      WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) {
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
  }
  return narrow;
}

std::wstring LoadUiString(UINT id, const char* arg1, const char* arg2) {
  return LoadUiString(id, arg1 != nullptr ? WidenAnsi(arg1) : std::wstring(),
                      arg2 != nullptr ? WidenAnsi(arg2) : std::wstring());
}

std::wstring LoadUiPattern(UINT id) {
  std::wstring pattern = LoadTableString(AfxGetInstanceHandle(), id, shownLanguage);
  if (pattern.empty()) pattern = LoadTableString(AfxGetInstanceHandle(), id, kEnglishLanguage);
  return pattern;
}

std::wstring LoadUiString(UINT id, const std::wstring& arg1, const std::wstring& arg2) {
  return FormatPlaceholders(LoadUiPattern(id), arg1.c_str(), arg2.c_str());
}

std::wstring ShownText(UINT id, const char* arg1, const char* arg2) {
  return UiTranslated() ? LoadUiString(id, arg1, arg2) : std::wstring();
}

void SetShownText(HWND window, const std::string& english, const std::wstring& shown) {
  if (shown.empty()) {
    SetWindowTextA(window, english.c_str());
  } else {
    SetWindowTextW(window, shown.c_str());
  }
}
