#include "tools/qvbuild/distribution.h"

#include <sys/stat.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "loader/attachment.h"
#include "tools/qvbuild/pefile.h"

namespace fs = std::filesystem;

namespace qvbuild {

uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds) {
  constexpr int64_t kEpochDiff = 11644473600;  // seconds from 1601 to 1970
  if (seconds < -kEpochDiff) return 0;
  return static_cast<uint64_t>(seconds + kEpochDiff) * 10000000u + nanoseconds / 100;
}

namespace {

constexpr size_t kChunk = 1 << 16;
constexpr uint32_t kDiskHeaderSize = 12;
constexpr uint32_t kMinDiskSize = kDiskHeaderSize + 4 + 1;
constexpr uint32_t kMaxScriptOffset = 1u << 30;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t ModificationNanoseconds(const struct stat& st) {
#if defined(__linux__)
  return static_cast<uint32_t>(st.st_mtim.tv_nsec);
#else
  (void)st;
  return 0;
#endif
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string DiskName(int n) { return "SETUP." + std::to_string(n); }

// Writes the file streams over disk data files of at most disk_size bytes
// (0: no limit), or into one headerless data area for the single-file
// layout.
class DataWriter {
 public:
  DataWriter(std::string dir, uint32_t disk_size, uint32_t first_disk_size, bool single)
      : dir_(std::move(dir)),
        disk_size_(single ? 0 : disk_size),
        first_disk_size_(single ? 0 : first_disk_size != 0 ? first_disk_size : disk_size),
        single_(single) {
    NewDisk();
  }

  void AddFile(std::FILE* src, const std::string& src_path, int level, sw::FileData& d,
               const std::string& where) {
    // The marker always lies wholly inside the file's first disk.
    if (Limit() != 0 && size_ + 4 > Limit()) NewDisk();
    d.FirstDisk = static_cast<int32_t>(disks_.size());
    CheckOffset(where);
    d.StartOffset = static_cast<int32_t>(size_);
    Put(sw::kFileDataMarker, 4, where);

    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit(&z, level) != Z_OK) throw EBuildError(where + ": zlib deflateInit failed");
    struct End {
      z_stream* z;
      ~End() { deflateEnd(z); }
    } end{&z};
    std::vector<uint8_t> in(kChunk), out(kChunk);
    uint64_t total_in = 0, total_out = 0;
    uLong adler = adler32(0L, Z_NULL, 0);
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
      size_t got = std::fread(in.data(), 1, in.size(), src);
      if (std::ferror(src)) throw EBuildError(where + ": cannot read \"" + src_path + "\"");
      flush = got < in.size() ? Z_FINISH : Z_NO_FLUSH;
      if (got == in.size() && std::feof(src)) flush = Z_FINISH;
      adler = adler32(adler, in.data(), static_cast<uInt>(got));
      total_in += got;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(got);
      int rc;
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) throw EBuildError(where + ": zlib deflate failed");
        size_t produced = out.size() - z.avail_out;
        Put(out.data(), produced, where);
        total_out += produced;
      } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    if (total_in > 0x7FFFFFFFu || total_out > 0x7FFFFFFFu)
      throw EDescriptionError(where + ": the file is larger than 2 GB, which the script cannot describe");
    d.Size = static_cast<uint32_t>(total_in);
    d.CompressedSize = static_cast<uint32_t>(total_out);
    d.Checksum = static_cast<uint32_t>(adler);
    d.LastDisk = static_cast<int32_t>(disks_.size());
  }

  // Closes the last disk; returns the temporary paths of the disks in order.
  std::vector<std::string> Finish() {
    CloseDisk();
    return disks_;
  }

  ~DataWriter() {
    if (cur_) std::fclose(cur_);
  }

 private:
  void CheckOffset(const std::string& where) {
    if (size_ > 0x7FFFFFF0u)
      throw EDescriptionError(where + ": the file data lies beyond 2 GB in one disk data file; "
                              "choose a disk size");
  }

  void Put(const uint8_t* p, size_t n, const std::string& where) {
    while (n > 0) {
      if (Limit() != 0 && size_ >= Limit()) NewDisk();
      size_t room = n;
      if (Limit() != 0 && Limit() - size_ < room) room = static_cast<size_t>(Limit() - size_);
      if (std::fwrite(p, 1, room, cur_) != room)
        throw EBuildError(where + ": cannot write \"" + disks_.back() + "\"");
      size_ += room;
      p += room;
      n -= room;
    }
  }

  void CloseDisk() {
    if (!cur_) return;
    bool ok = true;
    if (!single_) {
      if (size_ > 0xFFFFFFFFull) throw EBuildError("a disk data file is larger than 4 GB");
      uint8_t b[4];
      PutLE32(b, static_cast<uint32_t>(size_));
      ok = std::fseek(cur_, 8, SEEK_SET) == 0 && std::fwrite(b, 1, 4, cur_) == 4;
    }
    ok = std::fclose(cur_) == 0 && ok;
    cur_ = nullptr;
    if (!ok) throw EBuildError("cannot write \"" + disks_.back() + "\"");
  }

  void NewDisk() {
    CloseDisk();
    std::string path = dir_ + "/" + (single_ ? std::string("data") : DiskName(static_cast<int>(disks_.size()) + 1));
    cur_ = std::fopen(path.c_str(), "wb");
    if (!cur_) throw EBuildError("cannot create \"" + path + "\"");
    disks_.push_back(path);
    size_ = 0;
    if (!single_) {
      uint8_t header[kDiskHeaderSize] = {};
      std::memcpy(header, sw::kDiskFileID, 8);
      if (std::fwrite(header, 1, sizeof header, cur_) != sizeof header)
        throw EBuildError("cannot write \"" + path + "\"");
      size_ = kDiskHeaderSize;
    }
  }

  // The largest size of the disk being written: the first disk may hold
  // less, its room shared with setup.exe and the script.
  uint64_t Limit() const { return disks_.size() == 1 ? first_disk_size_ : disk_size_; }

  std::string dir_;
  uint64_t disk_size_;
  uint64_t first_disk_size_;
  bool single_;
  std::FILE* cur_ = nullptr;
  uint64_t size_ = 0;
  std::vector<std::string> disks_;
};

