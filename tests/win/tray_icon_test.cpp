#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "tray/tray_icon.h"

namespace {

const UINT kCallbackMessage = WM_APP + 10;

// A CTrayIcon whose shell is a recorder: it keeps a copy of every record sent and answers each kind
// of message as the test says. Its protected state is readable for the checks.
class RecordingTrayIcon : public CTrayIcon {
public:
  struct Sent {
    DWORD message;
    NOTIFYICONDATAA record;
  };

  BOOL addAnswer = TRUE;
  BOOL modifyAnswer = TRUE;
  BOOL deleteAnswer = TRUE;
  std::vector<Sent> sent;

  BOOL Create(const char* tooltip, BOOL hidden = FALSE, const char* balloonText = nullptr,
              const char* balloonTitle = nullptr, DWORD balloonFlags = 0) {
    return CreateTrayIcon(GetModuleHandleA(nullptr), nullptr, kCallbackMessage, tooltip,
                          LoadIconA(nullptr, IDI_APPLICATION), 0, hidden, balloonText, balloonTitle, balloonFlags, 10);
  }
  std::string SentKinds() const {
    std::string kinds;
    for (const Sent& s : sent) {
      if (!kinds.empty()) kinds += ' ';
      kinds += s.message == NIM_ADD      ? "add"
               : s.message == NIM_MODIFY ? "modify"
               : s.message == NIM_DELETE ? "delete"
                                         : "other";
    }
    return kinds;
  }
  std::string State() const {
    return std::to_string(m_bUsable) + std::to_string(m_bNotShown) + std::to_string(m_bNotInTray) +
           std::to_string(m_bRestorePending);
  }
  HWND Hidden() const { return m_wndHidden.get(); }
  const NOTIFYICONDATAA& Record() const { return m_nid; }
  void UseDefaultCommand(UINT command) {
    m_bDefaultItemByPosition = FALSE;
    m_nDefaultMenuItem = command;
  }

protected:
  BOOL SendToShell(DWORD message, NOTIFYICONDATAA* record) override {
    sent.push_back({message, *record});
    return message == NIM_ADD ? addAnswer : message == NIM_MODIFY ? modifyAnswer : deleteAnswer;
  }
};

// Removes the WM_QUIT posted to this thread, if any; its exit code, or -1 without one.
int TakeQuitCode() {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return static_cast<int>(msg.wParam);
  return -1;
}

// Removes the WM_COMMAND posted to `wnd`, if any; its wParam, or -1 without one.
long long TakeCommand(HWND wnd) {
  MSG msg;
  if (PeekMessageA(&msg, wnd, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
    return static_cast<long long>(msg.wParam);
  }
  return -1;
}

std::string Cycle(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>('0' + i % 10);
  return text;
}

// Flags are "usable, not shown, not in tray, restore pending"; results and sent messages are in
// the order of the steps.
enum class Step { Create, Tooltip, Delete };
struct LifecycleCase {
  const char* name;
  BOOL addAnswer, modifyAnswer, deleteAnswer;
  std::vector<Step> steps;
  const char* results;
  const char* sentKinds;
  const char* state;
};

TEST(TrayIcon, LifecycleFlagsResultsAndShellMessages) {
  const LifecycleCase cases[] = {
      {"constructed", 1, 1, 1, {}, "", "", "0110"},
      {"added", 1, 1, 1, {Step::Create}, "1", "add", "1001"},
      {"add refused (no notification area)", 0, 1, 1, {Step::Create}, "0", "add", "1110"},
      {"tooltip before create", 1, 1, 1, {Step::Tooltip}, "0", "", "0110"},
      {"delete before create", 1, 1, 1, {Step::Delete}, "1", "", "0110"},
      {"tooltip while shown", 1, 1, 1, {Step::Create, Step::Tooltip}, "11", "add modify", "1001"},
      {"tooltip refused", 1, 0, 1, {Step::Create, Step::Tooltip}, "10", "add modify", "1001"},
      {"tooltip after a refused add", 0, 1, 1, {Step::Create, Step::Tooltip}, "01", "add", "1110"},
      {"delete after a refused add", 0, 1, 1, {Step::Create, Step::Delete}, "01", "add", "1110"},
      {"delete", 1, 1, 1, {Step::Create, Step::Delete}, "11", "add delete", "1110"},
      {"delete twice", 1, 1, 1, {Step::Create, Step::Delete, Step::Delete}, "111", "add delete", "1110"},
      {"delete refused", 1, 1, 0, {Step::Create, Step::Delete}, "10", "add delete", "1000"},
      {"tooltip after delete", 1, 1, 1, {Step::Create, Step::Delete, Step::Tooltip}, "111", "add delete", "1110"},
  };
  for (const LifecycleCase& c : cases) {
    RecordingTrayIcon icon;
    icon.addAnswer = c.addAnswer;
    icon.modifyAnswer = c.modifyAnswer;
    icon.deleteAnswer = c.deleteAnswer;
    std::string results;
    for (Step step : c.steps) {
      BOOL result = step == Step::Create    ? icon.Create("Vendor downloading - please wait...")
                    : step == Step::Tooltip ? icon.ChangeTooltip("42% completed - Product")
                                            : icon.DeleteTrayIcon();
      results += std::to_string(result);
    }
    EXPECT_EQ(results, c.results) << c.name;
    EXPECT_EQ(icon.SentKinds(), c.sentKinds) << c.name;
    EXPECT_EQ(icon.State(), c.state) << c.name;
  }
}

TEST(TrayIcon, AddSendsTheWholeRecordForTheHiddenWindow) {
  RecordingTrayIcon icon;
  const HICON app = LoadIconA(nullptr, IDI_APPLICATION);
  ASSERT_TRUE(icon.Create("Vendor downloading - please wait..."));
  ASSERT_EQ(icon.sent.size(), 1u);
  const NOTIFYICONDATAA& r = icon.sent[0].record;
  EXPECT_EQ(r.cbSize, 488u);
  EXPECT_EQ(r.hWnd, icon.Hidden());
  EXPECT_EQ(r.uID, 0u);
  EXPECT_EQ(r.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(r.uCallbackMessage, kCallbackMessage);
  EXPECT_EQ(r.hIcon, app);
  EXPECT_STREQ(r.szTip, "Vendor downloading - please wait...");

  char className[64] = {};
  GetClassNameA(icon.Hidden(), className, sizeof className);
  EXPECT_STREQ(className, "TrayIconClass");
  const LONG style = GetWindowLongA(icon.Hidden(), GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(IsWindowVisible(icon.Hidden()));
}

TEST(TrayIcon, TooltipIsCutTo127BytesOnCreateAndOnChange) {
  const std::string text = Cycle(200);
  RecordingTrayIcon icon;
  ASSERT_TRUE(icon.Create(text.c_str()));
  ASSERT_TRUE(icon.ChangeTooltip(("x" + text).c_str()));
  ASSERT_EQ(icon.SentKinds(), "add modify");
  EXPECT_EQ(std::string(icon.sent[0].record.szTip), text.substr(0, 127));
  EXPECT_EQ(std::string(icon.sent[1].record.szTip), ("x" + text).substr(0, 127));
  EXPECT_EQ(icon.sent[1].record.uFlags, static_cast<UINT>(NIF_TIP));
}

TEST(TrayIcon, BalloonGoesOutWithTheAddOnly) {
  RecordingTrayIcon icon;
  const std::string longText = Cycle(300);
  ASSERT_TRUE(icon.Create("tip", FALSE, longText.c_str(), nullptr, NIIF_INFO));
  ASSERT_TRUE(icon.ChangeTooltip("later"));
  ASSERT_EQ(icon.SentKinds(), "add modify");
  const NOTIFYICONDATAA& add = icon.sent[0].record;
  EXPECT_EQ(add.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
  EXPECT_EQ(std::string(add.szInfo), longText.substr(0, 255));
  EXPECT_STREQ(add.szInfoTitle, "");
  EXPECT_EQ(add.uTimeout, 10000u);
  EXPECT_EQ(add.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_STREQ(icon.sent[1].record.szInfo, "");

  RecordingTrayIcon titled;
  const std::string longTitle = Cycle(100);
  ASSERT_TRUE(titled.Create("tip", FALSE, "text", longTitle.c_str()));
  EXPECT_EQ(std::string(titled.sent[0].record.szInfoTitle), longTitle.substr(0, 63));
}

TEST(TrayIcon, HiddenCreateSendsTheStateAlone) {
  RecordingTrayIcon icon;
  ASSERT_TRUE(icon.Create("tip", TRUE, "balloon"));
  ASSERT_EQ(icon.sent.size(), 1u);
  const NOTIFYICONDATAA& r = icon.sent[0].record;
  EXPECT_EQ(r.uFlags, static_cast<UINT>(NIF_STATE));
  EXPECT_EQ(r.dwState, static_cast<DWORD>(NIS_HIDDEN));
  EXPECT_EQ(r.dwStateMask, static_cast<DWORD>(NIS_HIDDEN));
}

struct CallbackCase {
  const char* name;
  WPARAM iconId;
  LPARAM lParam;
  LRESULT result;
  int quitCode;  // -1: no WM_QUIT
};

TEST(TrayIcon, CallbackNotifications) {
  const CallbackCase cases[] = {
      {"foreign icon id", 5, WM_RBUTTONUP, 0, -1},
      {"foreign icon id, balloon click", 5, NIN_BALLOONUSERCLICK, 0, -1},
      {"right-click without a menu resource", 0, WM_RBUTTONUP, 0, -1},
      {"double-click without a menu resource", 0, WM_LBUTTONDBLCLK, 0, -1},
      {"double-click, high word ignored", 0, MAKELPARAM(WM_LBUTTONDBLCLK, 0x1234), 0, -1},
      {"balloon time-out", 0, NIN_BALLOONTIMEOUT, 1, 1},
      {"balloon click", 0, NIN_BALLOONUSERCLICK, 1, 1},
      {"mouse move", 0, WM_MOUSEMOVE, 1, -1},
  };
  RecordingTrayIcon icon;
  ASSERT_TRUE(icon.Create("tip"));
  ASSERT_EQ(TakeQuitCode(), -1);
  for (const CallbackCase& c : cases) {
    EXPECT_EQ(SendMessageA(icon.Hidden(), kCallbackMessage, c.iconId, c.lParam), c.result) << c.name;
    EXPECT_EQ(TakeQuitCode(), c.quitCode) << c.name;
    EXPECT_EQ(TakeCommand(icon.Hidden()), -1) << c.name;
  }
  EXPECT_EQ(icon.SentKinds(), "add");
}

TEST(TrayIcon, DoubleClickPostsTheDefaultCommandWhenItIsAnId) {
  RecordingTrayIcon icon;
  ASSERT_TRUE(icon.Create("tip"));
  icon.UseDefaultCommand(4321);
  EXPECT_EQ(SendMessageA(icon.Hidden(), kCallbackMessage, 0, WM_LBUTTONDBLCLK), 1);
  EXPECT_EQ(TakeCommand(icon.Hidden()), 4321);
}

// A re-created taskbar or a changed work area; "pending" is what is set up before the message.
enum class Before { Added, AddRefused, Deleted, ReAddRefused, StillThere };
struct RestoreCase {
  const char* name;
  Before before;
  UINT message;  // 0: "TaskbarCreated"
  WPARAM wParam;
  const char* sentAfter;  // what the message and one more tooltip change send
  const char* state;
};

TEST(TrayIcon, RestoreAfterTaskbarCreatedOrWorkAreaChange) {
  const RestoreCase cases[] = {
      {"taskbar re-created", Before::Added, 0, 0, "add modify", "1001"},
      {"work area changed", Before::Added, WM_SETTINGCHANGE, SPI_SETWORKAREA, "add modify", "1001"},
      {"other setting changed", Before::Added, WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, "modify", "1001"},
      {"after a refused add", Before::AddRefused, 0, 0, "", "1110"},
      {"after delete", Before::Deleted, 0, 0, "", "1110"},
      {"after a refused re-add", Before::ReAddRefused, 0, 0, "", "1100"},
      // The icon survived the change: the shell refuses the add, the modify keeps it current.
      {"work area changed, icon still there", Before::StillThere, WM_SETTINGCHANGE, SPI_SETWORKAREA,
       "add modify modify", "1001"},
  };
  const UINT taskbarCreated = CTrayIcon::RegisterTaskbarCreatedMessage();
  ASSERT_NE(taskbarCreated, 0u);
  ASSERT_EQ(taskbarCreated, RegisterWindowMessageA("TaskbarCreated"));
  for (const RestoreCase& c : cases) {
    RecordingTrayIcon icon;
    icon.addAnswer = c.before != Before::AddRefused;
    ASSERT_EQ(icon.Create("start"), icon.addAnswer) << c.name;
    ASSERT_TRUE(icon.ChangeTooltip("42% completed - Product")) << c.name;
    if (c.before == Before::Deleted) {
      ASSERT_TRUE(icon.DeleteTrayIcon()) << c.name;
    }
    if (c.before == Before::ReAddRefused) {
      icon.addAnswer = FALSE;
      icon.modifyAnswer = FALSE;
      SendMessageA(icon.Hidden(), taskbarCreated, 0, 0);
    }
    if (c.before == Before::StillThere) icon.addAnswer = FALSE;
    icon.sent.clear();

    const UINT message = c.message != 0 ? c.message : taskbarCreated;
    EXPECT_EQ(SendMessageA(icon.Hidden(), message, c.wParam, 0), 0) << c.name;
    icon.ChangeTooltip("43% completed - Product");
    EXPECT_EQ(icon.SentKinds(), c.sentAfter) << c.name;
    EXPECT_EQ(icon.State(), c.state) << c.name;
    if (!icon.sent.empty() && icon.sent[0].message == NIM_ADD) {
      EXPECT_EQ(icon.sent[0].record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP)) << c.name;
      EXPECT_STREQ(icon.sent[0].record.szTip, "42% completed - Product") << c.name;
    }
  }
}

// A scale change under the hidden window hands the shell the icon drawn for that scale's small-icon
// size (this test program carries the installer's resources, icon 149 among them).
TEST(TrayIcon, ScaleChangeShowsTheIconDrawnForTheNewSmallIconSize) {
  const struct {
    UINT dpi;
    LONG size;
  } cases[] = {{120, 20}, {144, 24}, {192, 32}};
  for (const auto& c : cases) {
    RecordingTrayIcon icon;
    icon.SetIconResource(IDI_TRAY);
    ASSERT_TRUE(icon.Create("tip"));
    icon.sent.clear();
    RECT suggested = {0, 0, 0, 0};
    EXPECT_EQ(
        SendMessageA(icon.Hidden(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi), reinterpret_cast<LPARAM>(&suggested)), 0);
    ASSERT_EQ(icon.SentKinds(), "modify") << c.dpi;
    EXPECT_EQ(icon.sent[0].record.uFlags, UINT(NIF_ICON));
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon.sent[0].record.hIcon, &info)) << c.dpi;
    BITMAP colour = {};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(colour.bmWidth, c.size) << c.dpi;
    EXPECT_EQ(colour.bmHeight, c.size) << c.dpi;
  }
}

TEST(TrayIcon, OtherWindowsOfTheClassGetTheDefaultHandling) {
  RecordingTrayIcon icon;
  ASSERT_TRUE(icon.Create("tip"));
  const HWND other = CreateWindowExA(0, "TrayIconClass", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  icon.sent.clear();
  EXPECT_EQ(SendMessageA(other, kCallbackMessage, 0, NIN_BALLOONTIMEOUT), 0);
  EXPECT_EQ(SendMessageA(other, CTrayIcon::RegisterTaskbarCreatedMessage(), 0, 0), 0);
  EXPECT_EQ(SendMessageA(other, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0), 0);
  EXPECT_EQ(TakeQuitCode(), -1);
  EXPECT_EQ(icon.SentKinds(), "");
  DestroyWindow(other);
}

// Explorer restarting while the worker moves the tooltip: every record sent must carry its own
// message's flags and one whole tooltip.
TEST(TrayIcon, TooltipChangesAndRestoresFromTwoThreadsSendWholeRecords) {
  class CheckingTrayIcon : public RecordingTrayIcon {
  public:
    std::atomic<int> adds{0}, modifies{0}, bad{0};
    const std::string a = std::string(127, 'a'), b = std::string(127, 'b');

  protected:
    BOOL SendToShell(DWORD message, NOTIFYICONDATAA* record) override {
      const UINT expected = message == NIM_ADD ? NIF_MESSAGE | NIF_ICON | NIF_TIP : NIF_TIP;
      (message == NIM_ADD ? adds : modifies)++;
      if (record->uFlags != expected || (record->szTip != a && record->szTip != b)) bad++;
      return TRUE;
    }
  };
  CheckingTrayIcon icon;
  ASSERT_TRUE(icon.Create(icon.a.c_str()));
  icon.adds = 0;
  const int kChanges = 400000;
  std::atomic<bool> started{false}, done{false};
  std::thread worker([&] {
    while (!started) {
    }
    for (int i = 0; i < kChanges; ++i) icon.ChangeTooltip((i % 2 ? icon.a : icon.b).c_str());
    done = true;
  });
  const UINT taskbarCreated = CTrayIcon::RegisterTaskbarCreatedMessage();
  started = true;
  while (!done) SendMessageA(icon.Hidden(), taskbarCreated, 0, 0);
  worker.join();
  EXPECT_GT(icon.adds, 1000);
  EXPECT_EQ(icon.modifies, kChanges);
  EXPECT_EQ(icon.bad, 0);
}

TEST(TrayIcon, RealShellAcceptsAddModifyDelete) {
  CTrayIcon icon;
  ASSERT_TRUE(icon.CreateTrayIcon(GetModuleHandleA(nullptr), nullptr, kCallbackMessage,
                                  "Vendor downloading - please wait...", LoadIconA(nullptr, IDI_APPLICATION), 0, FALSE,
                                  nullptr, nullptr, 0, 10));
  EXPECT_TRUE(icon.ChangeTooltip("1% completed - Product"));
  EXPECT_TRUE(icon.DeleteTrayIcon());
  EXPECT_TRUE(icon.DeleteTrayIcon());
}

// The icon belongs to a window of the test, which outlives the component: the shell still knowing
// the icon after the destructor would show in a successful modify.
TEST(TrayIcon, DestructorRemovesTheIconAndDestroysTheWindow) {
  class ExposedTrayIcon : public CTrayIcon {
  public:
    HWND Hidden() const { return m_wndHidden.get(); }
  };
  const HWND owner =
      CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  NOTIFYICONDATAA probe = {};
  probe.cbSize = 488;
  probe.hWnd = owner;
  probe.uID = 7;
  probe.uFlags = NIF_TIP;
  std::strcpy(probe.szTip, "probe");

  HWND hidden = nullptr;
  {
    ExposedTrayIcon icon;
    ASSERT_TRUE(icon.CreateTrayIcon(GetModuleHandleA(nullptr), owner, kCallbackMessage, "tip",
                                    LoadIconA(nullptr, IDI_APPLICATION), 7, FALSE, nullptr, nullptr, 0, 10));
    hidden = icon.Hidden();
    ASSERT_TRUE(IsWindow(hidden));
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &probe));
  }
  EXPECT_FALSE(IsWindow(hidden));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &probe));
  DestroyWindow(owner);
}

}  // namespace
