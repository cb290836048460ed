// The DLL entry point: the library needs no initialisation, so every
// notification is answered with success and nothing else happens.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
