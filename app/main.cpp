// The installer's one application object; the framework's entry point runs it.
#include "app/installer_app.h"

// Registered before the application object exists, so its tray icon recognises the message.
static const UINT taskbarCreatedMessage = CTrayIcon::RegisterTaskbarCreatedMessage();

CInstallerApp theApp;
