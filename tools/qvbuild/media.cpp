#include "tools/qvbuild/media.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "loader/attachment.h"

namespace fs = std::filesystem;

namespace qvbuild {

namespace {

// name, sectors, sectors a cluster, root entries, sectors a FAT, media byte,
// sectors a track (two heads each)
const FloppyFormat kFormats[] = {
    {"1.44M", 2880, 1, 224, 9, 0xF0, 18},
    {"1.2M", 2400, 1, 224, 7, 0xF9, 15},
    {"720K", 1440, 2, 112, 3, 0xF9, 9},
    {"2.88M", 5760, 2, 240, 9, 0xF0, 36},
};

constexpr uint32_t kSector = 512;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// Entry n of a FAT12 table: twelve bits, two entries in three bytes.
void SetFat12(uint8_t* fat, uint32_t n, uint32_t v) {
  uint8_t* p = fat + n * 3 / 2;
  if (n % 2 == 0) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>((p[1] & 0xF0) | ((v >> 8) & 0x0F));
  } else {
    p[0] = static_cast<uint8_t>((p[0] & 0x0F) | ((v & 0x0F) << 4));
    p[1] = static_cast<uint8_t>(v >> 4);
  }
}

// The 11 bytes of an 8.3 name in a directory entry ("SETUP   EXE").
void PutShortName(uint8_t* p, const std::string& name) {
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  bool ok = !base.empty() && base.size() <= 8 && ext.size() <= 3 && ext.find('.') == std::string::npos;
  for (char c : base + ext) ok = ok && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
  if (!ok) throw EBuildError("\"" + name + "\" is not a name for a disk's root folder (8.3, capitals)");
  std::memset(p, ' ', 11);
  std::memcpy(p, base.data(), base.size());
  std::memcpy(p + 8, ext.data(), ext.size());
}

// A FAT time and date from a file's last write (UTC).
void PutTimeDate(uint8_t* p, std::time_t t) {
  std::tm tm{};
  const std::tm* g = std::gmtime(&t);
  if (g) tm = *g;
  const int year = tm.tm_year + 1900 < 1980 ? 1980 : tm.tm_year + 1900;
  Put16(p, static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2)));
  Put16(p + 2, static_cast<uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday));
}

std::time_t LastWrite(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::vector<uint8_t> b;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw EBuildError("cannot read \"" + path + "\"");
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
  const bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad) throw EBuildError("cannot read \"" + path + "\"");
  return b;
}

uint64_t SizeOf(const std::string& path) {
  std::error_code ec;
  const uintmax_t n = fs::file_size(path, ec);
  if (ec) throw EBuildError("cannot read \"" + path + "\": " + ec.message());
  return n;
}

void Move(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) throw EBuildError("cannot move \"" + from + "\" to \"" + to + "\": " + ec.message());
}

