// Writes a few valid scripts as the fuzzer's starting corpus.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  std::string mk = "mkdir -p '" + dir + "'";
  if (std::system(mk.c_str()) != 0) return 1;
  for (int variant = 0; variant < 4; ++variant) {
    sw::ScriptBuilder b;
    b.Header.ApplicationName = "Fuzz";
    b.Header.Flags = static_cast<uint8_t>(variant * 6);
    if (variant & 1) b.LicenseText = "Licence\r\n";
    b.Dirs = {{"{app}\\D"}};
    sw::FileSpec f = testdata::FileEntry("{app}\\F.TXT", sw::Bytes(100 + variant * 50, 'x'));
    b.Files = {f};
    b.Icons = {{"I", "{app}\\F.TXT", "", "{app}", "", 0}};
    b.Inis = {{"", "S", "K", "V", 1}};
    sw::RegistrySpec r;
    r.SubKey = "Software\\F";
    r.ValueType = static_cast<uint8_t>(variant);
    r.BinaryData = {1, 2, 3};
    r.StringData = "s";
    b.Registry = {r};
    b.UninstallDeletes = {{"{app}\\X"}};
    b.Runs = {{"{app}\\F.TXT", "", 0}};
    sw::BuildOptions o;
    o.Compress = variant != 2;
    sw::WriteFileBytes(dir + "/seed" + std::to_string(variant), b.Build(o).Script);
  }
  return 0;
}
