// qvbuild: builds SETUP.0 and SETUP.1 ... SETUP.n (or one single file for
// the /SL start) from a JSON description of an installation, or the media
// a product ships on: floppy disks and their images, a CD tree, a
// single-file setup.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/inspect/inspect.h"
#include "tools/qvbuild/distribution.h"
#include "tools/qvbuild/media.h"

namespace {

const char kUsage[] =
    "usage: qvbuild DESCRIPTION.json -o OUTDIR [options]\n"
    "  --disk-size N        largest size of a disk data file in bytes (default: one disk);\n"
    "                       \"1.44M\" stands for 1457664\n"
    "  --level N            zlib compression level 0..9 (default 9)\n"
    "  --single-file NAME   write one file NAME holding script and data (for /SL)\n"
    "  --script-offset N    with --single-file: filler bytes before the script\n"
    "  --store-script       store the script blocks uncompressed\n"
    "  --uninstaller FILE   install FILE as {win}\\Uninstal.exe (instead of the\n"
    "                       description's \"uninstaller\")\n"
    "  --media KIND         floppy: folders DISK1 ... with FAT12 images DISKn.IMG;\n"
    "                       cd: the folders DISK1 ... as one tree, with CD.ISO;\n"
    "                       single: one program (SETUP.EXE, or --single-file NAME);\n"
    "                       may be given more than once\n"
    "  --floppy SIZE        the disks of floppy and cd: 1.44M (default), 1.2M, 720K, 2.88M\n"
    "  --setup FILE         with --media: the setup.exe that ships\n"
    "  --loader FILE        with --media single: the loader program (Loader.exe)\n";

bool ParseUInt(const char* s, uint64_t max, uint64_t& v) {
  if (!*s) return false;
  char* end = nullptr;
  unsigned long long n = std::strtoull(s, &end, 10);
  if (*end || s[0] == '-' || n > max) return false;
  v = n;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string desc, uninstaller;
  qvbuild::DistributionOptions o;
  qvbuild::MediaOptions media;
  bool single_name = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qvbuild: %s needs %s\n%s", a.c_str(), what, kUsage);
        std::exit(2);
      }
      return argv[++i];
    };
    uint64_t n;
    if (a == "-o" || a == "--out") {
      o.OutDir = value("a directory");
    } else if (a == "--disk-size") {
      const char* v = value("a size");
      if (std::strcmp(v, "1.44M") == 0) {
        o.DiskSize = 1457664;
      } else if (ParseUInt(v, 0xFFFFFFFFu, n)) {
        o.DiskSize = static_cast<uint32_t>(n);
      } else {
        std::fprintf(stderr, "qvbuild: --disk-size: \"%s\" is not a size in bytes\n", v);
        return 2;
      }
    } else if (a == "--level") {
      const char* v = value("a level");
      if (!ParseUInt(v, 9, n)) {
        std::fprintf(stderr, "qvbuild: --level: \"%s\" is not a level 0 to 9\n", v);
        return 2;
      }
      o.Level = static_cast<int>(n);
    } else if (a == "--single-file") {
      o.SingleFile = true;
      o.SingleFileName = value("a file name");
    } else if (a == "--script-offset") {
      const char* v = value("an offset");
      if (!ParseUInt(v, 0x7FFFFFFFu, n)) {
        std::fprintf(stderr, "qvbuild: --script-offset: \"%s\" is not an offset\n", v);
        return 2;
      }
      o.ScriptOffset = static_cast<uint32_t>(n);
    } else if (a == "--media") {
      const std::string v = value("floppy, cd or single");
      if (v == "floppy") {
        media.Kinds |= qvbuild::kMediaFloppy;
      } else if (v == "cd") {
        media.Kinds |= qvbuild::kMediaCD;
      } else if (v == "single") {
        media.Kinds |= qvbuild::kMediaSingle;
      } else {
        std::fprintf(stderr, "qvbuild: --media: \"%s\" is not floppy, cd or single\n", v.c_str());
        return 2;
      }
    } else if (a == "--floppy") {
      const std::string v = value("a disk size");
      media.Floppy = qvbuild::FindFloppyFormat(v);
      if (!media.Floppy) {
        std::fprintf(stderr, "qvbuild: --floppy: \"%s\" is not a floppy disk size; the sizes are %s\n",
                     v.c_str(), qvbuild::FloppyFormatNames().c_str());
        return 2;
      }
    } else if (a == "--setup") {
      media.SetupProgram = value("a file");
    } else if (a == "--loader") {
      media.Loader = value("a file");
    } else if (a == "--uninstaller") {
      uninstaller = value("a file");
    } else if (a == "--store-script") {
      o.CompressScript = false;
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "qvbuild: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else if (desc.empty()) {
      desc = a;
    } else {
      std::fprintf(stderr, "qvbuild: more than one description given\n%s", kUsage);
      return 2;
    }
  }
  if (desc.empty() || o.OutDir.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (media.Kinds != 0) {
    if (!media.Floppy) media.Floppy = qvbuild::FindFloppyFormat("1.44M");
    // --single-file names the single-file setup here.
    if (o.SingleFile) {
      single_name = true;
      media.SingleName = o.SingleFileName;
      o.SingleFile = false;
      if (!(media.Kinds & qvbuild::kMediaSingle)) {
        std::fprintf(stderr, "qvbuild: --single-file goes with --media single only\n");
        return 2;
      }
    }
  } else if (media.Floppy || !media.SetupProgram.empty() || !media.Loader.empty()) {
    std::fprintf(stderr, "qvbuild: --floppy, --setup and --loader go with --media only\n");
    return 2;
  }
  try {
    qvbuild::DistributionOptions check = o;
    if (single_name) {
      check.SingleFile = true;
      check.SingleFileName = media.SingleName;
    }
    qvbuild::CheckOptions(check);
  } catch (const qvbuild::EOptionError& e) {
    std::fprintf(stderr, "qvbuild: %s\n", e.what());
    return 2;
  }
  // A build is reported done only when its output reads back as setup.exe
  // would read it.
  o.Verify = [](const std::string& script, uint32_t script_offset, uint32_t data_offset) {
    try {
      qvinspect::VerifyDistribution(script, script_offset, data_offset);
    } catch (const qvinspect::EScriptFault& e) {
      throw qvbuild::EBuildError(std::string("the output does not verify: ") + e.what());
    }
  };
  try {
    qvbuild::Description d = qvbuild::LoadDescription(desc);
    if (!uninstaller.empty()) qvbuild::SetUninstaller(d, uninstaller);
    if (media.Kinds != 0) {
      qvbuild::MediaResult r = qvbuild::BuildMedia(d, o, media);
      for (const std::string& w : r.Written) std::printf("wrote %s\n", w.c_str());
      if (r.Disks) std::printf("%d disk%s of %s\n", r.Disks, r.Disks == 1 ? "" : "s", media.Floppy->Name);
      if (!r.Notes.empty()) std::printf("note: %s\n", r.Notes.c_str());
      std::printf("%zu files, %llu bytes\n", r.Build.Files.size(),
                  static_cast<unsigned long long>(r.Build.SourceBytes));
      return 0;
    }
    qvbuild::DistributionResult r = qvbuild::BuildDistribution(d, o);
    for (const std::string& w : r.Written) std::printf("wrote %s\n", w.c_str());
    std::printf("%zu files, %llu bytes\n", r.Files.size(),
                static_cast<unsigned long long>(r.SourceBytes));
    if (o.SingleFile) {
      std::printf("script offset: %u\ndata offset: %u\n", r.ScriptOffset, r.DataOffset);
      std::printf("start with: setup.exe /SL %s %u %u\n", o.SingleFileName.c_str(),
                  r.ScriptOffset, r.DataOffset);
    }
  } catch (const qvbuild::EOptionError& e) {
    std::fprintf(stderr, "qvbuild: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvbuild: %s\n", e.what());
    return 1;
  }
  return 0;
}
