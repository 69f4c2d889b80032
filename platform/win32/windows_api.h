// <windows.h> for the Win32 platform files. It defines macros that carry
// the names of platform functions (DeleteFile, GetWindowsDirectory, OemToAnsi,
// InterlockedIncrement...); they are undone here so that platform.h, which
// always follows, declares the same names as every other file sees.
// Inside namespace kvi::platform the system functions are called with ::.
#ifndef KVI_PLATFORM_WIN32_WINDOWS_API_H
#define KVI_PLATFORM_WIN32_WINDOWS_API_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef DeleteFile
#undef GetWindowsDirectory
#undef InterlockedIncrement
#undef InterlockedDecrement
#undef OemToAnsi

#include "platform/platform.h"

#endif
