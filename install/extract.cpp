#include "install/extract.h"

#include <cstring>

#include "common/exceptions.h"
#include "install/filerules.h"
#include "setupdata/zlibblock.h"

const uint8_t kDiskDataFileID[8] = {'q', 'd', 's', 'k', 'a', '3', '2', 0x1A};
const uint8_t kFileDataMarker[4] = {'z', 'l', 'b', 0x1A};

namespace {

[[noreturn]] void Corrupted() { throw Exception(SSourceCorrupted); }

uint32_t LE32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint32_t SpanReadThunk(void* buffer, uint32_t capacity, void* context) {
  return SpanRead(buffer, capacity, *static_cast<TSpanState*>(context));
}

uint32_t BoundedWriteThunk(const void* buffer, uint32_t count, void* context) {
  return BoundedWrite(buffer, count, *static_cast<TSpanState*>(context));
}

}  // namespace

void CheckDiskFileHeader(TFile& source) {
  uint8_t id[8];
  source.ReadExact(id, sizeof id);
  if (std::memcmp(id, kDiskDataFileID, sizeof id) != 0) Corrupted();
  uint8_t size[4];
  source.ReadExact(size, sizeof size);
  if (static_cast<int64_t>(LE32(size)) != source.Size()) Corrupted();
}

uint32_t SpanRead(void* buffer, uint32_t capacity, TSpanState& span) {
  const uint32_t result =
      span.BytesLeft <= 0 ? 0
                          : (static_cast<uint32_t>(span.BytesLeft) < capacity
                                 ? static_cast<uint32_t>(span.BytesLeft)
                                 : capacity);
  uint32_t want = result;
  auto* p = static_cast<uint8_t*>(buffer);
  while (want != 0) {
    uint32_t got;
    {
      TTimedPart timed(span.Clock, "read");
      got = static_cast<uint32_t>(span.Source->ReadSome(p, want));
    }
    span.BytesLeft -= static_cast<int32_t>(got);
    if (got == want) break;
    want -= got;
    p += got;
    // A short read with bytes left: the stream goes on at the next disk,
    // unless this was the last one it may use. (A last disk below the
    // current one is as short as one equal to it.)
    if (span.CurrentDisk >= span.LastDisk) Corrupted();
    span.Source.reset();
    ++span.CurrentDisk;
    TTimedPart timed(span.Clock, "open disk data file");
    span.Source = span.OpenDisk(span.CurrentDisk);
    CheckDiskFileHeader(*span.Source);
  }
  span.Progress->AddProgress(result);
  span.Progress->CheckCancel();
  return result;
}

uint32_t BoundedWrite(const void* buffer, uint32_t count, TSpanState& span) {
  if (static_cast<int64_t>(span.BytesWritten) + count > span.ExpectedSize) Corrupted();
  span.Dest->Write(buffer, count);
  span.BytesWritten += static_cast<int32_t>(count);
  return count;
}

void ExtractFileData(std::unique_ptr<TFile>& source, bool header_checked, int64_t data_offset,
                     const SetupFileEntry& file,
                     const SetupFileLocationEntry& location, TFileSink& dest,
                     TInstallProgress& progress, const TOpenDisk& open_disk, TStepClock* clock) {
  TSpanState span;
  span.Source = std::move(source);
  span.Clock = clock;
  {
    TTimedPart timed(clock, "disk header and marker");
    if (data_offset == 0 && !header_checked) CheckDiskFileHeader(*span.Source);
    span.Source->Seek(data_offset + location.StartOffset());
    uint8_t marker[4];
    span.Source->ReadExact(marker, sizeof marker);
    if (std::memcmp(marker, kFileDataMarker, sizeof marker) != 0) Corrupted();
  }
  // Sizes that no stream can have are damage too.
  if (file.CompressedSize() < 0 || file.Size() < 0) Corrupted();

  span.CurrentDisk = location.FirstDisk();
  span.LastDisk = location.LastDisk();
  span.BytesLeft = file.CompressedSize();
  span.ExpectedSize = file.Size();
  span.OpenDisk = open_disk;
  span.Dest = &dest;
  span.Progress = &progress;

  const uint32_t position = progress.ProgressPosition();
  try {
    uint32_t checksum = 0;
    bool complete;
    try {
      complete = DecompressStream(SpanReadThunk, BoundedWriteThunk, &span, checksum);
    } catch (const EZlibDataError&) {
      Corrupted();
    }
    if (!complete || span.BytesWritten != file.Size() || checksum != file.Checksum()) Corrupted();
  } catch (...) {
    progress.SetProgressPosition(position);
    throw;
  }
  source = std::move(span.Source);
}
