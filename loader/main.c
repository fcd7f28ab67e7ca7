/* Loader.exe, the single-file setup: finds setup.exe, the setup script and
 * the file data attached to its own file (loader/attachment.h), writes
 * setup.exe into a new folder of its own under the temporary folder, runs
 * it with "/SL <this file> <script offset> <data offset>", waits for it,
 * removes the folder again and ends with setup.exe's exit code. A missing
 * or damaged attachment is a message and exit code 1.
 *
 * A downloaded file sits in a folder where anyone may have put a DLL: the
 * loader has no C library and imports only KERNEL32 and USER32, which every
 * Windows takes from its system folder. Large buffers are static, so that
 * no stack probe is needed. */
#include <windows.h>

#include "loader/attachment.h"

static const char kCaption[] = "Setup";
/* A download cut short has lost its trailer: "incomplete". */
static const char kMissing[] =
    "The setup files attached to this program are missing or incomplete. Please obtain a new copy of "
    "the program.";
static const char kDamaged[] =
    "The setup files attached to this program are damaged. Please obtain a new copy of the program.";

static char g_self[MAX_PATH + 1];
static char g_folder[MAX_PATH + 1];
static char g_setup[MAX_PATH + 16];
static char g_message[1024];
static char g_command[1024];
static uint8_t g_buffer[32768];
static STARTUPINFOA g_startup;
static PROCESS_INFORMATION g_process;

static void Fail(const char* text) {
  MessageBoxA(NULL, text, kCaption, MB_OK | MB_ICONSTOP);
  ExitProcess(1);
}

/* A message naming a path and the system's error code. */
static void FailAt(const char* format, const char* path, DWORD code) {
  wsprintfA(g_message, format, path, (unsigned long)code);
  Fail(g_message);
}

static BOOL ReadAt(HANDLE file, DWORD offset, void* buffer, DWORD count) {
  DWORD got = 0;
  if (SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) == 0xFFFFFFFFu) return FALSE;
  return ReadFile(file, buffer, count, &got, NULL) && got == count;
}

/* Deletes setup.exe and its folder. The file may stay in use for a moment
 * after its process has ended. */
static void RemoveTemporaries(void) {
  int attempt;
  for (attempt = 0; attempt < 50; ++attempt) {
    if (DeleteFileA(g_setup) || GetFileAttributesA(g_setup) == 0xFFFFFFFFu) break;
    Sleep(100);
  }
  RemoveDirectoryA(g_folder);
}

static void FailAfterFolder(const char* text) {
  RemoveTemporaries();
  Fail(text);
}

/* A new folder under the temporary folder, named in 8.3 form: QVS<5 hex
 * digits>.TMP. One that exists already is never used. */
static void MakeFolder(void) {
  char temp[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof temp, temp);
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 8);
  int attempt;
  if (n == 0 || n > MAX_PATH - 24)
    FailAt("Setup cannot find the temporary folder%s (error %lu).", "", GetLastError());
  for (attempt = 0; attempt < 4096; ++attempt) {
    DWORD code;
    wsprintfA(g_folder, "%sQVS%05lX.TMP", temp, (unsigned long)((seed + (DWORD)attempt) & 0xFFFFF));
    if (CreateDirectoryA(g_folder, NULL)) return;
    code = GetLastError();
    /* Windows 95 may answer an existing name with another code. */
    if (GetFileAttributesA(g_folder) == 0xFFFFFFFFu)
      FailAt("Setup cannot create a folder in the temporary folder \"%s\" (error %lu).", temp, code);
  }
  FailAt("Setup cannot create a folder in the temporary folder \"%s\" (error %lu).", temp,
         ERROR_ALREADY_EXISTS);
}

/* Copies setup.exe out of this file into the new folder, checking it. */
static void WriteSetup(HANDLE self, const TAttachment* a) {
  HANDLE out;
  DWORD done = 0, code;
  uint32_t adler = 1;
  wsprintfA(g_setup, "%s\\SETUP.EXE", g_folder);
  out = CreateFileA(g_setup, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    code = GetLastError();
    RemoveDirectoryA(g_folder);
    FailAt("Setup cannot write \"%s\" (error %lu).", g_setup, code);
  }
  while (done < a->SetupSize) {
    DWORD n = a->SetupSize - done, wrote = 0;
    if (n > sizeof g_buffer) n = sizeof g_buffer;
    if (!ReadAt(self, a->SetupOffset + done, g_buffer, n)) {
      CloseHandle(out);
      FailAfterFolder(kDamaged);
    }
    adler = QvAdler32(adler, g_buffer, n);
    if (!WriteFile(out, g_buffer, n, &wrote, NULL) || wrote != n) {
      code = GetLastError();
      CloseHandle(out);
      RemoveTemporaries();
      FailAt("Setup cannot write \"%s\" (error %lu).", g_setup, code);
    }
    done += n;
  }
  if (!CloseHandle(out)) {
    code = GetLastError();
    RemoveTemporaries();
    FailAt("Setup cannot write \"%s\" (error %lu).", g_setup, code);
  }
  if (adler != a->SetupChecksum) FailAfterFolder(kDamaged);
}

void LoaderMain(void) {
  HANDLE self;
  DWORD size, high = 0, code;
  uint8_t trailer[QV_TRAILER_SIZE];
  TAttachment a;
  DWORD n = GetModuleFileNameA(NULL, g_self, sizeof g_self);
  if (n == 0 || n >= sizeof g_self)
    FailAt("Setup cannot find its own file%s (error %lu).", "", GetLastError());
  self = CreateFileA(g_self, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     NULL);
  if (self == INVALID_HANDLE_VALUE)
    FailAt("Setup cannot read its own file \"%s\" (error %lu).", g_self, GetLastError());
  size = GetFileSize(self, &high);
  if (size == 0xFFFFFFFFu && GetLastError() != NO_ERROR)
    FailAt("Setup cannot read its own file \"%s\" (error %lu).", g_self, GetLastError());
  if (high != 0 || size > QV_ATTACHMENT_MAX_SIZE) Fail(kDamaged);
  if (size < QV_TRAILER_SIZE) Fail(kMissing);
  if (!ReadAt(self, size - QV_TRAILER_SIZE, trailer, QV_TRAILER_SIZE))
    FailAt("Setup cannot read its own file \"%s\" (error %lu).", g_self, GetLastError());
  switch (CheckAttachmentTrailer(trailer, size, &a)) {
    case acOk: break;
    case acMissing: Fail(kMissing); break;
    default: Fail(kDamaged); break;
  }

  MakeFolder();
  WriteSetup(self, &a);
  CloseHandle(self);

  wsprintfA(g_command, "\"%s\" /SL \"%s\" %lu %lu", g_setup, g_self, (unsigned long)a.ScriptOffset,
            (unsigned long)a.DataOffset);
  g_startup.cb = sizeof g_startup;
  if (!CreateProcessA(g_setup, g_command, NULL, NULL, FALSE, 0, NULL, NULL, &g_startup, &g_process)) {
    code = GetLastError();
    RemoveTemporaries();
    FailAt("Setup cannot start \"%s\" (error %lu).", g_setup, code);
  }
  CloseHandle(g_process.hThread);
  WaitForSingleObject(g_process.hProcess, INFINITE);
  if (!GetExitCodeProcess(g_process.hProcess, &code)) code = 1;
  CloseHandle(g_process.hProcess);
  RemoveTemporaries();
  ExitProcess(code);
}
