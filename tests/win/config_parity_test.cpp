// One configuration, two readers: the installer's (the system's INI reader on the extracted file,
// through the lookup ReadRuntimeConfig uses) and the tools' (util/profile_text.h on the text, as
// checkcfg and stampcfg read it). Both must come to the same values and refuse the same key, so
// that a configuration the tools accept is one the installer runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/config_rules.h"
#include "app/config_text_rules.h"
#include "app/runtime_config.h"
#include "tests/win/test_helpers.h"

namespace {

class ConfigParity : public win_test::ScratchFolderTest {
protected:
  ConfigParity() : ScratchFolderTest("config_parity_test") {}
};

std::string Shown(const std::string& key) { return key.empty() ? "accepted" : key; }

TEST_F(ConfigParity, TheInstallerAndTheToolsJudgeEveryConfigurationAlike) {
  const std::string head = "[runtime]\r\nWebFile=https://h.example/p32.exe\r\nWebFile64=https://h.example/p64.exe\r\n";
  const std::string hash(64, 'a');
  const std::string longUrl = "https://h.example/" + std::string(282, 'x');  // 300 characters
  struct Row {
    const char* what;
    std::string text;
    const char* malformed64;  // the key the rules name on a 64-bit system, "" for none
    const char* malformed32;
    const char* malformedArm64 = nullptr;  // nullptr: as on a 64-bit system
    const char* locationArm64 = nullptr;   // the location an Arm64 system reads; nullptr: not checked
  };
  const Row rows[] = {
      {"good configuration",
       head +
           "Caption=Quillmoor\r\nparameters=/s lite\r\nprogressbar=0\r\nRetries=3\r\nWebFile64Mirror=http://m.example/"
           "p64.exe\r\nWebFile64Sha256=" +
           hash +
           "\r\nRequireSignature=1\r\nReportUrl=https://r.example/runs\r\nFullInstallerUrl=http://f.example/\r\n",
       "", ""},
      {"Retries=11", head + "Retries=11\r\n", "Retries", "Retries"},
      {"Retries=-1", head + "Retries=-1\r\n", "Retries", "Retries"},
      {"Retries= 3 (spaces trimmed)", head + "Retries= 3 \r\n", "", ""},
      {"Retries quoted", head + "Retries=\"3\"\r\n", "", ""},
      {"mirror ftp://x", head + "WebFile64Mirror=ftp://x\r\n", "WebFile64Mirror", ""},
      {"300-character URL", "[runtime]\r\nWebFile=https://h.example/p32.exe\r\nWebFile64=" + longUrl + "\r\n",
       "WebFile64", ""},
      {"300-character caption", head + "Caption=" + std::string(300, 'c') + "\r\n", "Caption", "Caption"},
      {"bad hash", head + "WebFile64Sha256=abc\r\n", "WebFile64Sha256", ""},
      {"RequireSignature=2", head + "RequireSignature=2\r\n", "RequireSignature", "RequireSignature"},
      {"hash and Retries both bad", head + "Retries=x\r\nWebFileSha256=" + hash + "0\r\n", "Retries", "WebFileSha256"},
      {"local package with a forward slash", "[runtime]\r\nWebFile64=64/pkg.exe\r\n", "", ""},
      {"local package with ..", "[runtime]\r\nWebFile64=64\\..\\..\\pkg.exe\r\n", "WebFile64", ""},
      {"local package with a drive", "[runtime]\r\nWebFile=C:\\pkg.exe\r\n", "", "WebFile"},
      {"URL with a port is no local path", "[runtime]\r\nWebFile=http://h.example:8080/a..b.exe\r\n", "", ""},
      {"progressbar=abc", head + "progressbar=abc\r\n", "", ""},
      {"progressbar= 0x10", head + "progressbar= 0x10\r\n", "", ""},
      {"progressbar=-0", head + "progressbar=-0\r\n", "", ""},
      // An Arm64 system reads its own keys when the configuration has them, else the x64 package.
      {"no Arm64 package", head, "", "", "", "https://h.example/p64.exe"},
      {"Arm64 package with its mirror and hash",
       head +
           "WebFileArm64=https://h.example/pa.exe\r\nWebFileArm64Mirror=https://m.example/pa.exe\r\n"
           "WebFileArm64Sha256=" +
           hash + "\r\n",
       "", "", "", "https://h.example/pa.exe"},
      {"Arm64 mirror ftp://x", head + "WebFileArm64=https://h.example/pa.exe\r\nWebFileArm64Mirror=ftp://x\r\n", "", "",
       "WebFileArm64Mirror"},
      {"bad Arm64 hash", head + "WebFileArm64=https://h.example/pa.exe\r\nWebFileArm64Sha256=abc\r\n", "", "",
       "WebFileArm64Sha256"},
      {"Arm64 mirror without an Arm64 package", head + "WebFileArm64Mirror=ftp://x\r\n", "", "", "",
       "https://h.example/p64.exe"},
      {"ReportUrl http:// after a bad Retries", head + "Retries=x\r\nReportUrl=http://r.example/runs\r\n", "Retries",
       "Retries"},
      {"FullInstallerUrl ftp://", head + "FullInstallerUrl=ftp://f.example/full.exe\r\n", "FullInstallerUrl",
       "FullInstallerUrl"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Write("config.ini", row.text);
    const std::string file = Path("config.ini");
    const ProfileFileLookup installerReader(file);
    const ProfileTextLookup toolsReader(row.text);
    std::string seen[3];
    for (const NativeMachine machine : {NativeMachine::kX64, NativeMachine::kX86, NativeMachine::kArm64}) {
      const int column = static_cast<int>(machine);
      const char* const expected[] = {row.malformed32, row.malformed64,
                                      row.malformedArm64 != nullptr ? row.malformedArm64 : row.malformed64};
      const ConfigJudgement installer = JudgeConfig(installerReader, machine);
      const ConfigJudgement tool = JudgeConfig(toolsReader, machine);
      EXPECT_EQ(installer.MalformedKey(), expected[column]) << column;
      EXPECT_EQ(tool.MalformedKey(), installer.MalformedKey()) << column;
      EXPECT_EQ(tool.choice, installer.choice);
      if (machine == NativeMachine::kArm64 && row.locationArm64 != nullptr) {
        EXPECT_EQ(installer.config.location, row.locationArm64);
      }
      EXPECT_EQ(tool.why, installer.why);
      const RuntimeConfig& a = installer.config;
      const RuntimeConfig& b = tool.config;
      EXPECT_EQ(a.location, b.location);
      EXPECT_EQ(a.caption, b.caption);
      EXPECT_EQ(a.parameters, b.parameters);
      EXPECT_EQ(a.retries, b.retries);
      EXPECT_EQ(a.mirror, b.mirror);
      EXPECT_EQ(a.reportUrl, b.reportUrl);
      EXPECT_TRUE(a.reportUrl.empty() || a.reportUrl.rfind("https://", 0) == 0) << "a refused address is not kept";
      EXPECT_EQ(a.fullInstallerUrl, b.fullInstallerUrl);
      EXPECT_EQ(a.showUI, b.showUI);
      EXPECT_EQ(a.showUI, static_cast<int>(GetPrivateProfileIntA(kConfigSection, kProgressbarKey, 1, file.c_str())));
      seen[column] = Shown(installer.MalformedKey()) + " retries=" + std::to_string(a.retries) +
                     " showUI=" + std::to_string(a.showUI);
    }
    // What checkcfg and stampcfg decide: refused exactly when the installer refuses on any system.
    const ConfigTextVerdict verdict = JudgeConfigText(row.text);
    const std::string expected = *row.malformed64                ? row.malformed64
                                 : *row.malformed32              ? row.malformed32
                                 : row.malformedArm64 != nullptr ? row.malformedArm64
                                                                 : "";
    EXPECT_EQ(verdict.malformedKey, expected);
    EXPECT_EQ(verdict.Accepted(), expected.empty()) << verdict.refusal;
    std::printf("[ parity   ] %-36s 64-bit: %-40s 32-bit: %-40s Arm64: %-40s tools: %s\n", row.what, seen[1].c_str(),
                seen[0].c_str(), seen[2].c_str(),
                verdict.Accepted() ? "accepted" : verdict.refusal.substr(0, 90).c_str());
  }
}

}  // namespace
