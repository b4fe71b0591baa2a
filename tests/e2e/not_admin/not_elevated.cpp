// A process that is never elevated, on a system with user account control, for the variant
// setup_not_elevated.exe (Wine's token always holds Administrators); it takes the place of the real
// question at link time, and everything else in that installer is the product's own code.
#include "app/process_elevation.h"

ProcessElevation ReadProcessElevation() { return {false, true}; }
