// Keeps a DLL loaded in a process of its own, as a running program keeps
// its libraries: dllholder DLL READY RELEASE loads DLL, creates the file
// READY, and frees the DLL and ends once the file RELEASE exists (at most
// after 120 s). Exit code 0, or 1 when the DLL does not load.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) return 1;
  CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  for (int i = 0; i < 6000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
  FreeLibrary(dll);
  return 0;
}
