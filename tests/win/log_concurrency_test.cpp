// The install log written from several real threads at once, as the dialog's worker and the main
// thread do: every entry must survive with its own sequence number, and each thread's numbers must
// rise in the order it wrote them.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "records/records.h"

namespace {

const char kBackupPath[] = "C:\\VornikInstallInfo.log.concurrency-backup";

// Moves an install log already on C: aside for the test and puts it back afterwards; the test's
// own log is removed on both ends.
class InstallLogAside {
public:
  InstallLogAside() {
    DeleteFileA(kBackupPath);
    m_bMoved = MoveFileExA(kInstallLogPath, kBackupPath, MOVEFILE_REPLACE_EXISTING) != FALSE;
    DeleteFileA(kInstallLogPath);
  }
  ~InstallLogAside() {
    DeleteFileA(kInstallLogPath);
    if (m_bMoved) MoveFileExA(kBackupPath, kInstallLogPath, MOVEFILE_REPLACE_EXISTING);
  }
  InstallLogAside(const InstallLogAside&) = delete;
  InstallLogAside& operator=(const InstallLogAside&) = delete;

private:
  bool m_bMoved = false;
};

struct Entry {
  std::string section;
  int sequence;
  std::string text;
};

// NUL-separated strings, ended by an empty one, as the INI reader returns lists.
std::vector<std::string> SplitList(const std::vector<char>& buffer) {
  std::vector<std::string> items;
  for (const char* item = buffer.data(); *item != '\0'; item += strlen(item) + 1) items.emplace_back(item);
  return items;
}

// Every entry of the install log, read back through the INI reader, in file order per section.
std::vector<Entry> ReadInstallLog() {
  std::vector<char> buffer(4 << 20);
  std::vector<Entry> entries;
  const DWORD namesLength =
      GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), kInstallLogPath);
  EXPECT_LT(namesLength, buffer.size() - 2) << "section names cut";
  for (const std::string& section : SplitList(buffer)) {
    std::vector<char> lines(4 << 20);
    const DWORD length =
        GetPrivateProfileSectionA(section.c_str(), lines.data(), static_cast<DWORD>(lines.size()), kInstallLogPath);
    EXPECT_LT(length, lines.size() - 2) << "section " << section << " cut";
    for (const std::string& line : SplitList(lines)) {
      const size_t equals = line.find('=');
      EXPECT_NE(equals, std::string::npos) << line;
      if (equals == std::string::npos) continue;
      entries.push_back({section, std::atoi(line.c_str()), line.substr(equals + 1)});
    }
  }
  return entries;
}

std::string EntryText(int thread, int index) {
  return "thread " + std::to_string(thread) + " entry " + std::to_string(index);
}

TEST(InstallLogConcurrency, EveryEntryOfEveryThreadKeepsItsOwnRisingNumber) {
  const InstallLogAside aside;
  const std::string mainThread = std::to_string(GetCurrentThreadId());
  SetLogThreadIdText(mainThread);

  // The counter is process-wide and other tests may have logged already: numbers start after it.
  LogEvent("first entry", LOG_FLOW);
  const std::vector<Entry> first = ReadInstallLog();
  ASSERT_EQ(first.size(), 1u);
  const int base = first[0].sequence;

  const int kThreads = 4;
  const int kPerThread = 200;
  const int kMainEntries = 200;
  // The main thread is thread 0; the others write one level each, so all four sections fill at once.
  std::atomic<bool> go{false};
  std::vector<std::thread> writers;
  for (int t = 1; t <= kThreads; ++t) {
    writers.emplace_back([t, &go] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) LogEvent(EntryText(t, i), t - 1);
    });
  }
  go = true;
  for (int i = 0; i < kMainEntries; ++i) LogEvent(EntryText(0, i), LOG_FLOW);
  for (std::thread& writer : writers) writer.join();

  const std::vector<Entry> entries = ReadInstallLog();
  const int total = 1 + kThreads * kPerThread + kMainEntries;
  ASSERT_EQ(static_cast<int>(entries.size()), total) << "entries lost: two writers took the same key";

  std::map<int, int> seen;  // sequence number -> how often
  std::map<int, std::vector<int>> numbersOfThread;
  for (const Entry& entry : entries) {
    ++seen[entry.sequence];
    EXPECT_NE(entry.section.find("(Thread ID=" + mainThread + ")"), std::string::npos) << entry.section;
    int thread = -1, index = -1;
    if (sscanf(entry.text.c_str(), "thread %d entry %d", &thread, &index) == 2) {
      ASSERT_GE(thread, 0);
      ASSERT_LE(thread, kThreads);
      std::vector<int>& numbers = numbersOfThread[thread];
      if (static_cast<int>(numbers.size()) <= index) numbers.resize(index + 1, 0);
      numbers[index] = entry.sequence;
    }
  }
  for (int n = base; n < base + total; ++n) EXPECT_EQ(seen[n], 1) << "sequence number " << n;
  EXPECT_EQ(static_cast<int>(seen.size()), total) << "numbers outside " << base << ".." << base + total - 1;

  ASSERT_EQ(static_cast<int>(numbersOfThread.size()), kThreads + 1);
  for (const auto& [thread, numbers] : numbersOfThread) {
    ASSERT_EQ(static_cast<int>(numbers.size()), thread == 0 ? kMainEntries : kPerThread) << "thread " << thread;
    for (size_t i = 1; i < numbers.size(); ++i) {
      EXPECT_LT(numbers[i - 1], numbers[i]) << "thread " << thread << " entry " << i;
    }
  }
}

}  // namespace
