// What one download is asked to fetch, and how: built once by the application from its
// configuration, read by the dialog and the engine.
#pragma once

#include <optional>
#include <string>

#include "framework/url.h"

struct DownloadRequest {
  std::optional<ParsedUrl> url;     // empty when the configured URL does not parse
  std::optional<ParsedUrl> mirror;  // the same package at a second address; empty for none
  int retries = 0;                  // further attempts a failed transfer gets at each address (0 to 10)
  std::string targetPath;           // the file to create and write
  std::string loginName;            // credentials for the server; none when the name is empty
  std::string loginPassword;
  std::string displayName;  // the product's name in the file line, the title and the tray tooltip
  int sourceKind = 0;       // negative: a QA URL, shown in the QA form of the file line
  int showUI = 1;           // 0: silent (no window, no message boxes)
  std::string qaVersion;    // shown in the QA file line
};
