// A program that the e2e scenarios let setup.exe start (run entries, the
// README's file association, the common-controls update). It appends one
// line to the file named by QV_PROBE_LOG telling how it was started, so a
// test sees what ran, in which order and with which command line.
//
//   runprobe [--name N] [--announce FILE] [--wait-for FILE] [--seen FILE]
//            [--touch FILE] args...
//
// --announce creates FILE at the start; --wait-for waits (at most 20 s)
// until FILE exists and notes whether it came; --seen notes whether FILE
// exists at the start; --touch creates FILE at the end. Every other argument
// is noted as it stands.
#include <windows.h>

#include <string>

namespace {
bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Touch(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}
}  // namespace

int main(int argc, char** argv) {
  std::string name = "probe", line, touch;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--name" && i + 1 < argc) {
      name = argv[++i];
    } else if (a == "--announce" && i + 1 < argc) {
      Touch(argv[++i]);
    } else if (a == "--seen" && i + 1 < argc) {
      line += std::string(" seen=") + (Exists(argv[++i]) ? "yes" : "no");
    } else if (a == "--wait-for" && i + 1 < argc) {
      const std::string file = argv[++i];
      const DWORD start = GetTickCount();
      while (!Exists(file) && GetTickCount() - start < 20000) Sleep(20);
      line += std::string(" waited=") + (Exists(file) ? "yes" : "timeout");
    } else if (a == "--touch" && i + 1 < argc) {
      touch = argv[++i];
    } else {
      line += " arg=" + a;
    }
  }
  line = name + line + "\r\n";
  char log[MAX_PATH] = "";
  if (GetEnvironmentVariableA("QV_PROBE_LOG", log, sizeof log)) {
    HANDLE h = INVALID_HANDLE_VALUE;
    // Another probe may be appending at the same moment: retry while shared.
    for (int tries = 0; tries < 500 && h == INVALID_HANDLE_VALUE; ++tries) {
      h = CreateFileA(log, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
      if (h == INVALID_HANDLE_VALUE) Sleep(10);
    }
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(h);
    }
  }
  if (!touch.empty()) Touch(touch);
  return 0;
}
