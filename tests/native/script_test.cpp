// Loading whole scripts made by the script writer.
#include <gtest/gtest.h>

#include <cstring>

#include "setupdata/script.h"
#include "setupdata/zlibblock.h"
#include "tests/testdata.h"
#include "tools/scriptwriter/scriptwriter.h"

namespace {

sw::ScriptBuilder FullScript() {
  sw::ScriptBuilder b = testdata::Product("My Program", "1.5");
  b.Header.BackgroundSubtitle = "The subtitle";
  b.Header.DefaultProgramFolder = "My Group";
  b.Header.Flags = hfUninstallable | hfAllowNoIcons;
  b.Header.MinWindowsVersionMajor = 4;
  b.Header.MinNTVersionMajor = 4;
  b.LicenseText = "Licence terms\r\n";
  b.InfoAfterText = std::string(50000, 'x');  // a text above 32000 bytes
  b.Dirs = {{"{app}\\Data"}, {"{app}\\Help"}};
  sw::FileSpec f1 = testdata::FileEntry("{app}\\PROG.EXE", sw::Bytes(70000, 'p'), ffReadme);
  f1.SourceTimeLow = 0x11223344;
  f1.SourceTimeHigh = 0x01BC0000;
  f1.FileVersionMS = 0x00010005;
  f1.FileVersionLS = 2;
  sw::FileSpec f2 =
      testdata::FileEntry("{sys}\\SHARED.DLL", sw::Bytes{1, 2, 3}, ffSharedFile | ffRegisterServer);
  f2.CopyMode = 3;
  b.Files = {f1, f2};
  b.Icons = {{"My Program", "{app}\\PROG.EXE", "/x", "{app}", "{app}\\PROG.EXE", 2}};
  b.Inis = {{"{win}\\MY.INI", "Section", "Key", "Value", ifUninstallDeleteSection}};
  sw::RegistrySpec r1;
  r1.SubKey = std::string(128, 'K');  // a full character array without a 0 byte
  r1.ValueName = "Str";
  r1.ValueType = 1;
  r1.StringData = "{app}\\PROG.EXE";
  sw::RegistrySpec r2;
  r2.SubKey = "Software\\My";
  r2.ValueType = 3;
  r2.BinaryData = sw::Bytes(252, 0xAB);
  r2.RegFlags = rfUninstallDeleteKey;
  sw::RegistrySpec r3;
  r3.SubKey = "Software\\My";
  r3.ValueName = "Num";
  r3.ValueType = 2;
  r3.NumberData = -7;
  b.Registry = {r1, r2, r3};
  b.UninstallDeletes = {{"{app}\\LOG.TXT"}};
  b.Runs = {{"{app}\\PROG.EXE", "/first", runNoWait}};
  return b;
}

SetupScript Load(const sw::Bytes& bytes, int64_t offset = 0) {
  TMemoryFile f(bytes);
  SetupScript s;
  LoadSetupScript(f, offset, s);
  return s;
}

}  // namespace

