// The download dialog and the tray's icon at the display's scale, built from setup.exe's own
// resources. e2e.test_scale runs these at 96, 120, 144 and 192 DPI (the prefix's LogPixels, with
// SETUP_EXPECTED_DPI naming it); in this suite they run at the prefix's own scale. The dialog is laid
// out once per language of the executable's string tables, so one run covers every translation:
// setup_languages.exe's, setup.exe's resources with every shipped language.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
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
    ASSERT_TRUE(setup_) << SETUP_LANGUAGES_EXE_PATH;
    if (const char* expected = std::getenv("SETUP_EXPECTED_DPI")) {
      ASSERT_EQ(ScreenDpi(), std::atoi(expected));
    }
  }
  UniqueModule setup_ = resource_view::LoadForResources(SETUP_LANGUAGES_EXE_PATH);
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

// A string of the table in `language`, read the way the installer reads a translation.
std::wstring TableString(HMODULE module, UINT id, WORD language) {
  HRSRC found = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(id / 16 + 1), language);
  const auto* at = found ? static_cast<const WCHAR*>(LockResource(LoadResource(module, found))) : nullptr;
  if (!at) return L"";
  for (UINT skip = id % 16; skip > 0; --skip) at += 1 + *at;
  return std::wstring(at + 1, *at);
}

// "%1" and "%2" filled in as the installer fills them.
std::wstring Fill(const std::wstring& pattern, const std::wstring& a1, const std::wstring& a2 = L"") {
  std::wstring out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size() && (pattern[i + 1] == L'1' || pattern[i + 1] == L'2')) {
      out += pattern[++i] == L'1' ? a1 : a2;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
  return TRUE;
}

// The longest texts of a usual run: the product's name in the file line, a host name being
// resolved and the back-off before a further attempt, a download of some hundred megabytes on a
// slow line, a rate below 1 KB per second; with the dialog's own caption, labels and button, in
// English and in every language the executable has a table for.
TEST_F(AtTheDisplayScale, DialogTextsFitTheirControlsAndNoTwoControlsOverlap) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(setup_.get(), reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(IDS_UI_CAPTION / 16 + 1),
                         AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
  ASSERT_EQ(languages.size(), 1u + SHIPPED_LANGUAGE_COUNT) << "English and every shipped language";
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&classes));
  for (const WORD language : languages) {
    char name[16];
    std::snprintf(name, sizeof name, "language 0x%04X", language);
    SCOPED_TRACE(name);
    const auto text = [&](UINT id) { return TableString(setup_.get(), id, language); };
    const std::wstring attempt = Fill(text(IDS_BYTES_OF), L"2", L"4");
    const std::vector<std::pair<int, std::wstring>> lines = {
        {IDC_STATUS_LINE, Fill(text(IDS_RESOLVING), L"downloads.example.com")},
        {IDC_STATUS_LINE, Fill(text(IDS_RETRY_CONNECTION), L"30", attempt)},
        {IDC_STATUS_LINE, Fill(text(IDS_RETRY_SERVER), L"30", attempt)},
        {IDC_FILE_LINE, Fill(text(IDS_FILE_LINE), L"Quillmoor Internet Security")},
        {IDC_TIME_LEFT,
         Fill(text(IDS_TIME_LEFT_LINE), Fill(text(IDS_MINUTES_SECONDS), L"12", L"34"),
              Fill(text(IDS_BYTES_OF), Fill(text(IDS_MEGABYTES), L"123.45"), Fill(text(IDS_MEGABYTES), L"456.78")))},
        {IDC_RATE, Fill(text(IDS_BYTES_PER_SEC), L"1023")},
    };
    for (size_t shown = 0; shown < 3; ++shown) {  // each status line in turn, the others with the first
      UniqueWindow dialog(
          CreateDialogParamA(setup_.get(), MAKEINTRESOURCEA(IDD_FILE_DOWNLOAD), nullptr, PassiveDialogProc, 0));
      ASSERT_TRUE(dialog);
      // Opened as the dialog opens it: without ACS_CENTER the control would take the clip's size.
      ASSERT_TRUE(SendDlgItemMessageA(dialog.get(), IDC_ANIMATION, ACM_OPENA, reinterpret_cast<WPARAM>(setup_.get()),
                                      reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI))));
      SetWindowTextW(dialog.get(), text(IDS_UI_CAPTION).c_str());
      SetDlgItemTextW(dialog.get(), IDCANCEL, text(IDS_UI_CANCEL).c_str());
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].first != IDC_STATUS_LINE || i == shown)
          SetDlgItemTextW(dialog.get(), lines[i].first, lines[i].second.c_str());
      }
      RECT client;
      GetClientRect(dialog.get(), &client);
      std::vector<RECT> placed;
      for (HWND child = GetWindow(dialog.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // The two labels carry no id: known by their English texts, as the template gives them.
        WCHAR text_now[512] = L"";
        GetWindowTextW(child, text_now, 512);
        if (std::wcscmp(text_now, L"Estimated time left:") == 0)
          SetWindowTextW(child, text(IDS_UI_TIME_LEFT_LABEL).c_str());
        if (std::wcscmp(text_now, L"Transfer rate:") == 0) SetWindowTextW(child, text(IDS_UI_RATE_LABEL).c_str());
        GetWindowTextW(child, text_now, 512);
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&rect), 2);
        char shownText[1024] = "";
        WideCharToMultiByte(CP_UTF8, 0, text_now, -1, shownText, sizeof shownText, nullptr, nullptr);
        SCOPED_TRACE(std::to_string(static_cast<short>(GetDlgCtrlID(child))) + " \"" + shownText + "\"");
        RECT inside;
        EXPECT_TRUE(IntersectRect(&inside, &rect, &client) && EqualRect(&inside, &rect)) << "outside the dialog";
        for (const RECT& other : placed) EXPECT_FALSE(IntersectRect(&inside, &rect, &other)) << "overlaps a control";
        placed.push_back(rect);

        SIZE extent = {};
        HDC dc = GetDC(child);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(dc, text_now, static_cast<int>(std::wcslen(text_now)), &extent);
        SelectObject(dc, old);
        ReleaseDC(child, dc);
        EXPECT_LE(extent.cx, rect.right - rect.left) << "text cut";
        EXPECT_LE(extent.cy, rect.bottom - rect.top) << "text cut";
      }
      EXPECT_EQ(placed.size(), 9u);
    }
  }
}

}  // namespace
