// stampcfg run on copies of the built installer: the text it stamps is what the installer then
// finds, as the only configuration resource, and every failure has its exit code and message.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/handle.h"
#include "res/resource.h"
#include "tests/win/resource_view.h"
#include "tests/win/test_helpers.h"

namespace {

using namespace resource_view;

struct RunResult {
  DWORD exit_code;
  std::string output;  // standard output and standard error together
};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

class Stampcfg : public win_test::ScratchFolderTest {
protected:
  Stampcfg() : ScratchFolderTest("stampcfg_test") {}

  void CopyOfSetup(const std::string& name) const {
    ASSERT_TRUE(CopyFileA(SETUP_EXE_PATH, Path(name).c_str(), FALSE)) << GetLastError();
  }

  RunResult Run(const std::string& arguments) const {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const std::string log = Path("output.txt");
    RunResult result = {~0u, {}};
    {
      UniqueHandle output(CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!output) return result;
      STARTUPINFOA startup = {};
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = startup.hStdError = output.get();
      std::string command = Quote(STAMPCFG_EXE_PATH) + " " + arguments;
      PROCESS_INFORMATION process = {};
      if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return result;
      UniqueHandle process_handle(process.hProcess), thread_handle(process.hThread);
      if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) return result;
      GetExitCodeProcess(process.hProcess, &result.exit_code);
    }
    result.output = ReadWholeFile(log);
    return result;
  }

  // The configuration resources of an executable, and the text of INI 135.
  static std::vector<ResourceEntry> ConfigEntries(HMODULE module) {
    std::vector<ResourceEntry> entries = ListResources(module);
    entries.erase(
        std::remove_if(entries.begin(), entries.end(), [](const ResourceEntry& e) { return e.type != "INI"; }),
        entries.end());
    return entries;
  }

  void ExpectCarries(const std::string& name, const std::string& text) const {
    UniqueModule stamped = LoadForResources(Path(name));
    ASSERT_TRUE(stamped) << name << " no longer loads";
    const std::vector<ResourceEntry> only = {{"INI", "#135", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}};
    EXPECT_EQ(ConfigEntries(stamped.get()), only) << "one configuration, in the script's language";
    EXPECT_EQ(ResourceBytes(stamped.get(), "INI", MAKEINTRESOURCEA(IDR_CONFIG_INI)), text + '\0');
  }
};

const char kConfig[] =
    "\r\n\r\n[runtime]\r\nWebFile=http://mirror.example/pkg/alt32.exe\r\n"
    "WebFile64=http://mirror.example/pkg/alt64.exe\r\nCaption=Alt Product\r\n"
    "CompanyNameShort=Alt\r\nparameters=/s\r\n;;;;name: alt.exe\r\n\r\n\r\n";

TEST_F(Stampcfg, StampsACopyAndLeavesTheInstallerAsItWas) {
  CopyOfSetup("original.exe");
  const std::string before = ReadWholeFile(Path("original.exe"));
  Write("alt.ini", kConfig);

  RunResult run = Run("--allow-unverified " + Quote(Path("original.exe")) + " " + Quote(Path("alt.ini")) + " " +
                      Quote(Path("alt.exe")));
  ASSERT_EQ(run.exit_code, 0u) << run.output;

  ExpectCarries("alt.exe", kConfig);
  EXPECT_EQ(ReadWholeFile(Path("original.exe")), before);
  // Everything but the configuration is untouched.
  UniqueModule original = LoadForResources(Path("original.exe")), stamped = LoadForResources(Path("alt.exe"));
  ASSERT_TRUE(original && stamped);
  EXPECT_EQ(ListResources(stamped.get()), ListResources(original.get()));
  for (const ResourceEntry& e : ListResources(original.get())) {
    if (e.type == "INI") continue;
    auto id = [](const std::string& text) {
      return text[0] == '#' ? MAKEINTRESOURCEA(std::stoi(text.substr(1))) : text.c_str();
    };
    EXPECT_EQ(ResourceBytes(stamped.get(), id(e.type), id(e.name)),
              ResourceBytes(original.get(), id(e.type), id(e.name)))
        << e.type << " " << e.name;
  }
}

