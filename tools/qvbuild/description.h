// The JSON description of one installation (docs/script-description.md)
// and its translation into the script writer's records.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/scriptwriter/scriptwriter.h"

namespace qvbuild {

// A fault of the description. The message names the description file, the
// entry (list name and index) and the field, e.g.
// "app.json: files[2].flags: unknown flag \"shard\"".
class EDescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Description {
  std::string Path;  // the description file
  // The records; Files[i].Contents stay empty, the contents are streamed
  // from Sources[i] when the distribution is built.
  sw::ScriptBuilder Builder;
  std::vector<std::string> Sources;  // resolved against the description's directory
  // The index in Files/Sources of the uninstaller's entry, -1 for none.
  int UninstallerIndex = -1;
};

// Where the installation puts the uninstaller (the program its uninstall
// registration names).
constexpr const char* kUninstallerDest = "{win}\\Uninstal.exe";

// Adds (or, when there is one, points elsewhere) the uninstaller's file
// entry: {win}\Uninstal.exe, copied only over an older version (copy mode
// keepNewer, by the version resource of the source), never removed by an
// uninstallation (every product shares it). Raises EDescriptionError when
// the file is missing or the description is not uninstallable.
void SetUninstaller(Description& d, const std::string& source_path);

// Reads and checks a description: every key known, every flag and name
// known, every string within its field, the text files read and the source
// files present. Raises EDescriptionError.
Description LoadDescription(const std::string& path);
// The same from JSON text; base_dir resolves relative paths, name is used
// in messages.
Description ParseDescription(const std::string& json_text, const std::string& name,
                             const std::string& base_dir);

// Name tables shared with the inspection tool (flag name, mask).
struct FlagName {
  const char* Name;
  uint8_t Mask;
};
extern const std::vector<FlagName> kHeaderFlagNames;
extern const std::vector<FlagName> kFileFlagNames;
extern const std::vector<FlagName> kIniFlagNames;
extern const std::vector<FlagName> kRegistryFlagNames;
extern const std::vector<FlagName> kRunFlagNames;
extern const std::vector<const char*> kCopyModeNames;       // indexed by mode
extern const std::vector<const char*> kValueTypeNames;      // indexed by type
extern const std::vector<const char*> kRootKeyNames;        // indexed by root - 0x80000000
extern const std::vector<const char*> kSystemColorNames;    // indexed by colour index

// Parses "4.0", "3.51", "4.1" (= 4.10) into major and minor; the minor
// part is a two-digit fraction, as the version refusal messages print it.
bool ParseWindowsVersion(const std::string& text, uint8_t& major, uint8_t& minor);

}  // namespace qvbuild
