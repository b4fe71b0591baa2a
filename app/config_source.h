// Decisions about the configured package location: URL or local file, the QA rewrite, and what
// kind of source the run has.
#pragma once

#include <string>

enum SourceKind { kSourceQaUrl = -1, kSourceNone = 0, kSourceUrl = 1, kSourceLocal = 2 };

// A location is a URL when its first four characters are exactly "http" and it holds a "/".
bool IsHttpLocation(const std::string& location);

// http://server/dir/file.exe -> http://server/QA/dir/<qaVersion>/file.exe. The URL is split at
// every "/"; with five fields or more it is rebuilt from fields 0, 2, 3 and 4 (later fields are
// dropped), with fewer it is returned unchanged.
std::string RewriteQaUrl(const std::string& url, const std::string& qaVersion);

// What a location resolves to, given whether a path exists.
struct SourceResolution {
  int kind = kSourceNone;
  std::string location;     // the URL (rewritten in QA mode), the local full path, or trimmed
  std::string missingPath;  // local package path that does not exist, else empty
};

// `qaVersion` is used only for a URL in QA mode. `isFile` is asked about the local full path (the
// module directory, "\" and the location trimmed of spaces and backslashes): only an existing file
// is a package. A directory, the installer's own included (an empty location names it), is not.
template <typename IsFile>
SourceResolution ResolveSource(const std::string& location, bool qaMode, const std::string& qaVersion,
                               const std::string& moduleDirectory, IsFile isFile);

std::string TrimLocalLocation(const std::string& location);

// The name a package beside the installer is copied into the working folder under: what follows
// the last "\" or "/" of its path (the system takes either as a separator).
std::string LocalPackageName(const std::string& path);

template <typename IsFile>
SourceResolution ResolveSource(const std::string& location, bool qaMode, const std::string& qaVersion,
                               const std::string& moduleDirectory, IsFile isFile) {
  SourceResolution result;
  if (IsHttpLocation(location)) {
    result.kind = qaMode ? kSourceQaUrl : kSourceUrl;
    result.location = qaMode ? RewriteQaUrl(location, qaVersion) : location;
    return result;
  }
  const std::string trimmed = TrimLocalLocation(location);
  const std::string fullPath = moduleDirectory + "\\" + trimmed;
  if (isFile(fullPath)) {
    result.kind = kSourceLocal;
    result.location = fullPath;
  } else {
    result.location = trimmed;
    result.missingPath = fullPath;
  }
  return result;
}
