// Builds a distribution from a description: the disk data files are
// written while the source files are compressed, piece by piece, so no file
// is held in memory whole; then the setup script. Everything is written
// into a temporary directory inside the output directory and moved into
// place only when all of it is complete.
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/qvbuild/description.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace qvbuild {

class EBuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DistributionOptions {
  std::string OutDir;
  // 0: one disk data file; otherwise the largest size of a disk data file
  // (1457664 for 1.44 MB floppies).
  uint32_t DiskSize = 0;
  // The largest size of SETUP.1, when the first disk has less room than
  // the others (it holds setup.exe and the script too); 0: DiskSize.
  uint32_t FirstDiskSize = 0;
  int Level = 9;              // zlib level of the file streams and the script blocks
  bool CompressScript = true;
  // The single-file layout: one file holding the script at ScriptOffset
  // (after that many filler bytes) and the file data after it.
  bool SingleFile = false;
  std::string SingleFileName = "SETUP.BIN";
  uint32_t ScriptOffset = 0;
  // The single-file setup: Loader (the loader program) and SetupProgram
  // (setup.exe) stand before the script instead of a filler, and the file
  // ends with the attachment's trailer (loader/attachment.h).
  std::string Loader, SetupProgram;
  // Called on the complete output, before anything is moved into place,
  // with the script's path and its offsets (data offset 0: disk data files
  // beside it); raises to refuse the build. qvbuild checks there what
  // qvinspect --verify checks.
  std::function<void(const std::string& script, uint32_t script_offset, uint32_t data_offset)> Verify;
};

// A wrong option, named as on qvbuild's command line.
class EOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A temporary directory inside the output directory; removed with all it
// holds when the owner goes.
class TempDir {
 public:
  explicit TempDir(const std::string& out_dir);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Checks the options before anything is read or written; raises
// EOptionError.
void CheckOptions(const DistributionOptions& o);

struct DistributionResult {
  std::vector<std::string> Written;  // final paths, SETUP.0 (or the single file) first
  uint32_t ScriptOffset = 0;
  uint32_t DataOffset = 0;  // single-file layout only
  std::vector<sw::FileData> Files;
  std::vector<sw::FileSpec> FileSpecs;  // times and versions as stored
  uint64_t SourceBytes = 0;
};

// Raises EDescriptionError for a fault of an entry, EBuildError for a fault
// of the build (unwritable directory, ...). Leaves no new output behind on
// failure.
DistributionResult BuildDistribution(const Description& d, const DistributionOptions& o);

// A file's last-write time as a FILETIME (100-ns intervals since
// 1601-01-01 UTC) from seconds and nanoseconds since 1970-01-01 UTC.
uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds);

}  // namespace qvbuild
