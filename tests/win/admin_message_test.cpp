#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "app/admin_message.h"
#include "framework/handle.h"
#include "res/resource.h"

namespace {

// What the box showed, read by a second thread while it is up, which then presses OK.
struct Shown {
  bool found = false;
  std::string text;
  HICON icon = nullptr;
  bool okButton = false;
  int buttons = 0;
};

BOOL CALLBACK ReadChild(HWND child, LPARAM parameter) {
  Shown& shown = *reinterpret_cast<Shown*>(parameter);
  char className[32] = {};
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child)) {
    ++shown.buttons;
    shown.okButton = shown.okButton || GetDlgCtrlID(child) == IDOK;
  } else if (lstrcmpiA(className, "Static") == 0) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      shown.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    } else {
      char text[1024] = {};
      GetWindowTextA(child, text, sizeof text);
      if (std::string(text).size() > shown.text.size()) shown.text = text;
    }
  }
  return TRUE;
}

void ReadAndPressOk(const char* caption, Shown& shown) {
  for (int i = 0; i < 200 && !shown.found; ++i) {
    HWND box = FindWindowA("#32770", caption);
    if (!box) {
      Sleep(50);
      continue;
    }
    shown.found = true;
    EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&shown));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

TEST(AdminMessage, ShownWithTheApplicationsIconAndAnOkButton) {
  ASSERT_EQ(GetACP(), 1252u) << "the message is Windows-1252 text";
  const char* caption = "Administrator check message test";
  Shown shown;
  std::thread reader(ReadAndPressOk, caption, std::ref(shown));
  const int result = ShowAdminRequiredMessage(caption, kAdminRequiredMessage, IDI_ADMIN, 0);
  reader.join();
  ASSERT_TRUE(shown.found);
  EXPECT_EQ(result, IDOK);
  // The static control keeps the text as given: the same bytes, line feeds and all.
  EXPECT_EQ(shown.text, kAdminRequiredMessage);
  EXPECT_NE(shown.icon, nullptr);
  // Icons loaded by resource id are shared, so the box's icon is this handle when it came from the
  // application's icon IDI_ADMIN.
  EXPECT_EQ(shown.icon, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_ADMIN)));
  EXPECT_TRUE(shown.okButton);
  EXPECT_EQ(shown.buttons, 1);
}

}  // namespace
