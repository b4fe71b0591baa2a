// The one way a refusal or an error exit is reported: the ERROR entry, the status key and, unless
// silent, the message box.
#pragma once

#include <windows.h>

#include <string>

struct FailureReport {
  std::string logText;              // the ERROR entry (none for a text shorter than two characters)
  const char* statusKey = nullptr;  // the status key that records logText; null for none
  std::string message;              // the box's text; "" for no box
  // The box's text in a translation: string `textId` with `textArgs` for "%1" and "%2"; 0 shows
  // `message` in every language. `captionId` likewise stands for `caption`.
  UINT textId = 0;
  std::string textArgs[2];
  UINT captionId = 0;
  bool silent = false;  // no box, whatever `message` holds
  // The box: the application's (AfxMessageBox with `style`) when `caption` is null; otherwise
  // MessageBoxA owned by `owner` with that caption and style (the wide ones in a translation).
  const char* caption = nullptr;
  HWND owner = nullptr;
  UINT style = MB_OK;
  // The entry and the key wait until the user has dismissed the box.
  bool recordAfterBox = false;
  // The download has failed for good or the package was refused: the box adds where the complete
  // installer is (SetFullInstallerUrl), and an INFO entry names it, silent or not.
  bool offerFullInstaller = false;
};

// The address of the complete installer that failures with offerFullInstaller point to; "" (the
// default) for none. Call once, before any other thread reports.
void SetFullInstallerUrl(const std::string& url);

// Writes what `report` asks for. Callable from any thread; the box blocks the caller until
// dismissed.
void ReportFailure(const FailureReport& report);