// Stamped in place, one text after another on the same file: each replaces the last. The texts
// are taken as they are, and a large one makes the resource section grow past its old end.
TEST_F(Stampcfg, EachStampInPlaceReplacesTheLast) {
  std::string large = "[runtime]\r\nWebFile=http://mirror.example/pkg/big.exe\r\n";
  while (large.size() < 40000) large += ";" + std::string(70, 'x') + "\r\n";
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"CRLF text", kConfig},
      {"LF-only text", "[runtime]\nWebFile=http://mirror.example/pkg/lf.exe\n"},
      {"large text", large},
      {"empty text", ""},
      {"shipped-size text again", kConfig},
  };
  CopyOfSetup("inplace.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("case.ini", c.text);
    RunResult run = Run("--allow-unverified " + Quote(Path("inplace.exe")) + " " + Quote(Path("case.ini")));
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    ExpectCarries("inplace.exe", c.text);
    // Mapped as an image (relocated: this process already sits at the executable's base), so a
    // broken section layout after the rewrite would show.
    UniqueModule image(LoadLibraryExA(Path("inplace.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    EXPECT_TRUE(image) << "error " << GetLastError();
    DWORD ignored = 0;
    EXPECT_NE(GetFileVersionInfoSizeA(Path("inplace.exe").c_str(), &ignored), 0u) << "version block lost";
  }
}

TEST_F(Stampcfg, FailuresEndWithTheirExitCodeAndSayWhy) {
  CopyOfSetup("setup.exe");
  Write("ok.ini", "[runtime]\r\nWebFile64=https://mirror.example/pkg/alt64.exe\r\n");
  Write("unpinned.ini", kConfig);
  Write("unpinned-mirror.ini",
        "[runtime]\r\nWebFile64=https://a.example/p.exe\r\n"
        "WebFile64Mirror=http://b.example/p.exe\r\n");
  Write("local.ini", "[runtime]\r\nWebFile64=64\\package.exe\r\n");
  Write("publisher.ini", "[runtime]\r\nWebFile64=64\\package.exe\r\nRequireSignature=1\r\nSignerName=Quillmoor\r\n");
  Write("unparsable.ini", "[runtime]\r\nWebFile64=http:/mirror.example/pkg/alt64.exe\r\nWebFile64Sha256=" +
                              std::string(64, 'a') + "\r\n");
  Write("zero-byte.ini",
        std::string("[runtime]\r\nWebFile64=https://mirror.example/pkg/alt64.exe\r\n") + '\0' + "WebFile=x");
  Write("retries.ini", "[runtime]\r\nWebFile64=https://mirror.example/pkg/alt64.exe\r\nRetries=11\r\n");
  Write("text.exe", "MZ but nothing more");
  CopyOfSetup("locked.exe");
  // Open for reading and shared only for reading, as a running installer would be: stampcfg can
  // read it but not write it.
  UniqueHandle lock(CreateFileA(Path("locked.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(lock);
  struct Case {
    const char* what;
    std::string arguments;
    DWORD exit_code;
    const char* says;
  };
  const Case cases[] = {
      {"no arguments", "", 1, "usage: stampcfg"},
      {"too many arguments", "a b c d", 1, "usage: stampcfg"},
      {"configuration missing", Quote(Path("setup.exe")) + " " + Quote(Path("missing.ini")), 2, "missing.ini"},
      {"installer missing", Quote(Path("missing.exe")) + " " + Quote(Path("ok.ini")), 3, "missing.exe"},
      {"installer not an executable", Quote(Path("text.exe")) + " " + Quote(Path("ok.ini")), 4,
       "is not a Windows executable"},
      {"configuration given as installer", Quote(Path("ok.ini")) + " " + Quote(Path("ok.ini")), 4,
       "is not a Windows executable"},
      {"output directory missing",
       Quote(Path("setup.exe")) + " " + Quote(Path("ok.ini")) + " " + Quote(Path("nodir\\out.exe")), 5, "cannot copy"},
      {"installer locked against writing", Quote(Path("locked.exe")) + " " + Quote(Path("ok.ini")), 6, "locked.exe"},
      {"http location without a pin", Quote(Path("setup.exe")) + " " + Quote(Path("unpinned.ini")), 7,
       "WebFile64 is an http:// URL that nothing pins; add WebFile64Sha256"},
      {"http mirror without a pin", Quote(Path("setup.exe")) + " " + Quote(Path("unpinned-mirror.ini")), 7,
       "WebFile64Mirror is an http:// URL that nothing pins; add WebFile64Sha256"},
      {"local location without a pin", Quote(Path("setup.exe")) + " " + Quote(Path("local.ini")), 7,
       "WebFile64 names a package beside the installer that nothing pins; add WebFile64Sha256"},
      {"local location with a publisher but no pin", Quote(Path("setup.exe")) + " " + Quote(Path("publisher.ini")), 7,
       "WebFile64 names a package beside the installer that nothing pins: RequireSignature and SignerName name a "
       "publisher but do not pin one; add WebFile64Sha256 (the package's SHA-256, 64 hex digits) or SignerThumbprint"},
      // What the installer would misread or refuse, whatever --allow-unverified says.
      {"NUL byte", "--allow-unverified " + Quote(Path("setup.exe")) + " " + Quote(Path("zero-byte.ini")), 8,
       "holds a NUL byte"},
      {"malformed value", "--allow-unverified " + Quote(Path("setup.exe")) + " " + Quote(Path("retries.ini")), 8,
       "Malformed Retries value in the configuration: '11' is not a number from 0 to 10"},
      {"location the installer cannot parse, with a hash",
       Quote(Path("setup.exe")) + " " + Quote(Path("unparsable.ini")), 7,
       "WebFile64 is no URL the installer can parse (it would fetch it over plain http); correct it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult run = Run(c.arguments);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
  // A failed run leaves the installer as it was.
  UniqueModule untouched = LoadForResources(Path("setup.exe"));
  ASSERT_TRUE(untouched);
  EXPECT_EQ(ReadWholeFile(Path("setup.exe")), ReadWholeFile(SETUP_EXE_PATH));
}

}  // namespace
