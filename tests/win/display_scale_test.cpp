// The download dialog and the tray's icon at the display's scale, built from setup.exe's own
// resources. e2e.test_scale runs these at 96, 120, 144 and 192 DPI (the prefix's LogPixels, with
// SETUP_EXPECTED_DPI naming it); in this suite they run at the prefix's own scale.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/handle.h"
#include "res/resource.h"
#include "tests/win/resource_view.h"

namespace {

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

class AtTheDisplayScale : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(setup_) << SETUP_EXE_PATH;
    if (const char* expected = std::getenv("SETUP_EXPECTED_DPI")) {
      ASSERT_EQ(ScreenDpi(), std::atoi(expected));
    }
  }
  UniqueModule setup_ = resource_view::LoadForResources(SETUP_EXE_PATH);
};

TEST_F(AtTheDisplayScale, TrayIconIsTheImageDrawnForTheSmallIconSize) {
  const int size = GetSystemMetrics(SM_CXSMICON);
  EXPECT_EQ(size, MulDiv(16, ScreenDpi(), 96)) << "Windows' small icon: 16, 20, 24, 32 at 100 to 200 %";
  // Loaded as the start-up flow loads it for the tray.
  UniqueIcon icon(static_cast<HICON>(
      LoadImageA(setup_.get(), MAKEINTRESOURCEA(IDI_TRAY), IMAGE_ICON, size, GetSystemMetrics(SM_CYSMICON), 0)));
  ICONINFO info = {};
  ASSERT_TRUE(icon && GetIconInfo(icon.get(), &info));
  BITMAP colour = {};
  GetObjectA(info.hbmColor, sizeof colour, &colour);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  EXPECT_EQ(colour.bmWidth, size);
  // From an image of that size, not scaled from another: its width, in a bitmap or a PNG header.
  const std::string group = resource_view::ResourceBytes(setup_.get(), RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_TRAY));
  ASSERT_FALSE(group.empty());
  const int image = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(const_cast<char*>(group.data())), TRUE, size,
                                                size, LR_DEFAULTCOLOR);
  const std::string bytes = resource_view::ResourceBytes(setup_.get(), RT_ICON, MAKEINTRESOURCEA(image));
  ASSERT_GE(bytes.size(), 24u);
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  EXPECT_EQ(bytes.compare(1, 3, "PNG") == 0 ? (b[18] << 8 | b[19]) : (b[5] << 8 | b[4]), size);
}

// The longest texts of a usual run: the product's name in the file line, a host name being
// resolved, a download of some hundred megabytes on a slow line, a rate below 1 KB per second.
TEST_F(AtTheDisplayScale, DialogTextsFitTheirControlsAndNoTwoControlsOverlap) {
  const struct {
    int id;
    const char* text;
  } texts[] = {
      {IDC_STATUS_LINE, "Resolving name: downloads.example.com"},
      {IDC_FILE_LINE, "Downloading the latest version of Quillmoor Internet Security"},
      {IDC_TIME_LEFT, "12 min 34 sec (123.45 MB of 456.78 MB copied)"},
      {IDC_RATE, "1023 Bytes/Sec"},
  };
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&classes));
  UniqueWindow dialog(
      CreateDialogParamA(setup_.get(), MAKEINTRESOURCEA(IDD_FILE_DOWNLOAD), nullptr, PassiveDialogProc, 0));
  ASSERT_TRUE(dialog);
  // Opened as the dialog opens it: without ACS_CENTER the control would take the clip's size.
  ASSERT_TRUE(SendDlgItemMessageA(dialog.get(), IDC_ANIMATION, ACM_OPENA, reinterpret_cast<WPARAM>(setup_.get()),
                                  reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI))));
  for (const auto& t : texts) SetDlgItemTextA(dialog.get(), t.id, t.text);

  RECT client;
  GetClientRect(dialog.get(), &client);
  std::vector<RECT> placed;
  for (HWND child = GetWindow(dialog.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&rect), 2);
    char text[256] = "";
    GetWindowTextA(child, text, sizeof text);
    SCOPED_TRACE(std::to_string(static_cast<short>(GetDlgCtrlID(child))) + " \"" + text + "\"");
    RECT inside;
    EXPECT_TRUE(IntersectRect(&inside, &rect, &client) && EqualRect(&inside, &rect)) << "outside the dialog";
    for (const RECT& other : placed) EXPECT_FALSE(IntersectRect(&inside, &rect, &other)) << "overlaps a control";
    placed.push_back(rect);

    SIZE extent = {};
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(child, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    EXPECT_LE(extent.cx, rect.right - rect.left) << "text cut";
    EXPECT_LE(extent.cy, rect.bottom - rect.top) << "text cut";
  }
  EXPECT_EQ(placed.size(), 9u);
}

}  // namespace
