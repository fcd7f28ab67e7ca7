/* The sample's program: a 32-bit Windows program that only shows a box. */
#include <windows.h>

void WINAPI Start(void) {
  MessageBoxA(NULL, "Sample App is installed.", "Sample App", MB_OK);
  ExitProcess(0);
}
