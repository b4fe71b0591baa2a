// A desktop user who is not an administrator, for the installer variant setup_not_admin.exe. Wine's
// own token always holds Administrators, so the flow's refusal branch cannot be reached there; this
// definition takes the place of the real check at link time (the check's object file is then not
// linked at all), and everything else in that installer is the product's own code.
#include "probes/logged_on_user.h"

BOOL CLoggedOnUserHelper::IsLoggedOnUserAdmin() { return FALSE; }