TEST(LoadSetupScript, EveryListAndTextInFileOrder) {
  for (bool compress : {true, false}) {
    sw::BuildOptions o;
    o.Compress = compress;
    sw::BuildResult r = FullScript().Build(o);
    SetupScript s = Load(r.Script);
    EXPECT_EQ(s.Header.ApplicationName(), "My Program");
    EXPECT_EQ(s.Header.ApplicationVersionName(), "My Program 1.5");
    EXPECT_EQ(s.Header.DefaultProgramFolder(), "My Group");
    ASSERT_EQ(s.LicenseText.size(), 16u);
    EXPECT_STREQ(s.LicenseText.data(), "Licence terms\r\n");
    EXPECT_TRUE(s.InfoBeforeText.empty()) << "a text of size 0 is absent";
    ASSERT_EQ(s.InfoAfterText.size(), 50001u);
    EXPECT_EQ(s.InfoAfterText.back(), 0);
    ASSERT_EQ(s.DirEntries.size(), 2u);
    EXPECT_EQ(s.DirEntries[1].DirName(), "{app}\\Help");
    ASSERT_EQ(s.FileEntries.size(), 2u);
    EXPECT_EQ(s.FileEntries[0].DestName(), "{app}\\PROG.EXE");
    EXPECT_EQ(s.FileEntries[0].Size(), 70000);
    EXPECT_EQ(s.FileEntries[0].SourceTimeLow(), 0x11223344u);
    EXPECT_EQ(s.FileEntries[0].SourceTimeHigh(), 0x01BC0000u);
    EXPECT_EQ(s.FileEntries[0].FileVersionMS(), 0x00010005);
    EXPECT_EQ(s.FileEntries[1].FileFlags(), ffSharedFile | ffRegisterServer);
    EXPECT_EQ(s.FileEntries[1].CopyMode(), 3);
    EXPECT_EQ(s.FileEntries[1].Checksum(), r.Files[1].Checksum);
    ASSERT_EQ(s.FileLocationEntries.size(), 2u);
    EXPECT_EQ(s.FileLocationEntries[1].StartOffset(), r.Files[1].StartOffset);
    EXPECT_EQ(s.FileLocationEntries[0].FirstDisk(), 1);
    ASSERT_EQ(s.IconEntries.size(), 1u);
    EXPECT_EQ(s.IconEntries[0].Parameters(), "/x");
    EXPECT_EQ(s.IconEntries[0].IconIndex(), 2);
    ASSERT_EQ(s.IniEntries.size(), 1u);
    EXPECT_EQ(s.IniEntries[0].Value(), "Value");
    EXPECT_EQ(s.IniEntries[0].IniFlags(), ifUninstallDeleteSection);
    ASSERT_EQ(s.RegistryEntries.size(), 3u);
    EXPECT_EQ(s.RegistryEntries[0].SubKey(), std::string(128, 'K'));
    EXPECT_EQ(s.RegistryEntries[0].StringData(), "{app}\\PROG.EXE");
    EXPECT_EQ(s.RegistryEntries[0].RootKey(), 0x80000002u);
    EXPECT_EQ(s.RegistryEntries[1].BinaryLength(), 252u);
    EXPECT_EQ(s.RegistryEntries[1].BinaryData()[251], 0xAB);
    EXPECT_EQ(s.RegistryEntries[2].NumberData(), -7);
    ASSERT_EQ(s.UninstallDeleteEntries.size(), 1u);
    ASSERT_EQ(s.RunEntries.size(), 1u);
    EXPECT_EQ(s.RunEntries[0].RunFlags(), runNoWait);
    EXPECT_EQ(s.TotalFileSize(), 70003u);
    EXPECT_TRUE(s.IconsNeeded());
  }
}

TEST(LoadSetupScript, EmptyScriptIsIdAndHeaderOnly) {
  sw::ScriptBuilder b;
  b.Header.ApplicationName = "X";
  sw::BuildResult r = b.Build();
  SetupScript s = Load(r.Script);
  EXPECT_TRUE(s.DirEntries.empty() && s.FileEntries.empty() && s.RunEntries.empty());
  EXPECT_FALSE(s.IconsNeeded());
  // ID, block header, header record compressed: nothing more.
  TMemoryFile f(r.Script);
  f.Seek(8);
  int32_t cs;
  uint32_t size;
  ASSERT_TRUE(PeekBlockHeader(f, cs, size));
  EXPECT_EQ(r.Script.size(), 8u + 16u + static_cast<size_t>(cs));
}

TEST(LoadSetupScript, UninstallableWithoutIconsNeedsIcons) {
  sw::ScriptBuilder b;
  b.Header.Flags = hfUninstallable;
  EXPECT_TRUE(Load(b.Build().Script).IconsNeeded());
}

TEST(LoadSetupScript, ScriptAtAnOffsetInsideALargerFile) {
  sw::BuildOptions o;
  o.SingleFile = true;
  o.ScriptOffset = 40000;
  sw::BuildResult r = FullScript().Build(o);
  EXPECT_EQ(r.ScriptOffset, 40000u);
  SetupScript s = Load(r.Script, 40000);
  EXPECT_EQ(s.FileEntries.size(), 2u);
  EXPECT_THROW(Load(r.Script, 0), EScriptIDMismatch);
}

TEST(LoadSetupScript, WrongIdAndEveryCorruptBlock) {
  sw::BuildOptions o;
  o.WrongScriptID = true;
  EXPECT_THROW(Load(FullScript().Build(o).Script), EScriptIDMismatch);
  // Every block of the script in turn: header, 2 texts, 2 dirs, 2 files,
  // 2 locations, 1 icon, 1 INI, 3 registry, 1 uninstall-delete, 1 run.
  for (int block = 0; block < 17; ++block) {
    sw::BuildOptions fo;
    fo.Fault = sw::BlockFault::WrongDataChecksum;
    fo.FaultBlock = block;
    if (block < 16)
      EXPECT_THROW(Load(FullScript().Build(fo).Script), EZlibDataError) << block;
    else  // there are sixteen blocks: a fault beyond them changes nothing
      EXPECT_NO_THROW(Load(FullScript().Build(fo).Script));
  }
}

TEST(LoadSetupScript, TruncatedScriptIsAnInputOutputError) {
  sw::Bytes bytes = FullScript().Build().Script;
  for (size_t cut : {size_t(4), size_t(8), size_t(20), bytes.size() / 3, bytes.size() - 1}) {
    EXPECT_THROW(Load(sw::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut))), EInOutError)
        << cut;
  }
}

using testdata::HeaderWith;
using testdata::ScriptOfRecords;

