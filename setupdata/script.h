// The setup script in memory and the procedure that loads it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "setupdata/filestream.h"
#include "setupdata/records.h"

// The 8-byte script ID: "qz100ae" followed by 0x1A.
extern const uint8_t kSetupScriptID[8];

// A script text as held in memory: the text bytes followed by one 0 byte, or
// absent (empty vector) when its size in the header is 0.
using TScriptText = std::vector<char>;

struct SetupScript {
  SetupHeader Header;
  TScriptText LicenseText;
  TScriptText InfoBeforeText;
  TScriptText InfoAfterText;
  std::vector<SetupDirEntry> DirEntries;
  std::vector<SetupFileEntry> FileEntries;
  std::vector<SetupFileLocationEntry> FileLocationEntries;
  std::vector<SetupIconEntry> IconEntries;
  std::vector<SetupIniEntry> IniEntries;
  std::vector<SetupRegistryEntry> RegistryEntries;
  std::vector<SetupUninstallDeleteEntry> UninstallDeleteEntries;
  std::vector<SetupRunEntry> RunEntries;

  // Sum of the file entries' Size fields, modulo 2^32.
  uint32_t TotalFileSize() const;
  // hfUninstallable set, or at least one icon entry.
  bool IconsNeeded() const;
};

// Raised when the 8 bytes at the script's start are not the script ID.
class EScriptIDMismatch : public Exception {
 public:
  EScriptIDMismatch() : Exception("Setup script ID mismatch") {}
};

// Reads a whole script from the file, starting at offset: the ID raw, then
// the header, the three texts and the eight lists, each item one block.
// check_header runs right after the header has been read, before anything
// else (startup's Windows version check); it may raise.
//
// Raises EScriptIDMismatch; EZlibDataError for any block that is not valid
// (also a record whose length bytes overflow their fields, and a negative
// or impossible text size); EInOutError when the file ends early; the
// decompressor's other failures unchanged.
void LoadSetupScript(TFile& file, int64_t offset, SetupScript& script,
                     const std::function<void(const SetupHeader&)>& check_header = nullptr);

// The fixed messages of startup.
extern const char* const SWin32sNotSupported;
extern const char* const SScriptNotFound;
extern const char* const SScriptIDMismatch;
extern const char* const SScriptCorrupted;
extern const char* const SNotOnWindowsNT;
extern const char* const SRequiresWindowsNT;  // one %s: the version
extern const char* const SMustBeWindowsNT;
extern const char* const SRequiresWindows;  // one %s: the version

// The version text of the refusal messages: "%d.%s" of the major version and
// the minor version as at least two digits with trailing zeros removed
// (4.10 -> "4.1", 4.05 -> "4.05"). A minor version of 0 reads "0" ("4.0").
std::string FormatRequiredVersion(uint8_t major, uint8_t minor);

// The startup version check. Returns the refusal message, or an empty
// string when the running version (major, minor) is suitable.
std::string CheckWindowsVersion(const SetupHeader& header, bool is_nt, uint8_t major, uint8_t minor);
