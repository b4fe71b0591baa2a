#include "app/held_package.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

#include "framework/file.h"
#include "framework/format.h"
#include "framework/system_library.h"
#include "framework/ui_text.h"
#include "records/records.h"

namespace {
constexpr DWORD kHashBlock = 64 * 1024;

// The trust functions, loaded by full path from the system directory only when a signature is to
// be checked: the installer's imports stay the same on every system it starts on, and a DLL of
// the same name lying beside a downloaded installer is never picked up.
struct TrustApi {
  UniqueModule wintrust;
  UniqueModule crypt32;
  decltype(&WinVerifyTrust) verifyTrust = nullptr;
  decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
  decltype(&WTHelperGetProvSignerFromChain) signerFromChain = nullptr;
  decltype(&CertVerifyCertificateChainPolicy) chainPolicy = nullptr;
  decltype(&CertGetNameStringW) nameString = nullptr;
};

template <typename Function>
bool Resolve(const UniqueModule& module, const char* name, Function& function) {
  if (!module) return false;
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
  return function != nullptr;
}

bool LoadTrustApi(TrustApi& api) {
  api.wintrust.reset(LoadSystemLibrary("wintrust.dll"));
  api.crypt32.reset(LoadSystemLibrary("crypt32.dll"));
  return Resolve(api.wintrust, "WinVerifyTrust", api.verifyTrust) &&
         Resolve(api.wintrust, "WTHelperProvDataFromStateData", api.providerData) &&
         Resolve(api.wintrust, "WTHelperGetProvSignerFromChain", api.signerFromChain) &&
         Resolve(api.crypt32, "CertVerifyCertificateChainPolicy", api.chainPolicy) &&
         Resolve(api.crypt32, "CertGetNameStringW", api.nameString);
}

// One verification and what closing the state it leaves open needs.
struct TrustCall {
  decltype(&WinVerifyTrust) verifyTrust = nullptr;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO file = {};
  WINTRUST_DATA data = {};
};
struct TrustStatePolicy : handle_policy::NullIsInvalid<TrustCall*> {
  static void Close(TrustCall* call) {
    call->data.dwStateAction = WTD_STATEACTION_CLOSE;
    call->verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &call->action, &call->data);
  }
};
using UniqueTrustState = UniqueAny<TrustCall*, TrustStatePolicy>;

// Where the shell keeps the zone a file came from; the only stream of a package that is copied.
const char kZoneStream[] = ":Zone.Identifier";
// A zone record is a few lines of text; a larger stream is no mark this run passes on.
constexpr DWORD kZoneStreamLimit = 64 * 1024;

// Copies the source's zone stream to the target, so that the copy is known to come from where the
// source came from. A source without one (or on a volume without streams) gives nothing to copy;
// one that is there but cannot be copied whole fails the copy with the system's error in `error`.
bool CopyZoneStream(const std::string& source, const std::string& target, DWORD& error) {
  const UniqueHandle from(CreateFileA((source + kZoneStream).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!from) {
    error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
  }
  std::vector<BYTE> mark(kZoneStreamLimit + 1);
  DWORD read = 0, put = 0;
  if (!ReadFile(from.get(), mark.data(), kZoneStreamLimit + 1, &read, nullptr)) {
    error = GetLastError();
    return false;
  }
  if (read > kZoneStreamLimit) {
    error = ERROR_FILE_TOO_LARGE;
    return false;
  }
  const UniqueHandle to(CreateFileA((target + kZoneStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!to || !WriteFile(to.get(), mark.data(), read, &put, nullptr) || put != read) {
    error = to && put != read ? ERROR_WRITE_FAULT : GetLastError();
    return false;
  }
  return true;
}
}  // namespace

UniqueHandle HoldPackage(const std::string& path) { return HoldFileForReading(path.c_str()); }

BOOL CopyHeldFile(const std::string& source, const std::string& target, Sha256Digest& written, DWORD& error) {
  UniqueHandle from = HoldFileForReading(source.c_str());
  if (!from) {
    error = GetLastError();
    return FALSE;
  }
  UniqueHandle to = CreateNewFile(target.c_str());
  if (!to) {
    error = GetLastError();
    return FALSE;
  }
  Sha256 hash;
  std::vector<BYTE> block(kHashBlock);
  for (;;) {
    DWORD read = 0, put = 0;
    if (!ReadFile(from.get(), block.data(), kHashBlock, &read, nullptr)) {
      error = GetLastError();
      break;
    }
    if (read == 0) {
      if (!CopyZoneStream(source, target, error)) break;
      written = hash.Finish();
      return TRUE;
    }
    if (!WriteFile(to.get(), block.data(), read, &put, nullptr)) {
      error = GetLastError();
      break;
    }
    if (put != read) {
      error = ERROR_WRITE_FAULT;
      break;
    }
    hash.Update(block.data(), read);
  }
  to.reset();
  DeleteFileA(target.c_str());
  return FALSE;
}

bool HashHeldFile(HANDLE file, Sha256Digest& digest, DWORD& error) {
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    error = GetLastError();
    return false;
  }
  Sha256 hash;
  std::vector<BYTE> block(kHashBlock);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, block.data(), kHashBlock, &read, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (read == 0) break;
    hash.Update(block.data(), read);
  }
  digest = hash.Finish();
  return true;
}

