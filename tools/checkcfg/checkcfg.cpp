// checkcfg: whether a configuration may be built into an installer, decided by the installer's own
// code (its configuration rules, read as its INI reader reads the text, and its pinning rule), for
// tools/make-installer and the configure step. A native program: it runs where the build runs.
//
//   checkcfg [--allow-unverified] < config.ini
//
// Exit 0: the configuration passes; standard output then has, for each location key, one line
//   location <TAB> key <TAB> unset|local|http|https <TAB> pinned (1 or 0) <TAB> value
// followed by one line per pin of that location:
//   pin <TAB> key <TAB> what pins it
// Exit 1: refused, the reason on standard error. Exit 2: usage.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/config_rules.h"
#include "app/config_text_rules.h"
#include "app/package_checks.h"
#include "util/profile_text.h"

namespace {

struct Location {
  std::string key;
  std::string value;
  std::string kind;
  bool pinned = false;
  std::vector<std::string> pins;
};

const char* KindName(const std::string& value) {
  if (value.empty()) return "unset";
  switch (KindOfLocation(value)) {
    case LocationKind::kLocal:
      return "local";
    case LocationKind::kHttp:
      return "http";
    case LocationKind::kHttps:
      return "https";
  }
  return "http";
}

// The first reason `text` cannot be built into an installer, "" when there is none; `locations`
// gets what the summary reports.
std::string Check(const std::string& text, bool allowUnverified, std::vector<Location>& locations) {
  const ConfigTextVerdict verdict = JudgeConfigText(text);
  if (!verdict.Accepted()) return verdict.refusal;
  if (ProfileSectionCount(text, kConfigSection) == 0)
    return std::string("the configuration has no [") + kConfigSection + "] section";

  const ProfileTextLookup lookup(text);
  std::string names;
  bool anySet = false;
  for (const char* key : kLocationKeys) {
    Location location;
    location.key = key;
    location.value = lookup.Value(key);
    location.kind = KindName(location.value);
    location.pinned = IsLocationPinned(text, key);
    std::string why;
    const PackageChecks checks = ReadChecksFor(lookup, key, why);
    if (!checks.malformedKey.empty()) return MalformedValueText(checks.malformedKey) + ": " + why;
    if (checks.hashConfigured) location.pins.push_back("SHA-256 " + FormatSha256(checks.expectedHash));
    if (checks.requireSignature) location.pins.push_back("signature required");
    if (!checks.signerName.empty()) location.pins.push_back("signer named '" + checks.signerName + "'");
    if (checks.thumbprintConfigured)
      location.pins.push_back("signer thumbprint " + FormatSha256(checks.signerThumbprint));
    // A mirror is only tried after its location, and an Arm64 package only on Arm64, so neither
    // names a package for every system by itself.
    if (location.key == kWebFileKey || location.key == kWebFile64Key) {
      names += (names.empty() ? "" : ", ") + location.key;
      anySet = anySet || !location.value.empty();
    }
    locations.push_back(location);
  }
  if (!anySet) return "the configuration names no package in [" + std::string(kConfigSection) + "] (" + names + ")";

  for (const Location& location : locations) {
    if (location.value.empty() || location.pinned || allowUnverified) continue;
    const LocationPin pin = ClassifyLocationPin(text, location.key);
    const bool http = KindOfLocation(location.value) != LocationKind::kLocal;
    const std::string how = pin == LocationPin::kUnparsableUrl ? " is no URL the installer can parse ("
                            : http                             ? " is fetched over plain HTTP without a pin ("
                                   : " names a package beside the installer without a pin (";
    const std::string publisher = pin == LocationPin::kPublisherOnly ? std::string(kPublisherIsNoPinText) + "; " : "";
    return location.key + how + location.value + "): " + publisher +
           "anyone on the path could choose what runs as administrator. Add " + HashKeyFor(location.key) +
           " (the package's SHA-256) or SignerThumbprint (the signing certificate's SHA-256); or pass "
           "--allow-unverified";
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  const bool allowUnverified = argc == 2 && std::strcmp(argv[1], "--allow-unverified") == 0;
  if (argc > 2 || (argc == 2 && !allowUnverified)) {
    std::fprintf(stderr, "usage: checkcfg [--allow-unverified] < config.ini\n");
    return 2;
  }
  const std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  std::vector<Location> locations;
  const std::string reason = Check(text, allowUnverified, locations);
  if (!reason.empty()) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
  }
  for (const Location& location : locations) {
    std::printf("location\t%s\t%s\t%d\t%s\n", location.key.c_str(), location.kind.c_str(), location.pinned ? 1 : 0,
                location.value.c_str());
    for (const std::string& pin : location.pins) std::printf("pin\t%s\t%s\n", location.key.c_str(), pin.c_str());
  }
  return 0;
}
