// The DLL's entry routine. Loading and unloading do no work: the library has
// no per-process or per-thread set-up, so it only reports success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