LONG VerifyHeldSignature(HANDLE file, const std::string& path, std::wstring& signer, std::string& thumbprint) {
  TrustApi api;
  if (!LoadTrustApi(api)) return TRUST_E_PROVIDER_UNKNOWN;

  const std::wstring widePath = WidenAnsi(path);
  if (widePath.empty() && !path.empty()) return TRUST_E_SUBJECT_FORM_UNKNOWN;

  TrustCall call;
  call.verifyTrust = api.verifyTrust;
  call.file.cbStruct = sizeof call.file;
  call.file.pcwszFilePath = widePath.c_str();
  call.file.hFile = file;  // the file is read through the held handle, not opened again by name
  call.data.cbStruct = sizeof call.data;
  call.data.dwUIChoice = WTD_UI_NONE;
  call.data.fdwRevocationChecks = WTD_REVOKE_NONE;
  call.data.dwUnionChoice = WTD_CHOICE_FILE;
  call.data.pFile = &call.file;
  call.data.dwStateAction = WTD_STATEACTION_VERIFY;
  const LONG status = api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &call.action, &call.data);
  UniqueTrustState state(call.data.hWVTStateData != nullptr ? &call : nullptr);
  if (status != 0) return status;

  CRYPT_PROVIDER_DATA* provider = api.providerData(call.data.hWVTStateData);
  CRYPT_PROVIDER_SGNR* found = provider != nullptr ? api.signerFromChain(provider, 0, FALSE, 0) : nullptr;
  if (found == nullptr || found->pChainContext == nullptr || found->csCertChain == 0) return TRUST_E_NOSIGNATURE;
  // Wine 8's trust provider skips the chain policy for a signer certificate signed with SHA-256 (its
  // 32-byte signature hash does not fit the 20 bytes it asks for) and reports success even for an
  // untrusted root. Applied here, the policy holds there too; on Windows it repeats what was done.
  CERT_CHAIN_POLICY_PARA policyPara = {};
  policyPara.cbSize = sizeof policyPara;
  CERT_CHAIN_POLICY_STATUS policyStatus = {};
  policyStatus.cbSize = sizeof policyStatus;
  if (!api.chainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, found->pChainContext, &policyPara, &policyStatus)) {
    return TRUST_E_SYSTEM_ERROR;
  }
  if (policyStatus.dwError != 0) return static_cast<LONG>(policyStatus.dwError);
  // Wine's policy also passes a chain whose issuer was found nowhere, neither in the signature nor
  // in a store; Windows refuses it. The chain's own status says so on both.
  const DWORD chainErrors = found->pChainContext->TrustStatus.dwErrorStatus;
  if (chainErrors & CERT_TRUST_IS_PARTIAL_CHAIN) return CERT_E_CHAINING;
  if (chainErrors & CERT_TRUST_IS_UNTRUSTED_ROOT) return CERT_E_UNTRUSTEDROOT;

  PCCERT_CONTEXT certificate = found->pasCertChain[0].pCert;
  const DWORD size = api.nameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  std::vector<wchar_t> name(size > 0 ? size : 1, L'\0');
  api.nameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), static_cast<DWORD>(name.size()));
  signer = std::wstring(name.data());  // constructed, not assigned: no replace routine for wide strings
  Sha256 hash;
  hash.Update(certificate->pbCertEncoded, certificate->cbCertEncoded);
  thumbprint = FormatSha256(hash.Finish());
  return 0;
}

bool SignerNameMatches(const std::wstring& signer, const std::string& configured) {
  return WidenAnsi(configured) == signer;
}

std::string SignerNameText(const std::wstring& signer) {
  if (signer.empty()) return std::string();
  const int size = static_cast<int>(signer.size());
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, signer.data(), size, nullptr, 0, "?", nullptr);
  std::string text(length > 0 ? length : 0, '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, signer.data(), size, &text[0], length, "?", nullptr);
  return text;
}

PackageVerdict CheckHeldPackage(HANDLE file, const std::string& path, const Sha256Digest& written,
                                const char* writtenBy, const PackageChecks& checks) {
  if (!checks.malformedKey.empty()) return PackageVerdict::Refuse(MalformedValueText(checks.malformedKey));
  Sha256Digest actual = {};
  DWORD error = 0;
  if (!HashHeldFile(file, actual, error)) {
    return PackageVerdict::Refuse(
        FormatText("Package hash could not be computed: %s (error %lu)", path.c_str(), error));
  }
  // Between the last write and the hold the file was out of the installer's hands.
  std::string refusal;
  if (actual != written) {
    refusal = FormatText("Package changed after %s: %s", writtenBy, path.c_str());
  } else if (checks.hashConfigured && actual != checks.expectedHash) {
    refusal = FormatText("Package hash mismatch: %s", path.c_str());
  }
  if (!refusal.empty()) {
    LogEvent(FormatText("SHA-256 of the refused package: %s", FormatSha256(actual).c_str()), LOG_INFO);
    return PackageVerdict::Refuse(refusal);
  }
  if (checks.requireSignature) {
    std::wstring signer;
    std::string thumbprint;
    const LONG status = VerifyHeldSignature(file, path, signer, thumbprint);
    if (status != 0)
      return PackageVerdict::RefuseSignature(
          FormatText("Package signature not valid: %s (0x%08lX)", path.c_str(), static_cast<unsigned long>(status)));
    const bool certificateAccepted =
        !checks.thumbprintConfigured || thumbprint == FormatSha256(checks.signerThumbprint);
    if (!certificateAccepted) {
      LogEvent(FormatText("SHA-256 of the refused signer's certificate: %s",
                          thumbprint.empty() ? "unknown" : thumbprint.c_str()),
               LOG_INFO);
    }
    if (!certificateAccepted || (!checks.signerName.empty() && !SignerNameMatches(signer, checks.signerName))) {
      return PackageVerdict::RefuseSignature(
          FormatText("Package signer not accepted: %s (signed by %s)", path.c_str(), SignerNameText(signer).c_str()));
    }
  }
  return PackageVerdict::Pass();
}