// The ISO 9660 volume name: capitals, digits and underscores, 32 at most.
std::string IsoLabel(const std::string& app_name) {
  std::string s;
  for (unsigned char c : app_name) {
    if (s.size() == 32) break;
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
    s += (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? static_cast<char>(c) : '_';
  }
  return s.empty() ? "SETUP" : s;
}

#ifndef _WIN32
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(':', start);
    if (end == std::string::npos) end = rest.size();
    const std::string candidate = rest.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// Runs a program with its output discarded; true when it exits with 0.
bool RunQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

// An ISO 9660 image of the disk folders (with Rock Ridge and Joliet names)
// by xorriso or genisoimage; false, with the reason in note, when neither
// is there.
bool MakeIso(const std::string& iso, const std::string& label, const std::vector<std::string>& disk_dirs,
             std::string& note) {
#ifdef _WIN32
  (void)iso, (void)label, (void)disk_dirs;
  note = "no ISO image: this build of qvbuild makes none (it needs xorriso or genisoimage)";
  return false;
#else
  std::vector<std::string> args;
  const std::string xorriso = FindProgram("xorriso");
  const std::string genisoimage = xorriso.empty() ? FindProgram("genisoimage") : "";
  if (!xorriso.empty()) {
    args = {xorriso, "-as", "mkisofs"};
  } else if (!genisoimage.empty()) {
    args = {genisoimage};
  } else {
    note = "no ISO image: neither xorriso nor genisoimage is installed";
    return false;
  }
  for (const char* a : {"-quiet", "-r", "-J", "-graft-points", "-V"}) args.push_back(a);
  args.push_back(label);
  args.push_back("-o");
  args.push_back(iso);
  for (const std::string& dir : disk_dirs) {
    const std::string name = fs::path(dir).filename().string();
    args.push_back(xorriso.empty() ? name + "/=" + dir + "/" : "/" + name + "=" + dir);
  }
  if (!RunQuietly(args)) throw EBuildError("the ISO image \"" + iso + "\" could not be made by " + args[0]);
  return true;
#endif
}

// SETUP.0's size as the build will make it, from the records with values
// of the sizes to come; 0 when the description cannot be encoded (the
// build then names the fault).
uint64_t EstimateScriptSize(const Description& d, const DistributionOptions& o) {
  sw::ScriptBuilder b = d.Builder;
  std::vector<sw::FileData> files(b.Files.size());
  uint32_t v = 0x9E3779B9u;
  auto next = [&v] { return v = v * 1664525u + 1013904223u; };
  for (size_t i = 0; i < files.size(); ++i) {
    b.Files[i].SourceTimeLow = next();
    b.Files[i].SourceTimeHigh = 0x01D00000u | (next() & 0xFFFFF);
    b.Files[i].FileVersionMS = static_cast<int32_t>(next());
    b.Files[i].FileVersionLS = static_cast<int32_t>(next());
    files[i].Size = next() & 0x7FFFFFFF;
    files[i].CompressedSize = next() & 0x7FFFFFFF;
    files[i].Checksum = next();
    files[i].FirstDisk = static_cast<int32_t>(next() & 0xFF);
    files[i].LastDisk = static_cast<int32_t>(next() & 0xFF);
    files[i].StartOffset = static_cast<int32_t>(next() & 0x3FFFFF);
  }
  sw::BuildOptions bo;
  bo.Compress = o.CompressScript;
  bo.Level = o.Level;
  try {
    return b.EncodeScript(files, bo).size();
  } catch (const std::exception&) {
    return 0;
  }
}

std::string DiskDirName(int n) { return "DISK" + std::to_string(n); }

}  // namespace

const FloppyFormat* FindFloppyFormat(const std::string& name) {
  for (const FloppyFormat& f : kFormats)
    if (name == f.Name) return &f;
  return nullptr;
}

std::string FloppyFormatNames() {
  std::string s;
  for (const FloppyFormat& f : kFormats) s += (s.empty() ? "" : ", ") + std::string(f.Name);
  return s;
}

std::string VolumeLabel(const std::string& app_name, int disk) {
  const std::string suffix = " " + std::to_string(disk);
  std::string name;
  for (unsigned char c : app_name) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || std::strchr("!#$%&'()-@^_`{}~", c))
      name += static_cast<char>(c);
  }
  // Spaces go first when the whole name does not fit beside the number.
  if (name.size() + suffix.size() > 11) {
    std::string packed;
    for (char c : name)
      if (c != ' ') packed += c;
    name = packed;
  }
  if (name.size() + suffix.size() > 11) name.resize(11 - suffix.size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  return (name.empty() ? "DISK" : name) + suffix;
}

