// The Win32 checks of a downloaded package's file, made through the one handle that is kept open
// from the end of the download until the shell has started it, so that what was checked is what is
// started. What to ask of the package is decided in app/package_checks.h.
#pragma once

#include <windows.h>

#include <string>

#include "app/package_checks.h"
#include "framework/handle.h"

// Opens the file for reading and shares it for reading only: while the owner lives nobody can
// write, rename or delete it, and the shell can still start it. Invalid when it cannot be opened.
UniqueHandle HoldPackage(const std::string& path);

// SHA-256 of the whole file behind `file`, read from its start through that handle (the file
// position is moved). False, with the system error number in `error`, when a read fails.
bool HashHeldFile(HANDLE file, Sha256Digest& digest, DWORD& error);

// Verifies the Authenticode signature of the file behind `file` (`path` names it) with the
// platform's trust verification, and its signer's chain with the Authenticode chain policy.
// Revocation is not checked (no network round trip). 0 when valid, otherwise the trust error
// (TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, ...). When a valid signature was
// found, `signer` receives the signer certificate's simple display name and `thumbprint` the
// certificate's SHA-256 (64 lower-case hex digits).
LONG VerifyHeldSignature(HANDLE file, const std::string& path, std::string& signer, std::string& thumbprint);

// Whether the held file at `path` still holds the bytes whose SHA-256 the download computed as it
// wrote them (`written`), and everything `checks` asks of it: "" when it passes, otherwise the
// refusal text for the install log and the status file.
std::string CheckHeldPackage(HANDLE file, const std::string& path, const Sha256Digest& written,
                             const PackageChecks& checks);
