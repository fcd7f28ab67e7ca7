// The inspection of a distribution: the setup script as readable JSON, and
// the verification of the file data (disk data files or the data area of a
// single file) with the messages setup.exe gives for the same faults.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "setupdata/script.h"

namespace qvinspect {

// A script that setup.exe would refuse; the message is the one it shows.
class EScriptFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads the script at offset of the file; raises EScriptFault with the
// startup message ("The setup files are corrupted ...") or the file layer's
// message.
void LoadScriptFile(const std::string& path, int64_t offset, SetupScript& script);
// The same from a file already open.
void LoadScript(TFile& file, int64_t offset, SetupScript& script);

// The whole script as JSON, with the same key names as the description
// that qvbuild reads, plus the sizes, checksums and locations.
nlohmann::ordered_json ScriptToJson(const SetupScript& script);

struct VerifyResult {
  nlohmann::ordered_json Report;            // disks and files checked
  std::vector<std::string> Faults;  // each names the data file and the entry
  bool Ok() const { return Faults.empty(); }
};

// Checks every disk data file the script refers to (looked for in dir) and
// every file's stream: marker, decompressed size and Adler-32. With a
// data_offset other than 0 the data lies in script_path from that offset.
VerifyResult VerifyData(const SetupScript& script, const std::string& script_path,
                        const std::string& dir, uint32_t data_offset);

// Where VerifyData finds the file data: the script's own file (embedded
// data) and the disk data files by number, with their names for the
// messages. OpenDisk gives nullptr for a disk data file that is not there;
// both raise the file layer's error for one that cannot be read.
struct TDataFiles {
  std::string ScriptName;
  std::function<std::unique_ptr<TFile>()> OpenScript;
  std::function<std::string(int disk)> DiskName;
  std::function<std::unique_ptr<TFile>(int disk)> OpenDisk;
};
VerifyResult VerifyData(const SetupScript& script, const TDataFiles& files, uint32_t data_offset);

// Checks a distribution as qvinspect --verify does: the script at
// script_offset of script_path, its file data in the disk data files beside
// it (data_offset 0) or in the same file from data_offset. Raises
// EScriptFault with every fault found.
void VerifyDistribution(const std::string& script_path, uint32_t script_offset, uint32_t data_offset);

// The attachment of a single-file setup (loader/attachment.h) at the end
// of path: Found is false for a file without one. With one, Fault names
// what is wrong with it, or is empty when its trailer holds and the
// setup.exe it carries matches its checksum.
struct AttachmentInfo {
  bool Found = false;
  std::string Fault;
  uint32_t SetupOffset = 0, SetupSize = 0, ScriptOffset = 0, DataOffset = 0;
};
AttachmentInfo ReadAttachment(const std::string& path);

// The program: arguments without the program name; returns the exit status.
int RunInspect(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace qvinspect
