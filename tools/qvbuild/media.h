// The media a product ships on, made from one description: floppy disks
// (a folder DISKn per disk, setup.exe, SETUP.0 and SETUP.1 on the first,
// and a FAT12 image DISKn.IMG of each), a CD tree (the same DISKn folders
// side by side, with an ISO 9660 image when xorriso or genisoimage is
// installed), and the single-file setup (the loader with setup.exe, the
// script and the file data attached, loader/attachment.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/qvbuild/description.h"
#include "tools/qvbuild/distribution.h"

namespace qvbuild {

// A floppy disk format: 512-byte sectors, one reserved sector, two FATs.
struct FloppyFormat {
  const char* Name;  // "1.44M"
  uint32_t TotalSectors;
  uint32_t SectorsPerCluster;
  uint32_t RootEntries;
  uint32_t SectorsPerFat;
  uint8_t Media;
  uint32_t SectorsPerTrack;

  uint32_t ClusterBytes() const { return SectorsPerCluster * 512; }
  uint32_t RootSectors() const { return RootEntries * 32 / 512; }
  uint32_t FirstDataSector() const { return 1 + 2 * SectorsPerFat + RootSectors(); }
  uint32_t DataClusters() const { return (TotalSectors - FirstDataSector()) / SectorsPerCluster; }
  // The room for files: every cluster of the data area.
  uint32_t Capacity() const { return DataClusters() * ClusterBytes(); }
  uint32_t ClustersFor(uint64_t bytes) const {
    return static_cast<uint32_t>((bytes + ClusterBytes() - 1) / ClusterBytes());
  }
};

// 1.44M, 1.2M, 720K and 2.88M; nullptr for another name.
const FloppyFormat* FindFloppyFormat(const std::string& name);
// "1.44M, 1.2M, 720K, 2.88M", for messages.
std::string FloppyFormatNames();

// The FAT volume label of disk n: the product's name in capitals (the
// characters a label may hold) and the disk number, at most 11 characters:
// "SAMPLEAPP 1".
std::string VolumeLabel(const std::string& app_name, int disk);

struct ImageFile {
  std::string Name;  // an 8.3 name in capitals, e.g. SETUP.EXE
  std::string Path;  // the file's contents
};
// Writes a FAT12 image of the format with the label and the files in its
// root folder, each in consecutive clusters. Raises EBuildError when they
// do not fit.
void WriteFat12Image(const std::string& image_path, const FloppyFormat& f, const std::string& label,
                     const std::vector<ImageFile>& files);

enum MediaKind : unsigned { kMediaFloppy = 1, kMediaCD = 2, kMediaSingle = 4 };

struct MediaOptions {
  unsigned Kinds = 0;                     // MediaKind bits
  const FloppyFormat* Floppy = nullptr;   // the disks of floppy and cd
  std::string SetupProgram;               // setup.exe, for disk 1 and the single file
  std::string Loader;                     // Loader.exe, for the single file
  std::string SingleName = "SETUP.EXE";   // the single file's name in the output directory
};

struct MediaResult {
  std::vector<std::string> Written;  // folders and files, in the output directory
  int Disks = 0;
  std::string Notes;                 // what was left out and why (no ISO tool)
  DistributionResult Build;          // the last distribution built
};

// Builds the media into o.OutDir: everything in a temporary directory
// first, moved into place when complete (the old DISKn folders and images
// replaced). Raises EBuildError (setup.exe and SETUP.0 too large for the
// first disk, with the sizes), EDescriptionError, EOptionError.
MediaResult BuildMedia(const Description& d, const DistributionOptions& o, const MediaOptions& m);

}  // namespace qvbuild
