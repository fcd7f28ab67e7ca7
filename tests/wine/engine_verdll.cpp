// A DLL with a version resource (1.2.3.4) and no self-registration export.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
