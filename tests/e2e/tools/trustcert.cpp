// trustcert: puts a certificate into (or takes it out of) the local machine's "Root" store of the
// Wine prefix, so that WinINet trusts a test server's self-signed certificate; or verifies a
// signed file as the installer verifies a package.
//   trustcert add|remove|contains <certificate file, DER or PEM>
//   trustcert verify <signed file>    prints "0x<trust code> <signer>"
// Exit codes: 0 done (contains: present; verify: trusted), 1 failed (contains: absent; verify: not
// trusted), 2 usage or unreadable file.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/held_package.h"
#include "framework/handle.h"

namespace {

struct CertStorePolicy : handle_policy::NullIsInvalid<HCERTSTORE> {
  static void Close(HCERTSTORE store) { CertCloseStore(store, 0); }
};
struct CertContextPolicy : handle_policy::NullIsInvalid<PCCERT_CONTEXT> {
  static void Close(PCCERT_CONTEXT context) { CertFreeCertificateContext(context); }
};
using UniqueCertStore = UniqueAny<HCERTSTORE, CertStorePolicy>;
using UniqueCertContext = UniqueAny<PCCERT_CONTEXT, CertContextPolicy>;

bool ReadFileBytes(const char* path, std::vector<BYTE>& bytes) {
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  bytes.resize(size);
  DWORD read = 0;
  return ReadFile(file.get(), bytes.data(), size, &read, nullptr) && read == size;
}

// DER as it stands; PEM ("-----BEGIN CERTIFICATE-----") decoded to DER.
bool ToDer(std::vector<BYTE>& bytes) {
  static const char kPem[] = "-----BEGIN";
  if (bytes.size() < sizeof kPem - 1 || std::string(bytes.begin(), bytes.begin() + sizeof kPem - 1) != kPem) {
    return true;
  }
  std::string text(bytes.begin(), bytes.end());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return false;
  bytes.assign(size, 0);
  return CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, bytes.data(), &size, nullptr, nullptr) != 0;
}

int Fail(const char* what) {
  fprintf(stderr, "trustcert: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: trustcert add|remove|contains <certificate file> | verify <signed file>\n");
    return 2;
  }
  std::string command = argv[1];
  if (command == "verify") {
    UniqueHandle file = HoldPackage(argv[2]);
    if (!file) return 2;
    std::wstring signer;
    std::string thumbprint;
    const LONG status = VerifyHeldSignature(file.get(), argv[2], signer, thumbprint);
    printf("0x%08lX %s\n", static_cast<unsigned long>(status), SignerNameText(signer).c_str());
    return status == 0 ? 0 : 1;
  }
  if (command != "add" && command != "remove" && command != "contains") return 2;
  std::vector<BYTE> der;
  if (!ReadFileBytes(argv[2], der) || !ToDer(der)) {
    fprintf(stderr, "trustcert: cannot read a certificate from %s\n", argv[2]);
    return 2;
  }
  UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
  if (!store) return Fail("CertOpenStore");
  if (command == "add") {
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      return Fail("CertAddEncodedCertificateToStore");
    }
    return 0;
  }
  UniqueCertContext wanted(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!wanted) return Fail("CertCreateCertificateContext");
  PCCERT_CONTEXT found =
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.get(), nullptr);
  if (command == "contains") return UniqueCertContext(found) ? 0 : 1;
  if (!found) {
    fprintf(stderr, "trustcert: the certificate is not in the store\n");
    return 1;
  }
  // CertDeleteCertificateFromStore frees the context it is given, on success and on failure.
  if (!CertDeleteCertificateFromStore(found)) return Fail("CertDeleteCertificateFromStore");
  if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) return Fail("CertControlStore");
  return 0;
}
