// The Win32 checks of a package's file (downloaded, or copied from beside the installer), made
// through the one handle that is kept open from the end of the download or copy until the shell
// has started it, so that what was checked is what is started. What to ask of the package is
// decided in app/package_checks.h.
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

// Copies the file at `source` into `target` (created new, CreateNewFile) while holding the source
// against writers (HoldFileForReading), and hashes what it writes into `written`. The source's
// "Zone.Identifier" stream (the shell's mark of where it came from), and no other, goes with it;
// a source without one is copied without. The copy is closed when this returns. FALSE with the
// system's error in `error` when a step fails; a partial copy is deleted.
BOOL CopyHeldFile(const std::string& source, const std::string& target, Sha256Digest& written, DWORD& error);

// Verifies the Authenticode signature of the file behind `file` (`path` names it) with the
// platform's trust verification, and its signer's chain with the Authenticode chain policy.
// Revocation is not checked (no network round trip). 0 when valid, otherwise the trust error
// (TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, ...). When a valid signature was
// found, `signer` receives the signer certificate's simple display name as the certificate holds
// it (UTF-16) and `thumbprint` the certificate's SHA-256 (64 lower-case hex digits).
LONG VerifyHeldSignature(HANDLE file, const std::string& path, std::wstring& signer, std::string& thumbprint);

// Whether the signer's name is exactly the configured one (ANSI, as the configuration is read),
// compared in UTF-16: no best-fit mapping makes a look-alike character equal to a letter.
bool SignerNameMatches(const std::wstring& signer, const std::string& configured);

// The signer's name for the records, in the ANSI code page; a character it lacks becomes "?".
std::string SignerNameText(const std::wstring& signer);

// Whether the held file at `path` still holds the bytes whose SHA-256 was computed as they were
// written (`written`; `writtenBy` says how: "download" or "copy"), and everything `checks` asks of
// it.
PackageVerdict CheckHeldPackage(HANDLE file, const std::string& path, const Sha256Digest& written,
                                const char* writtenBy, const PackageChecks& checks);
