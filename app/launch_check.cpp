#include "app/launch_check.h"

bool HasWrongFormatMarker(const std::string& targetPath) { return targetPath.find("\\~~") != std::string::npos; }

bool IsTooSmallToRun(uint32_t fileSize) { return fileSize <= kLargestRefusedPackage; }
