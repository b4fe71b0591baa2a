// The framework's BOOL for portable code that does not include <windows.h> (the same typedef).
#pragma once

typedef int BOOL;
