// Feeds arbitrary bytes to the script loader. Every input must end in a
// loaded script or in one of the loader's own failures: never a crash, a
// hang, a sanitizer report or an allocation beyond the fuzzer's limit.
#include <cstddef>
#include <cstdint>

#include "setupdata/script.h"
#include "setupdata/zlibblock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryFile file(data, size);
  SetupScript script;
  try {
    LoadSetupScript(file, 0, script, [](const SetupHeader& h) {
      // Touch every header field the way startup does.
      (void)CheckWindowsVersion(h, true, 4, 0);
      (void)h.ApplicationName();
    });
    // Read every field of every record.
    for (const auto& r : script.RegistryEntries) {
      (void)r.SubKey();
      (void)r.StringData();
      (void)r.BinaryLength();
    }
    for (const auto& f : script.FileEntries) (void)f.DestName();
    for (const auto& i : script.IconEntries) (void)i.Parameters();
    (void)script.TotalFileSize();
  } catch (const Exception&) {
    // EScriptIDMismatch, EZlib*, EInOutError, EOutOfMemory: all expected.
  }
  return 0;
}
