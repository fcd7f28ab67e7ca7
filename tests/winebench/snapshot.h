// The machine state of a Wine prefix, taken from inside it, and the
// differences between two such states: every file and directory under the
// file roots (size, content hash, creation and last-write times, attributes),
// every key and value under the registry roots, and for INI files their
// sections and keys. A test takes one before a scenario and one after, and
// expects no difference but those it names.
//
//   qvsnap::Snapshot before = qvsnap::TakeSnapshot();
//   ... run the scenario ...
//   qvsnap::Snapshot after = qvsnap::TakeSnapshot();
//   EXPECT_THAT(qvsnap::Diff(before, after), ::testing::IsEmpty());
//
// Diff leaves out what Wine itself changes in an idle prefix (WineChurn()),
// plus any rules the test adds, each with its reason.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qvsnap {

struct RegistryRoot {
  HKEY root;             // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, ...
  std::string name;      // how differences name it: "HKLM", "HKCU", ...
  std::string subkey;    // e.g. "Software"; "" for the whole root
};

enum class RegistryMethod {
  kSave,       // RegSaveKey of each root, parsed (one server call; falls back
               // to kEnumerate when Wine refuses). Volatile keys are never
               // saved, so they are not seen (Wine keeps a few of its own).
  kEnumerate,  // RegEnumKeyEx / RegEnumValue key by key
};

struct SnapshotOptions {
  // Directories walked recursively, e.g. "C:\\" (with or without the trailing
  // backslash). Directories that are symbolic links (Wine links the user's
  // Desktop, Documents ... to the Unix home) are recorded, never walked.
  std::vector<std::string> fileRoots = {"C:\\"};
  std::vector<RegistryRoot> registryRoots = {
      {HKEY_LOCAL_MACHINE, "HKLM", "Software"},
      {HKEY_CURRENT_USER, "HKCU", "Software"},
  };
  // Directories not walked at all (wildcards * and ?, case-insensitive,
  // matched against the full path). Their own entry is still recorded.
  std::vector<std::string> skipDirectories;
  // Files up to this size are read and hashed. A larger file (Wine's own
  // DLLs, most of the bytes of a prefix) counts as unchanged while its size,
  // last-write time and change time stay the same: the change time moves with
  // every write and cannot be set back by a program.
  uint64_t hashLimit = 256 * 1024;
  RegistryMethod registryMethod = RegistryMethod::kSave;
};

struct FileState {
  std::string path;  // as found on disk
  bool directory = false;
  bool link = false;  // a symbolic link or other reparse point (not walked)
  uint64_t size = 0;
  bool hashed = false;
  uint64_t hash = 0;        // of the contents, when hashed
  uint64_t changeTime = 0;  // FILE_BASIC_INFO.ChangeTime; 0 when unreadable
  uint32_t links = 1;       // names the file has (Wine's modules are shared by hard links)
  FILETIME creation{};
  FILETIME lastWrite{};
  DWORD attributes = 0;
  bool ini = false;     // *.ini: text is kept for a section/key diff
  std::string text;     // the contents of an INI file
};

struct RegValueState {
  std::string name;  // "" = the default value
  DWORD type = 0;
  std::string data;  // raw bytes
};

struct RegKeyState {
  std::string path;  // "HKLM\\Software\\..."
  bool link = false; // a registry link (recorded, not followed)
  std::map<std::string, RegValueState> values;  // by upper-cased name
};

struct Snapshot {
  std::map<std::string, FileState> files;  // by upper-cased path
  std::map<std::string, RegKeyState> keys; // by upper-cased path
  // What it took: counts and the wall time, for the benchmark line.
  uint64_t bytesHashed = 0;
  uint64_t filesHashedFromCache = 0;
  double fileSeconds = 0;
  double registrySeconds = 0;
  size_t registryRootsTotal = 0;
  unsigned registryRootsSaved = 0;  // read through RegSaveKey (not enumerated)
  std::string Summary() const;
};

// Takes a snapshot. Throws std::runtime_error when a root cannot be read.
// Contents hashes are cached within the process under the file's identity
// (path, size, write and change times), so a second snapshot reads only the
// files that changed.
Snapshot TakeSnapshot(const SnapshotOptions& options = SnapshotOptions());

// A difference is left out when its subject matches the pattern (wildcards *
// and ?, case-insensitive). Subjects: a file's path ("C:\\dir\\file"); a
// registry key's path ("HKLM\\Software\\Key"); a value "HKLM\\Software\\Key
// [Name]" ("[]" for the default value); an INI key "C:\\dir\\file.ini
// [Section] Key", an INI section "C:\\dir\\file.ini [Section]".
struct IgnoreRule {
  std::string pattern;
  std::string reason;  // why this difference is expected; required
};

// What Wine changes in a prefix by itself while a test runs (each rule says
// why). Diff applies them unless told otherwise.
const std::vector<IgnoreRule>& WineChurn();

// Every difference from before to after, one readable line each, in path
// order ("file added: C:\\App\\a.txt (12 bytes)", "value changed: HKLM\\...
// [Name]: REG_SZ \"a\" -> REG_SZ \"b\"", "ini key added: C:\\x.ini [S] K =
// \"v\"" ...), without those matching a rule of ignore or of WineChurn().
std::vector<std::string> Diff(const Snapshot& before, const Snapshot& after,
                              const std::vector<IgnoreRule>& ignore = {},
                              bool withWineChurn = true);

// The wildcard match the rules use (exposed for tests).
bool WildcardMatch(const std::string& pattern, const std::string& text);

}  // namespace qvsnap