void WriteFat12Image(const std::string& image_path, const FloppyFormat& f, const std::string& label,
                     const std::vector<ImageFile>& files) {
  std::vector<uint8_t> img(static_cast<size_t>(f.TotalSectors) * kSector, 0);
  const std::time_t now = std::time(nullptr);
  uint8_t label11[11];
  std::memset(label11, ' ', 11);
  std::memcpy(label11, label.data(), label.size() < 11 ? label.size() : 11);
  const uint32_t serial = QvAdler32(static_cast<uint32_t>(now), label11, 11);

  // The boot sector with its parameter block; the code only hands the boot
  // on to the next device (INT 18h): these disks hold no system.
  uint8_t* b = img.data();
  const uint8_t jump[] = {0xEB, 0x3C, 0x90};
  std::memcpy(b, jump, 3);
  std::memcpy(b + 3, "QVBUILD ", 8);
  Put16(b + 11, kSector);
  b[13] = static_cast<uint8_t>(f.SectorsPerCluster);
  Put16(b + 14, 1);
  b[16] = 2;
  Put16(b + 17, f.RootEntries);
  Put16(b + 19, f.TotalSectors);
  b[21] = f.Media;
  Put16(b + 22, f.SectorsPerFat);
  Put16(b + 24, f.SectorsPerTrack);
  Put16(b + 26, 2);
  b[38] = 0x29;
  Put32(b + 39, serial);
  std::memcpy(b + 43, label11, 11);
  std::memcpy(b + 54, "FAT12   ", 8);
  const uint8_t code[] = {0xCD, 0x18, 0xEB, 0xFE};
  std::memcpy(b + 62, code, sizeof code);
  b[510] = 0x55;
  b[511] = 0xAA;

  uint8_t* fat = img.data() + kSector;
  uint8_t* root = fat + 2 * f.SectorsPerFat * kSector;
  SetFat12(fat, 0, 0xF00u | f.Media);
  SetFat12(fat, 1, 0xFFF);
  std::memcpy(root, label11, 11);
  root[11] = 0x08;  // the volume label
  PutTimeDate(root + 22, now);
  if (files.size() + 1 > f.RootEntries) throw EBuildError("too many files for a disk's root folder");

  uint32_t cluster = 2;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::vector<uint8_t> data = ReadWhole(files[i].Path);
    const uint32_t count = f.ClustersFor(data.size());
    if (cluster - 2 + count > f.DataClusters())
      throw EBuildError(files[i].Name + " does not fit on the " + f.Name + " disk \"" + image_path + "\"");
    uint8_t* e = root + 32 * (i + 1);
    PutShortName(e, files[i].Name);
    e[11] = 0x20;  // archive
    PutTimeDate(e + 14, LastWrite(files[i].Path));  // created
    std::memcpy(e + 18, e + 16, 2);                   // last access: the date
    std::memcpy(e + 22, e + 14, 4);                   // written
    Put16(e + 26, count ? cluster : 0);
    Put32(e + 28, static_cast<uint32_t>(data.size()));
    for (uint32_t c = 0; c < count; ++c) SetFat12(fat, cluster + c, c + 1 < count ? cluster + c + 1 : 0xFFF);
    if (!data.empty())
      std::memcpy(img.data() + (f.FirstDataSector() + (cluster - 2) * f.SectorsPerCluster) * kSector, data.data(),
                  data.size());
    cluster += count;
  }
  std::memcpy(fat + f.SectorsPerFat * kSector, fat, f.SectorsPerFat * kSector);  // the second FAT
  try {
    sw::WriteFileBytes(image_path, img);
  } catch (const std::runtime_error& e) {
    throw EBuildError(e.what());
  }
}

