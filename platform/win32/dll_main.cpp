// The library's entry point does no work: start-up is KviDfInitialize's,
// per process, on the client's call.
#include "platform/win32/windows_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
