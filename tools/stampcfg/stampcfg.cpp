// stampcfg: replaces the embedded configuration of a built installer, so that a builder can ship
// their own configuration without a compiler.
//
//   stampcfg [--allow-unverified] [--allow-malformed] <installer.exe> <config.ini> [<output.exe>]
//   stampcfg --strings <LANGID> <blocks.bin> <installer.exe>
//
// The installer is copied to <output.exe> first when that is given, otherwise it is changed in
// place. Resource "INI" 135 becomes the bytes of <config.ini> followed by one NUL. The text is
// taken as it is: the installer's INI reader accepts CRLF and LF line ends alike. A text the
// installer would refuse or misread is refused (app/config_text_rules.h); --allow-malformed lets
// a value through that the installer refuses itself, so that a test can prove that refusal. A
// configuration whose package nothing pins (no SHA-256, no required signature) is refused unless
// --allow-unverified says so: an http:// URL (anyone on the path could choose what runs elevated),
// a package beside the installer (anyone who can write there could), or a URL the installer cannot
// parse (it would fetch it over plain http).
//
// --strings sets one language's string table blocks in place: <blocks.bin> holds records of a
// block number (16 bits), a size (32 bits, both little-endian) and that many bytes; a size of 0
// removes the block. make-installer writes it from a checked language file (tools/langfile.py),
// so that a translation is judged by the same rules as the build's.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/config_rules.h"
#include "app/config_text_rules.h"
#include "app/package_checks.h"
#include "framework/error_text.h"
#include "framework/handle.h"
#include "res/resource.h"

namespace {

enum ExitCode {
  kOk = 0,
  kUsage = 1,
  kConfigUnreadable = 2,
  kInstallerUnreadable = 3,
  kNotAnExecutable = 4,
  kCopyFailed = 5,
  kUpdateFailed = 6,
  kUnpinned = 7,
  kMalformed = 8,
};

// The language every resource of setup.rc carries. Under any other language the update would add
// a second INI 135 beside the old one, and the loader might still find the old one first.
const WORD kConfigLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Discards the pending changes unless the owner is released into a committing EndUpdateResourceA.
struct ResourceUpdatePolicy : handle_policy::NullIsInvalid<HANDLE> {
  static void Close(HANDLE update) { EndUpdateResourceA(update, TRUE); }
};
using UniqueResourceUpdate = UniqueAny<HANDLE, ResourceUpdatePolicy>;

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "stampcfg: %s\n", message.c_str());
  return code;
}

// Reads a whole file; false with GetLastError set when it cannot.
bool ReadWholeFile(const char* path, std::string& contents) {
  UniqueHandle file(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  contents.assign(size, '\0');
  DWORD read = 0;
  if (size != 0 && (!ReadFile(file.get(), &contents[0], size, &read, nullptr) || read != size)) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_READ_FAULT);
    return false;
  }
  return true;
}

// A DOS stub whose header points at a "PE\0\0" signature: what BeginUpdateResourceA can work on.
bool IsPortableExecutable(const std::string& image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  DWORD offset = 0;
  image.copy(reinterpret_cast<char*>(&offset), sizeof offset, 0x3c);
  return offset <= image.size() - 4 && image.compare(offset, 4, std::string("PE\0\0", 4)) == 0;
}

