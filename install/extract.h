// File data in the disk data files and its extraction.
//
// A disk data file SETUP.n is the ID "qdska32" 0x1A, its own total size
// (32 bits), then the file data. Each file's data is the marker "zlb" 0x1A
// and one zlib stream of exactly the entry's compressed size, which may run
// on at offset 12 of the next disk data files. With embedded data (the /SL
// layout) the data lies in the script's file at DataOffset, without a disk
// header. Portable: the Win32 side supplies the disk finder and the files.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "install/installcontext.h"
#include "setupdata/filestream.h"
#include "setupdata/records.h"

extern const uint8_t kDiskDataFileID[8];
extern const uint8_t kFileDataMarker[4];
constexpr uint32_t kDiskDataHeaderSize = 12;

// Where extracted bytes go. Write raises the file layer's error.
class TFileSink {
 public:
  virtual ~TFileSink() = default;
  virtual void Write(const void* data, uint32_t count) = 0;
};

// Finds and opens the disk data file with number n for reading (it may ask
// for the disk, and raise the silent abort when the user cancels).
using TOpenDisk = std::function<std::unique_ptr<TFile>(int32_t disk)>;

// The state of one extraction while its stream is read across disks.
struct TSpanState {
  int32_t CurrentDisk = 0;
  int32_t LastDisk = 0;
  int32_t BytesLeft = 0;
  int32_t ExpectedSize = 0;
  int32_t BytesWritten = 0;
  std::unique_ptr<TFile> Source;  // the disk data file open now
  TOpenDisk OpenDisk;
  TFileSink* Dest = nullptr;
  TInstallProgress* Progress = nullptr;
  TStepClock* Clock = nullptr;  // the benchmarks' breakdown
};

// Reads the 12-byte header of a disk data file just opened and leaves the
// file at offset 12. A file shorter than 8 bytes raises the file layer's
// read error; a wrong ID or a total size other than the file's own size
// raises "The source file is corrupted".
void CheckDiskFileHeader(TFile& source);

// The read routine of the decompression: at most capacity bytes of the
// stream, continuing on the next disk after a short read while bytes are
// left. Moves the progress bar by the count and tests for a cancel.
uint32_t SpanRead(void* buffer, uint32_t capacity, TSpanState& span);

// The write routine: raises "The source file is corrupted" before writing
// anything that would take the output beyond the expected size.
uint32_t BoundedWrite(const void* buffer, uint32_t count, TSpanState& span);

// Extracts one file from its already opened first source (the disk data file
// of the location's first disk, or the script's own file with embedded data,
// where data_offset is not 0) into dest and verifies size and Adler-32; the
// disk header is checked unless header_checked (a disk data file kept open
// from an earlier file). Every corruption raises "The source file is
// corrupted"; file errors and other zlib failures pass unchanged. After any
// failure the progress bar stands where it stood before and the source is
// closed; after a success source holds the disk data file open at the end
// (a later disk when the stream ran on), for the caller to keep or close.
void ExtractFileData(std::unique_ptr<TFile>& source, bool header_checked, int64_t data_offset,
                     const SetupFileEntry& file,
                     const SetupFileLocationEntry& location, TFileSink& dest,
                     TInstallProgress& progress, const TOpenDisk& open_disk,
                     TStepClock* clock = nullptr);
