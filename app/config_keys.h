// The names of the embedded configuration: its section and every key the installer reads, each
// spelled here and nowhere else, so that the installer and the tools cannot look up different keys.
#pragma once

inline constexpr char kConfigSection[] = "runtime";

// The package location a 32-bit and a 64-bit system reads, its second address (tried after the
// first has failed) and the SHA-256 that pins both.
inline constexpr char kWebFileKey[] = "WebFile";
inline constexpr char kWebFile64Key[] = "WebFile64";
inline constexpr char kWebFileMirrorKey[] = "WebFileMirror";
inline constexpr char kWebFile64MirrorKey[] = "WebFile64Mirror";
inline constexpr char kWebFileSha256Key[] = "WebFileSha256";
inline constexpr char kWebFile64Sha256Key[] = "WebFile64Sha256";
// The same three for a system whose processor is Arm64; optional: without a location there, such a
// system reads the 64-bit keys.
inline constexpr char kWebFileArm64Key[] = "WebFileArm64";
inline constexpr char kWebFileArm64MirrorKey[] = "WebFileArm64Mirror";
inline constexpr char kWebFileArm64Sha256Key[] = "WebFileArm64Sha256";

inline constexpr char kCaptionKey[] = "Caption";
inline constexpr char kCompanyNameShortKey[] = "CompanyNameShort";
inline constexpr char kParametersKey[] = "parameters";
inline constexpr char kProgressbarKey[] = "progressbar";
inline constexpr char kRequireSignatureKey[] = "RequireSignature";
inline constexpr char kSignerNameKey[] = "SignerName";
inline constexpr char kSignerThumbprintKey[] = "SignerThumbprint";
inline constexpr char kRetriesKey[] = "Retries";
// Optional: where a run reports how it ended (https:// only), and the complete installer a user
// whose download failed is pointed to (http:// or https://).
inline constexpr char kReportUrlKey[] = "ReportUrl";
inline constexpr char kFullInstallerUrlKey[] = "FullInstallerUrl";

// The location keys a configuration names packages with, mirrors included; every rule on locations
// applies to each.
inline constexpr const char* kLocationKeys[] = {kWebFileKey,       kWebFile64Key,       kWebFileArm64Key,
                                                kWebFileMirrorKey, kWebFile64MirrorKey, kWebFileArm64MirrorKey};
