#include "framework/module_name.h"

std::string AppNameFromModulePath(const std::string& modulePath) {
  const size_t slash = modulePath.find_last_of("\\/");
  std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}