bool HasConfigResource(const char* path) {
  UniqueModule image(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
  return image && FindResourceExA(image.get(), "INI", MAKEINTRESOURCEA(IDR_CONFIG_INI), kConfigLanguage) != nullptr;
}

// Applies a --strings record file to `target`: every block is written, or removed when empty, in
// one update that is committed only when all of them were taken.
int StampStrings(const char* langidText, const char* blocksPath, const char* target) {
  char* end = nullptr;
  const unsigned long langid = std::strtoul(langidText, &end, 16);
  if (end == langidText || *end != '\0' || langid == 0 || langid > 0xFFFF) {
    std::fprintf(stderr, "stampcfg: '%s' is no LANGID (hexadecimal, e.g. 0407)\n", langidText);
    return kUsage;
  }
  std::string blocks;
  if (!ReadWholeFile(blocksPath, blocks))
    return Fail(kConfigUnreadable, std::string("cannot read '") + blocksPath + "': " + SystemErrorText(GetLastError()));
  UniqueResourceUpdate update(BeginUpdateResourceA(target, FALSE));
  if (!update)
    return Fail(kUpdateFailed,
                std::string("cannot open '") + target + "' for a resource update: " + SystemErrorText(GetLastError()));
  size_t at = 0;
  int count = 0;
  while (at < blocks.size()) {
    WORD block = 0;
    DWORD size = 0;
    if (blocks.size() - at < sizeof block + sizeof size) return Fail(kMalformed, "the block file is cut short");
    blocks.copy(reinterpret_cast<char*>(&block), sizeof block, at);
    blocks.copy(reinterpret_cast<char*>(&size), sizeof size, at + sizeof block);
    at += sizeof block + sizeof size;
    if (block == 0 || size > blocks.size() - at) return Fail(kMalformed, "the block file is cut short");
    if (!UpdateResourceA(update.get(), MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(block), static_cast<WORD>(langid),
                         size != 0 ? &blocks[at] : nullptr, size))
      return Fail(kUpdateFailed, std::string("cannot set a string table block of '") + target +
                                     "': " + SystemErrorText(GetLastError()));
    at += size;
    ++count;
  }
  if (!EndUpdateResourceA(update.release(), FALSE))
    return Fail(kUpdateFailed,
                std::string("cannot write the resources of '") + target + "': " + SystemErrorText(GetLastError()));
  std::printf("stampcfg: '%s' now carries %d string table blocks of language %04lX\n", target, count, langid);
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--strings") == 0) return StampStrings(argv[2], argv[3], argv[4]);
  bool allowUnverified = false;
  bool allowMalformed = false;
  for (; argc > 1; --argc, ++argv) {
    if (std::strcmp(argv[1], "--allow-unverified") == 0) {
      allowUnverified = true;
    } else if (std::strcmp(argv[1], "--allow-malformed") == 0) {
      allowMalformed = true;
    } else {
      break;
    }
  }
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr,
                 "usage: stampcfg [--allow-unverified] [--allow-malformed] <installer.exe> <config.ini>\n"
                 "                [<output.exe>]\n"
                 "       stampcfg --strings <LANGID> <blocks.bin> <installer.exe>\n"
                 "Replaces the installer's configuration (resource INI %d) with the text of\n"
                 "<config.ini>. With <output.exe> the installer is copied there first and left\n"
                 "unchanged; without it the installer itself is changed. A WebFile, WebFile64 or\n"
                 "WebFileArm64 (or its mirror, the same name with \"Mirror\") that is an http:// URL\n"
                 "or names a package beside the installer needs its SHA-256 (the same name with\n"
                 "\"Sha256\") or a SignerThumbprint (RequireSignature and SignerName name a publisher\n"
                 "but pin none), and one the installer cannot parse as a URL is refused, unless\n"
                 "--allow-unverified is given. A value the installer refuses (it then refuses\n"
                 "every run) is refused unless --allow-malformed is given, which serves to test that\n"
                 "refusal and never to ship.\n"
                 "Exit codes: 0 done, 1 usage, 2 configuration unreadable, 3 installer unreadable,\n"
                 "4 installer not an executable, 5 copy failed, 6 resource update failed,\n"
                 "7 package location not pinned, 8 configuration the installer would refuse or\n"
                 "misread (a malformed value, a second [runtime] section, a key set twice, a NUL\n"
                 "byte, a value of %d characters or more).\n",
                 IDR_CONFIG_INI, static_cast<int>(kLongestConfigValue + 1));
    return kUsage;
  }
  const char* installer = argv[1];
  const char* configPath = argv[2];
  const bool copyFirst = argc == 4;
  const char* target = copyFirst ? argv[3] : installer;

  std::string config;
  if (!ReadWholeFile(configPath, config))
    return Fail(kConfigUnreadable,
                std::string("cannot read the configuration '") + configPath + "': " + SystemErrorText(GetLastError()));
  const ConfigTextVerdict verdict = JudgeConfigText(config);
  if (!verdict.Accepted() && !(allowMalformed && verdict.installerRefuses))
    return Fail(kMalformed, std::string("'") + configPath + "' cannot be stamped: " + verdict.refusal);
  if (!verdict.Accepted())
    std::fprintf(stderr, "stampcfg: warning: %s; stamped as --allow-malformed asks; the installer will refuse it\n",
                 verdict.refusal.c_str());
  bool unpinned = false;
  for (const char* key : kLocationKeys) {
    const LocationPin pin = ClassifyLocationPin(config, key);
    if (pin == LocationPin::kPinned) continue;
    unpinned = true;
    const std::string hashKey = HashKeyFor(key);
    std::string what, remedy;
    if (pin == LocationPin::kUnparsableUrl) {
      what = "is no URL the installer can parse (it would fetch it over plain http)";
      remedy = "correct it";
    } else {
      const bool http = KindOfLocation(ProfileTextLookup(config).Value(key)) != LocationKind::kLocal;
      what = http ? "is an http:// URL that nothing pins" : "names a package beside the installer that nothing pins";
      if (pin == LocationPin::kPublisherOnly) what += std::string(": ") + kPublisherIsNoPinText;
      remedy = "add " + hashKey + " (the package's SHA-256, 64 hex digits) or SignerThumbprint";
      if (http) remedy += ", use https://";
    }
    if (allowUnverified) {
      std::fprintf(stderr, "stampcfg: warning: %s %s; stamped unverified as --allow-unverified asks\n", key,
                   what.c_str());
    } else {
      std::fprintf(stderr, "stampcfg: %s %s; %s, or pass --allow-unverified\n", key, what.c_str(), remedy.c_str());
    }
  }
  if (unpinned && !allowUnverified) return kUnpinned;

  std::string image;
  if (!ReadWholeFile(installer, image))
    return Fail(kInstallerUnreadable,
                std::string("cannot read the installer '") + installer + "': " + SystemErrorText(GetLastError()));
  if (!IsPortableExecutable(image))
    return Fail(kNotAnExecutable, std::string("'") + installer + "' is not a Windows executable");

  if (copyFirst && !CopyFileA(installer, target, FALSE))
    return Fail(kCopyFailed,
                std::string("cannot copy '") + installer + "' to '" + target + "': " + SystemErrorText(GetLastError()));
  if (!HasConfigResource(target))
    std::fprintf(stderr, "stampcfg: note: '%s' had no configuration resource; adding one\n", target);

  // The resource holds the text and its terminating NUL.
  config.push_back('\0');
  UniqueResourceUpdate update(BeginUpdateResourceA(target, FALSE));
  if (!update)
    return Fail(kUpdateFailed,
                std::string("cannot open '") + target + "' for a resource update: " + SystemErrorText(GetLastError()));
  if (!UpdateResourceA(update.get(), "INI", MAKEINTRESOURCEA(IDR_CONFIG_INI), kConfigLanguage, &config[0],
                       static_cast<DWORD>(config.size())))
    return Fail(kUpdateFailed, std::string("cannot replace the configuration of '") + target +
                                   "': " + SystemErrorText(GetLastError()));
  if (!EndUpdateResourceA(update.release(), FALSE))
    return Fail(kUpdateFailed,
                std::string("cannot write the resources of '") + target + "': " + SystemErrorText(GetLastError()));

  std::printf("stampcfg: '%s' now carries the configuration '%s' (%lu bytes)\n", target, configPath,
              static_cast<unsigned long>(config.size() - 1));
  return kOk;
}
