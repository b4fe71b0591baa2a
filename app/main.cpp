// The installer's one application object; the framework's entry point runs it.
#include "app/installer_app.h"

CInstallerApp theApp;