MediaResult BuildMedia(const Description& d, const DistributionOptions& base, const MediaOptions& m) {
  const bool disks = (m.Kinds & (kMediaFloppy | kMediaCD)) != 0;
  if (m.Kinds == 0) throw EOptionError("--media: no media named");
  if (disks && !m.Floppy) throw EOptionError("--floppy: the disk format is missing");
  if (m.SetupProgram.empty()) throw EOptionError("--media needs --setup FILE, the setup.exe that ships");
  if ((m.Kinds & kMediaSingle) && m.Loader.empty())
    throw EOptionError("--media single needs --loader FILE, the loader program (Loader.exe)");
  if (base.DiskSize != 0 || base.ScriptOffset != 0 || base.SingleFile)
    throw EOptionError("--media lays the disks out itself: --disk-size, --script-offset and --single-file "
                       "do not go with it");
  const uint64_t setup_size = SizeOf(m.SetupProgram);
  if (!m.Loader.empty()) SizeOf(m.Loader);

  std::error_code ec;
  fs::create_directories(base.OutDir, ec);
  if (!fs::is_directory(base.OutDir)) throw EBuildError("cannot create the output directory \"" + base.OutDir + "\"");
  MediaResult result;
  TempDir stage(base.OutDir);
  std::vector<std::string> staged;  // names in stage, moved into the output directory at the end

  if (disks) {
    const FloppyFormat& f = *m.Floppy;
    const std::string flat = stage.Path() + "/flat";
    uint64_t estimate = EstimateScriptSize(d, base) + 64 + 16 * d.Builder.Files.size();
    for (int attempt = 0;; ++attempt) {
      const uint32_t used = f.ClustersFor(setup_size) + f.ClustersFor(estimate);
      if (used + 1 > f.DataClusters())
        throw EBuildError("setup.exe (" + std::to_string(setup_size) + " bytes) and SETUP.0 (about " +
                          std::to_string(estimate) + " bytes) do not fit on the first disk of " + f.Name +
                          ": in clusters of " + std::to_string(f.ClusterBytes()) + " bytes they take " +
                          std::to_string(uint64_t{used} * f.ClusterBytes()) + " of its " +
                          std::to_string(f.Capacity()) + " bytes, and SETUP.1 needs at least one cluster more");
      DistributionOptions o = base;
      o.OutDir = flat;
      o.DiskSize = f.Capacity();
      o.FirstDiskSize = (f.DataClusters() - used) * f.ClusterBytes();
      result.Build = BuildDistribution(d, o);
      const uint64_t actual = SizeOf(flat + "/SETUP.0");
      if (f.ClustersFor(actual) <= f.ClustersFor(estimate)) break;
      if (attempt == 2) throw EBuildError("SETUP.0 does not keep to the room set aside for it on the first disk");
      estimate = actual + f.ClusterBytes();
      fs::remove_all(flat, ec);
    }

    std::vector<std::string> dirs;
    for (int n = 1; fs::exists(flat + "/SETUP." + std::to_string(n)); ++n) {
      const std::string dir = stage.Path() + "/" + DiskDirName(n);
      fs::create_directory(dir, ec);
      if (ec) throw EBuildError("cannot create \"" + dir + "\": " + ec.message());
      std::vector<ImageFile> files;
      if (n == 1) {
        fs::copy_file(m.SetupProgram, dir + "/SETUP.EXE", ec);
        if (ec) throw EBuildError("cannot copy \"" + m.SetupProgram + "\": " + ec.message());
        Move(flat + "/SETUP.0", dir + "/SETUP.0");
        files = {{"SETUP.EXE", dir + "/SETUP.EXE"}, {"SETUP.0", dir + "/SETUP.0"}};
      }
      const std::string data = "SETUP." + std::to_string(n);
      Move(flat + "/" + data, dir + "/" + data);
      files.push_back({data, dir + "/" + data});
      if (m.Kinds & kMediaFloppy) {
        const std::string image = DiskDirName(n) + ".IMG";
        WriteFat12Image(stage.Path() + "/" + image, f, VolumeLabel(d.Builder.Header.ApplicationName, n), files);
        staged.push_back(image);
      }
      dirs.push_back(dir);
      staged.push_back(DiskDirName(n));
      result.Disks = n;
    }
    if ((m.Kinds & kMediaCD) && MakeIso(stage.Path() + "/CD.ISO", IsoLabel(d.Builder.Header.ApplicationName),
                                         dirs, result.Notes))
      staged.push_back("CD.ISO");
  }

  if (m.Kinds & kMediaSingle) {
    DistributionOptions o = base;
    o.OutDir = stage.Path() + "/single";
    o.SingleFile = true;
    o.SingleFileName = m.SingleName;
    o.Loader = m.Loader;
    o.SetupProgram = m.SetupProgram;
    result.Build = BuildDistribution(d, o);
    Move(o.OutDir + "/" + m.SingleName, stage.Path() + "/" + m.SingleName);
    staged.push_back(m.SingleName);
  }

  // Complete: the old disks and images go, the new ones move in.
  const std::string out = base.OutDir;
  if (disks) {
    for (int n = 1;; ++n) {
      const std::string dir = out + "/" + DiskDirName(n), image = dir + ".IMG";
      if (!fs::exists(dir) && !fs::exists(image)) break;
      fs::remove_all(dir, ec);
      fs::remove(image, ec);
    }
    fs::remove(out + "/CD.ISO", ec);
  }
  for (const std::string& name : staged) {
    fs::remove(out + "/" + name, ec);
    Move(stage.Path() + "/" + name, out + "/" + name);
    result.Written.push_back(out + "/" + name);
  }
  return result;
}

}  // namespace qvbuild
