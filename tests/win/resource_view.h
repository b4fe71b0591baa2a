// Reading the resources of a built executable, for the tests of the resource set and of stampcfg.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "framework/handle.h"

namespace resource_view {

// The executable mapped for its resources only: none of its code runs.
inline UniqueModule LoadForResources(const std::string& path) {
  return UniqueModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

// The bytes of a resource (any language); empty when there is none.
inline std::string ResourceBytes(HMODULE module, const char* type, const char* name) {
  HRSRC found = FindResourceA(module, name, type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

// One resource: type and name as text ("#<number>" for numeric ones) and its language.
struct ResourceEntry {
  std::string type;
  std::string name;
  WORD language;
  bool operator==(const ResourceEntry& o) const {
    return std::tie(type, name, language) == std::tie(o.type, o.name, o.language);
  }
  bool operator<(const ResourceEntry& o) const {
    return std::tie(type, name, language) < std::tie(o.type, o.name, o.language);
  }
};

// For test failure messages.
inline void PrintTo(const ResourceEntry& e, std::ostream* os) {
  *os << e.type << " " << e.name << " lang 0x" << std::hex << e.language << std::dec;
}

inline std::string ResourceIdText(const char* id) {
  return IS_INTRESOURCE(id) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(id)) : std::string(id);
}

namespace detail {

struct Walk {
  std::vector<ResourceEntry>* out;
};

inline BOOL CALLBACK OnLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
  reinterpret_cast<Walk*>(param)->out->push_back({ResourceIdText(type), ResourceIdText(name), language});
  return TRUE;
}
inline BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  EnumResourceLanguagesA(module, type, name, OnLanguage, param);
  return TRUE;
}
inline BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR param) {
  EnumResourceNamesA(module, type, OnName, param);
  return TRUE;
}

}  // namespace detail

// Every resource of the module, in the order the resource directory lists them.
inline std::vector<ResourceEntry> ListResources(HMODULE module) {
  std::vector<ResourceEntry> entries;
  detail::Walk walk{&entries};
  EnumResourceTypesA(module, detail::OnType, reinterpret_cast<LONG_PTR>(&walk));
  return entries;
}

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  UniqueHandle file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string contents(GetFileSize(file.get(), nullptr), '\0');
  DWORD read = 0;
  if (!contents.empty() && (!ReadFile(file.get(), &contents[0], static_cast<DWORD>(contents.size()), &read, nullptr) ||
                            read != contents.size()))
    return {};
  return contents;
}

}  // namespace resource_view