void Append(std::FILE* to, const std::string& from_path, const std::string& to_path) {
  FilePtr from(std::fopen(from_path.c_str(), "rb"));
  if (!from) throw EBuildError("cannot read \"" + from_path + "\"");
  std::vector<uint8_t> buf(kChunk);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), from.get())) > 0)
    if (std::fwrite(buf.data(), 1, n, to) != n) throw EBuildError("cannot write \"" + to_path + "\"");
  if (std::ferror(from.get())) throw EBuildError("cannot read \"" + from_path + "\"");
}

uint64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  const uintmax_t n = fs::file_size(path, ec);
  if (ec) throw EBuildError("cannot read \"" + path + "\": " + ec.message());
  return n;
}

uint32_t FileAdler32(const std::string& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) throw EBuildError("cannot read \"" + path + "\"");
  std::vector<uint8_t> buf(kChunk);
  uint32_t adler = 1;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0)
    adler = QvAdler32(adler, buf.data(), static_cast<uint32_t>(n));
  if (std::ferror(f.get())) throw EBuildError("cannot read \"" + path + "\"");
  return adler;
}

void MoveInto(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) throw EBuildError("cannot move \"" + from + "\" to \"" + to + "\": " + ec.message());
}

}  // namespace

TempDir::TempDir(const std::string& out_dir) {
  static std::atomic<unsigned> counter{0};
  for (unsigned attempt = 0;; ++attempt) {
    path_ = out_dir + "/.qvbuild-" + std::to_string(reinterpret_cast<uintptr_t>(this) & 0xFFFFFF) + "-" +
            std::to_string(counter++) + ".tmp";
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
    if (attempt > 100) throw EBuildError("cannot create a temporary directory in \"" + out_dir + "\"");
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void CheckOptions(const DistributionOptions& o) {
  if (o.Level < 0 || o.Level > 9) throw EOptionError("--level: the compression level must be 0 to 9");
  if (o.DiskSize != 0 && o.DiskSize < kMinDiskSize)
    throw EOptionError("--disk-size: " + std::to_string(o.DiskSize) + " bytes is too small: a disk data file "
                       "holds its " + std::to_string(kDiskHeaderSize) + "-byte header, a file's 4-byte marker "
                       "and at least one byte of data (at least " + std::to_string(kMinDiskSize) + ")");
  if (o.FirstDiskSize != 0 && (o.DiskSize == 0 || o.FirstDiskSize < kMinDiskSize || o.FirstDiskSize > o.DiskSize))
    throw EOptionError("the first disk's size must lie between " + std::to_string(kMinDiskSize) +
                       " bytes and the disk size");
  if (o.ScriptOffset != 0 && !o.SingleFile) throw EOptionError("--script-offset needs --single-file");
  if (!o.Loader.empty() && (!o.SingleFile || o.SetupProgram.empty() || o.ScriptOffset != 0))
    throw EOptionError("a loader needs the single-file layout, setup.exe and no --script-offset");
  if (o.ScriptOffset > kMaxScriptOffset)
    throw EOptionError("--script-offset: " + std::to_string(o.ScriptOffset) + " is more than " +
                       std::to_string(kMaxScriptOffset) + " (1 GB), the most room a loader program may take");
  if (o.SingleFile) {
    const std::string& n = o.SingleFileName;
    if (n.empty() || n == "." || n == ".." || n.find_first_of("/\\:") != std::string::npos)
      throw EOptionError("--single-file: \"" + n +
                         "\" must be a file name without a folder (it is written into the output directory)");
  }
}

DistributionResult BuildDistribution(const Description& d, const DistributionOptions& o) {
  CheckOptions(o);
  std::error_code ec;
  fs::create_directories(o.OutDir, ec);
  if (!fs::is_directory(o.OutDir)) throw EBuildError("cannot create the output directory \"" + o.OutDir + "\"");

  DistributionResult result;
  sw::ScriptBuilder builder = d.Builder;
  TempDir tmp(o.OutDir);
  // The single file's data goes into a directory of its own, so that no
  // name of the single file can meet it.
  TempDir data_tmp(o.OutDir);
  DataWriter writer(o.SingleFile ? data_tmp.Path() : tmp.Path(), o.DiskSize, o.FirstDiskSize, o.SingleFile);

  for (size_t i = 0; i < builder.Files.size(); ++i) {
    std::string where = d.Path + ": files[" + std::to_string(i) + "]";
    const std::string& src = d.Sources.at(i);
    FilePtr f(std::fopen(src.c_str(), "rb"));
    if (!f) throw EDescriptionError(where + ".source: source file \"" + src + "\" not found");
    struct stat st;
    if (fstat(fileno(f.get()), &st) != 0)
      throw EDescriptionError(where + ".source: cannot read \"" + src + "\"");
    // The script holds sizes as 32-bit signed numbers: refused before a
    // byte is compressed.
    if (st.st_size > 0x7FFFFFFF)
      throw EDescriptionError(where + ".source: \"" + src + "\" is " + std::to_string(st.st_size) +
                              " bytes long; the script describes files of at most 2147483647 bytes");
    const uint32_t nsec = ModificationNanoseconds(st);
    uint64_t ft = UnixTimeToFileTime(static_cast<int64_t>(st.st_mtime), nsec);
    sw::FileSpec& spec = builder.Files[i];
    spec.SourceTimeLow = static_cast<uint32_t>(ft);
    spec.SourceTimeHigh = static_cast<uint32_t>(ft >> 32);
    StdioSource pe(f.get(), static_cast<uint64_t>(st.st_size));
    FileVersion v = ReadPEFileVersion(pe);
    spec.FileVersionMS = static_cast<int32_t>(v.MS);
    spec.FileVersionLS = static_cast<int32_t>(v.LS);
    std::rewind(f.get());
    sw::FileData fd;
    writer.AddFile(f.get(), src, o.Level, fd, where);
    // A file written to while it was read would ship torn.
    struct stat after;
    if (fstat(fileno(f.get()), &after) != 0 || after.st_size != st.st_size ||
        after.st_mtime != st.st_mtime || ModificationNanoseconds(after) != nsec ||
        static_cast<int64_t>(fd.Size) != static_cast<int64_t>(st.st_size))
      throw EDescriptionError(where + ".source: \"" + src +
                              "\" changed while it was read; build again once nothing writes to it");
    result.Files.push_back(fd);
    result.SourceBytes += fd.Size;
  }
  std::vector<std::string> data = writer.Finish();

  sw::BuildOptions bo;
  bo.Compress = o.CompressScript;
  bo.Level = o.Level;
  bo.SingleFile = o.SingleFile;
  bo.ScriptOffset = 0;  // the filler is written as the file is, not held in memory
  sw::Bytes script;
  try {
    script = builder.EncodeScript(result.Files, bo);
  } catch (const sw::EFieldError& e) {
    // The description's checks come first; this is the writer's own guard.
    throw EDescriptionError(d.Path + ": " + e.what());
  }
  result.FileSpecs = builder.Files;

  std::string script_name = o.SingleFile ? o.SingleFileName : "SETUP.0";
  std::string tmp_script = tmp.Path() + "/" + script_name;
  if (o.SingleFile) {
    // With a loader, the loader and setup.exe stand where the filler would.
    uint64_t loader_size = 0, setup_size = 0;
    if (!o.Loader.empty()) {
      loader_size = FileSizeOf(o.Loader);
      setup_size = FileSizeOf(o.SetupProgram);
      if (loader_size + setup_size > kMaxScriptOffset)
        throw EBuildError("the loader and setup.exe take more than 1 GB");
    }
    const uint32_t script_offset =
        o.Loader.empty() ? o.ScriptOffset : static_cast<uint32_t>(loader_size + setup_size);
    result.ScriptOffset = script_offset;
    const uint64_t data_offset = (uint64_t{script_offset} + script.size() + 15) / 16 * 16;
    if (data_offset > 0x7FFFFFFFu)
      throw EBuildError("the script of " + std::to_string(script.size()) + " bytes does not fit below 2 GB after "
                        "the --script-offset of " + std::to_string(o.ScriptOffset) + " bytes");
    result.DataOffset = static_cast<uint32_t>(data_offset);
    script.resize(static_cast<size_t>(data_offset - script_offset), 0);
    FilePtr out(std::fopen(tmp_script.c_str(), "wb"));
    if (!out) throw EBuildError("cannot create \"" + tmp_script + "\"");
    if (!o.Loader.empty()) {
      Append(out.get(), o.Loader, tmp_script);
      Append(out.get(), o.SetupProgram, tmp_script);
    }
    // The filler stands for the loader that carries the script.
    std::vector<uint8_t> filler(kChunk);
    for (uint32_t done = 0; o.Loader.empty() && done < o.ScriptOffset;) {
      const uint32_t n = o.ScriptOffset - done < kChunk ? o.ScriptOffset - done : static_cast<uint32_t>(kChunk);
      for (uint32_t i = 0; i < n; ++i) filler[i] = static_cast<uint8_t>((done + i) * 7 + 1);
      if (std::fwrite(filler.data(), 1, n, out.get()) != n) throw EBuildError("cannot write \"" + tmp_script + "\"");
      done += n;
    }
    if (std::fwrite(script.data(), 1, script.size(), out.get()) != script.size())
      throw EBuildError("cannot write \"" + tmp_script + "\"");
    Append(out.get(), data.at(0), tmp_script);
    if (!o.Loader.empty()) {
      const uint64_t end = data_offset + FileSizeOf(data.at(0)) + QV_TRAILER_SIZE;
      if (end > QV_ATTACHMENT_MAX_SIZE)
        throw EBuildError("the single file would be " + std::to_string(end) + " bytes long; at most " +
                          std::to_string(QV_ATTACHMENT_MAX_SIZE) + " fit");
      TAttachment a;
      a.SetupOffset = static_cast<uint32_t>(loader_size);
      a.SetupSize = static_cast<uint32_t>(setup_size);
      a.SetupChecksum = FileAdler32(o.SetupProgram);
      a.ScriptOffset = script_offset;
      a.DataOffset = result.DataOffset;
      a.FileSize = static_cast<uint32_t>(end);
      uint8_t trailer[QV_TRAILER_SIZE];
      EncodeAttachmentTrailer(&a, trailer);
      if (std::fwrite(trailer, 1, sizeof trailer, out.get()) != sizeof trailer)
        throw EBuildError("cannot write \"" + tmp_script + "\"");
    }
    if (std::fclose(out.release()) != 0) throw EBuildError("cannot write \"" + tmp_script + "\"");
  } else {
    try {
      sw::WriteFileBytes(tmp_script, script);
    } catch (const std::runtime_error& e) {
      throw EBuildError(e.what());
    }
  }

  if (o.Verify) o.Verify(tmp_script, result.ScriptOffset, result.DataOffset);

  // Everything is complete: move it into place, the script last, after the
  // old script is gone, so that no mix of old and new looks complete.
  std::string out = o.OutDir;
  std::string final_script = out + "/" + script_name;
  fs::remove(final_script, ec);
  if (fs::exists(final_script)) throw EBuildError("cannot replace \"" + final_script + "\"");
  if (!o.SingleFile) {
    for (size_t n = data.size() + 1;; ++n) {  // stale disks of an earlier, larger build
      std::string stale = out + "/" + DiskName(static_cast<int>(n));
      if (!fs::exists(stale)) break;
      fs::remove(stale, ec);
    }
    for (size_t n = 0; n < data.size(); ++n) {
      std::string to = out + "/" + DiskName(static_cast<int>(n) + 1);
      MoveInto(data[n], to);
      result.Written.push_back(to);
    }
  }
  MoveInto(tmp_script, final_script);
  result.Written.insert(result.Written.begin(), final_script);
  return result;
}

}  // namespace qvbuild
