// Switch parsing: the input, cut at NUL bytes, is the argument list after the program name.
#include "app/flag_command_line_info.h"
#include "framework/command_line.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Sees every argument the feed hands on, then parses it as the installer does.
class RecordingInfo : public CFlagCommandLineInfo {
public:
  struct Call {
    std::string param;
    BOOL flag;
    BOOL last;
  };
  void ParseParam(const char* param, BOOL bFlag, BOOL bLast) override {
    calls.push_back({param, bFlag, bLast});
    CFlagCommandLineInfo::ParseParam(param, bFlag, bLast);
  }
  std::vector<Call> calls;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// What a switch's result must be, from the rules alone: the plain argument right after the switch's
// last occurrence is its value, trimmed; no such argument, or the value TRUE in any case, is empty.
bool ExpectedValue(const std::vector<std::string>& args, const char* name, std::string& value) {
  size_t last = args.size();
  for (size_t i = 0; i < args.size(); ++i) {
    const bool isSwitch = !args[i].empty() && (args[i][0] == '/' || args[i][0] == '-');
    if (isSwitch && Lower(args[i].substr(1)) == name) last = i;
  }
  if (last == args.size()) return false;
  value.clear();
  const size_t next = last + 1;
  if (next < args.size() && (args[next].empty() || (args[next][0] != '/' && args[next][0] != '-'))) {
    value = Trim(args[next]);
    if (Lower(value) == "true") value.clear();
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = size == 0 ? std::vector<std::string>() : SplitAtNul(data, size);
  if (args.size() > 64) return 0;
  std::vector<const char*> argv = {"setup.exe"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());

  RecordingInfo info;
  FeedCommandLine(static_cast<int>(argv.size()), argv.data(), info);

  // The feed: one call per argument, in order, a leading "/" or "-" taken off a switch.
  FUZZ_CHECK(info.calls.size() == args.size());
  std::string firstFileName;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool isSwitch = !args[i].empty() && (args[i][0] == '/' || args[i][0] == '-');
    FUZZ_CHECK((info.calls[i].flag != 0) == isSwitch);
    FUZZ_CHECK(info.calls[i].param == (isSwitch ? args[i].substr(1) : args[i]));
    FUZZ_CHECK((info.calls[i].last != 0) == (i + 1 == args.size()));
    if (!isSwitch && firstFileName.empty()) firstFileName = args[i];
    // Every switch is recorded under its lower-case name.
    std::string recorded;
    if (isSwitch) FUZZ_CHECK(info.LookupSwitch(Lower(args[i].substr(1)).c_str(), recorded));
  }
  // The base class still reads the first (non-empty) plain argument as the file name.
  FUZZ_CHECK(info.m_strFileName == firstFileName);

  const CommandLineResults results = ReadCommandLineResults(info);
  std::string qa;
  std::string ac;
  FUZZ_CHECK(results.qaMode == (ExpectedValue(args, "qa", qa) ? 1 : 0));
  ExpectedValue(args, "ac", ac);
  FUZZ_CHECK(results.qa == qa);
  FUZZ_CHECK(results.ac == ac);
  for (const std::string* value : {&results.qa, &results.ac}) {
    FUZZ_CHECK(*value == Trim(*value));
    FUZZ_CHECK(Lower(*value) != "true");
  }
  return 0;
}