TEST(LoadSetupScript, NegativeCountsReadNothing) {
  for (int off = 288; off <= 312; off += 4) {
    SetupScript s = Load(ScriptOfRecords(HeaderWith(off, -5)));
    EXPECT_TRUE(s.DirEntries.empty() && s.FileEntries.empty() && s.IconEntries.empty() &&
                s.IniEntries.empty() && s.RegistryEntries.empty() &&
                s.UninstallDeleteEntries.empty() && s.RunEntries.empty());
  }
}

TEST(LoadSetupScript, NegativeOrImpossibleTextSizesAreCorrupt) {
  for (int off : {316, 320, 324}) {
    EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(off, -1))), EZlibDataError);
    EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(off, INT32_MIN))), EZlibDataError);
  }
  // A huge declared size with a small block behind it is rejected before
  // anything of that size is allocated.
  EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(316, 0x7FFFFFF0), {sw::Bytes(10, 'a')})), EZlibDataError);
  // A huge size with no block behind it: the file ends.
  EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(316, 0x7FFFFFF0))), EInOutError);
}

TEST(LoadSetupScript, HugeCountWithShortFileEndsAtTheFileEnd) {
  sw::Bytes dir(48);
  dir[0] = 1;
  dir[1] = 'C';
  EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(288, 0x7FFFFFFF), {dir, dir})), EInOutError);
}

TEST(LoadSetupScript, OverlongLengthBytesAreRejected) {
  // The header's ApplicationName, a directory name, a run entry's parameters.
  sw::Bytes h = HeaderWith(316, 0);
  h[0] = 64;
  EXPECT_THROW(Load(ScriptOfRecords(h)), EZlibDataError);
  sw::Bytes dir(48);
  dir[0] = 48;
  EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(288, 1), {dir})), EZlibDataError);
  dir[0] = 47;
  EXPECT_EQ(Load(ScriptOfRecords(HeaderWith(288, 1), {dir})).DirEntries[0].DirName().size(), 47u);
  sw::Bytes run(193);
  run[64] = 200;
  EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(312, 1), {run})), EZlibDataError);
}

TEST(LoadSetupScript, BinaryRegistryLengthAbove252IsRejected) {
  sw::Bytes reg(438);
  reg[436] = 3;
  reg[180] = 253;
  EXPECT_THROW(Load(ScriptOfRecords(HeaderWith(304, 1), {reg})), EZlibDataError);
  reg[180] = 252;
  EXPECT_EQ(Load(ScriptOfRecords(HeaderWith(304, 1), {reg})).RegistryEntries[0].BinaryLength(), 252u);
  // The same byte in a string value is just a character.
  reg[436] = 1;
  reg[180] = 253;
  EXPECT_EQ(Load(ScriptOfRecords(HeaderWith(304, 1), {reg})).RegistryEntries[0].StringData().size(), 1u);
}

TEST(Records, FieldAccessorsStayInsideTheirFields) {
  SetupDirEntry d;
  d.Raw[0] = 0;
  d.Raw[1] = 'X';
  EXPECT_EQ(d.DirName(), "") << "a length byte of 0 is empty whatever follows";
  d.Raw[0] = 255;  // clamped, never read past the record
  EXPECT_EQ(d.DirName().size(), 47u);
  SetupRegistryEntry r;
  r.Raw[436] = 3;
  r.Raw[180] = 255;
  EXPECT_EQ(r.BinaryLength(), 252u);
  std::memset(r.Raw + 180, 'v', 256);
  EXPECT_EQ(r.StringData().size(), 256u) << "a full character array ends at the field";
}

// A corrupt text cut short used to pass for a plain input/output error. (A
// forged short header block is the block reader's to refuse; see its tests.)
TEST(LoadSetupScript, CorruptTextCutShortIsCorrupt) {
  // A licence text whose stream is damaged at its start and whose file ends
  // inside it: the damage is what is reported.
  sw::ScriptBuilder b = FullScript();
  b.LicenseText = std::string(60000, 'L');
  for (size_t i = 0; i < b.LicenseText.size(); i += 7) b.LicenseText[i] = static_cast<char>('a' + i % 26);
  sw::Bytes good = b.Build().Script;
  TMemoryFile probe(good);
  probe.Seek(8);
  int32_t cs = 0;
  uint32_t size = 0;
  ASSERT_TRUE(PeekBlockHeader(probe, cs, size));
  size_t licence_block = 8 + 16 + static_cast<size_t>(cs);
  sw::Bytes cut(good.begin(), good.begin() + static_cast<long>(licence_block + 16 + 40));
  EXPECT_THROW(Load(cut), EInOutError) << "cut short only";
  cut[licence_block + 16 + 2] = 0xFF;  // a deflate block of the reserved type
  EXPECT_THROW(Load(cut), EZlibDataError) << "corrupt and cut short";
}
