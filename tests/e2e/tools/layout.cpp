// layout: shows how the download dialog and the tray icon come out at the display's scale, for the
// end-to-end scale tests. Loads the installer for its resources, builds dialog 124 as the product
// does (the animation opened from resource 126), puts the given texts into its controls and prints
// what each control needs against what it has, measured with the control's own font; then loads
// icon 149 at the small-icon size, as the start-up flow does for the tray.
//
//   layout <installer.exe> [<control id>=<text>]...
//
// Prints, then exits 0 (1 when the installer or its dialog cannot be loaded):
//   dpi=N small-icon=CX,CY loaded=W,H drawn=S   (drawn: the size of the group's image for CX)
//   client=W,H
//   id=N class=C rect=L,T,R,B text-size=W,H text=T   (one line per control, in template order)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/handle.h"
#include "res/resource.h"

namespace {

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The pixel size of the image that LoadImage picks from icon group `id` for `size` pixels: the
// width in its bitmap header or in its PNG header. 0 when the group or image is missing.
int DrawnSize(HMODULE module, int id, int size) {
  HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(id), RT_GROUP_ICON);
  BYTE* bits = group ? static_cast<BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
  const int image = bits ? LookupIconIdFromDirectoryEx(bits, TRUE, size, size, LR_DEFAULTCOLOR) : 0;
  HRSRC found = image ? FindResourceA(module, MAKEINTRESOURCEA(image), RT_ICON) : nullptr;
  const BYTE* data = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
  if (!data || SizeofResource(module, found) < 24) return 0;
  if (std::memcmp(data, "\x89PNG", 4) == 0) return (data[16] << 24) | (data[17] << 16) | (data[18] << 8) | data[19];
  LONG width;
  std::memcpy(&width, data + 4, sizeof width);
  return width;
}

void PrintIcon(HMODULE module) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  UniqueIcon icon(static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_TRAY), IMAGE_ICON, cx, cy, 0)));
  BITMAP colour = {};
  ICONINFO info = {};
  if (icon && GetIconInfo(icon.get(), &info)) {
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof colour, &colour);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  std::printf("dpi=%d small-icon=%d,%d loaded=%ld,%ld drawn=%d\n", dpi, cx, cy, colour.bmWidth,
              colour.bmHeight, DrawnSize(module, IDI_TRAY, cx));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  UniqueModule setup(LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE));
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  UniqueWindow dialog(setup ? CreateDialogParamA(setup.get(), MAKEINTRESOURCEA(IDD_FILE_DOWNLOAD), nullptr,
                                                 PassiveDialogProc, 0)
                            : nullptr);
  if (!dialog) return 1;
  PrintIcon(setup.get());

  SendDlgItemMessageA(dialog.get(), IDC_ANIMATION, ACM_OPENA, reinterpret_cast<WPARAM>(setup.get()),
                      reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI)));
  for (int i = 2; i < argc; ++i) {
    const char* equals = std::strchr(argv[i], '=');
    if (equals) SetDlgItemTextA(dialog.get(), std::atoi(argv[i]), equals + 1);
  }

  RECT client;
  GetClientRect(dialog.get(), &client);
  std::printf("client=%ld,%ld\n", client.right, client.bottom);
  for (HWND child = GetWindow(dialog.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&rect), 2);
    char className[64] = "", text[512] = "";
    GetClassNameA(child, className, sizeof className);
    GetWindowTextA(child, text, sizeof text);
    SIZE extent = {};
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(child, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &extent);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    std::printf("id=%d class=%s rect=%ld,%ld,%ld,%ld text-size=%ld,%ld text=%s\n",
                static_cast<short>(GetDlgCtrlID(child)), className, rect.left, rect.top, rect.right, rect.bottom,
                extent.cx, extent.cy, text);
  }
  return 0;
}
