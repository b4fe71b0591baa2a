#include "app/process_elevation.h"

#include <windows.h>

#include "app/work_folder.h"
#include "framework/handle.h"

ProcessElevation ReadProcessElevation() {
  ProcessElevation elevation;
  elevation.elevated = IsProcessElevated();
  // Every system that has user account control answers TokenElevationType, with it switched off
  // too. There a run that is not elevated is a standard user's: its re-launch still asks the system
  // for administrator rights, and one that comes back without them is refused, as the administrator
  // check would refuse that user. Windows 2000 and XP know no such class and fail the call.
  UniqueHandle token;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  elevation.hasUserAccountControl = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
                                    GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size);
  return elevation;
}
