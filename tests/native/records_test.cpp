// Every accessor of every record kind, read from a record whose fields were
// written byte by byte at the offsets of the script format, each field with
// a value of its own: a field read from a wrong offset, or swapped with its
// neighbour, reads another field's value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "setupdata/records.h"

namespace {

// A string field: a length byte, then the characters.
void PutString(uint8_t* raw, size_t off, const std::string& s) {
  raw[off] = static_cast<uint8_t>(s.size());
  std::memcpy(raw + off + 1, s.data(), s.size());
}
// A character array: the characters, then a 0 byte when there is room.
void PutChars(uint8_t* raw, size_t off, const std::string& s) {
  std::memcpy(raw + off, s.data(), s.size());
}
// Little-endian 32 bits.
void Put32(uint8_t* raw, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) raw[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(Records, EveryAccessorReadsItsOwnField) {
  SetupHeader h;
  PutString(h.Raw, 0, "AppName");
  PutString(h.Raw, 64, "AppName 2.5");
  PutString(h.Raw, 128, "Subtitle");
  PutString(h.Raw, 192, "DefDir");
  PutString(h.Raw, 240, "DefGroup");
  const uint32_t counts[] = {0x01020301, 0x01020302, 0x01020303, 0x01020304, 0x01020305,
                             0x01020306, 0x01020307, 0x01020308, 0x01020309, 0x0102030A};
  for (size_t i = 0; i < 10; ++i) Put32(h.Raw, 288 + 4 * i, counts[i]);
  h.Raw[328] = 0x41;
  h.Raw[329] = 0x42;
  h.Raw[330] = 0x43;
  h.Raw[331] = 0x44;
  Put32(h.Raw, 332, 0x80C0FFEE);
  h.Raw[336] = 0x1E;
  EXPECT_EQ(h.ApplicationName(), "AppName");
  EXPECT_EQ(h.ApplicationVersionName(), "AppName 2.5");
  EXPECT_EQ(h.BackgroundSubtitle(), "Subtitle");
  EXPECT_EQ(h.DefaultDirectory(), "DefDir");
  EXPECT_EQ(h.DefaultProgramFolder(), "DefGroup");
  const int32_t got[] = {h.DirEntryCount(),       h.FileEntryCount(),
                         h.IconEntryCount(),      h.IniEntryCount(),
                         h.RegistryEntryCount(),  h.UninstallDeleteEntryCount(),
                         h.RunEntryCount(),       h.LicenseTextSize(),
                         h.InfoBeforeTextSize(),  h.InfoAfterTextSize()};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(static_cast<uint32_t>(got[i]), counts[i]) << i;
  EXPECT_EQ(h.MinWindowsVersionMajor(), 0x41);
  EXPECT_EQ(h.MinWindowsVersionMinor(), 0x42);
  EXPECT_EQ(h.MinNTVersionMajor(), 0x43);
  EXPECT_EQ(h.MinNTVersionMinor(), 0x44);
  EXPECT_EQ(static_cast<uint32_t>(h.BackgroundColor()), 0x80C0FFEEu);
  EXPECT_EQ(h.Flags(), 0x1E);

  SetupDirEntry d;
  PutString(d.Raw, 0, "{app}\\Dir");
  EXPECT_EQ(d.DirName(), "{app}\\Dir");

  SetupFileEntry f;
  PutString(f.Raw, 0, "{app}\\F.EXE");
  Put32(f.Raw, 64, 0xA1A2A3A4);
  Put32(f.Raw, 68, 0x01B1B2B3);
  Put32(f.Raw, 72, 0x00050006);
  Put32(f.Raw, 76, 0x00070008);
  Put32(f.Raw, 80, 123456);
  Put32(f.Raw, 84, 65432);
  Put32(f.Raw, 88, 0xC1C2C3C4);
  f.Raw[92] = 3;
  f.Raw[93] = 0x5A;
  EXPECT_EQ(f.DestName(), "{app}\\F.EXE");
  EXPECT_EQ(f.SourceTimeLow(), 0xA1A2A3A4u);
  EXPECT_EQ(f.SourceTimeHigh(), 0x01B1B2B3u);
  EXPECT_EQ(f.FileVersionMS(), 0x00050006);
  EXPECT_EQ(f.FileVersionLS(), 0x00070008);
  EXPECT_EQ(f.Size(), 123456);
  EXPECT_EQ(f.CompressedSize(), 65432);
  EXPECT_EQ(f.Checksum(), 0xC1C2C3C4u);
  EXPECT_EQ(f.CopyMode(), 3);
  EXPECT_EQ(f.FileFlags(), 0x5A);

  SetupFileLocationEntry l;
  Put32(l.Raw, 0, 2);
  Put32(l.Raw, 4, 5);
  Put32(l.Raw, 8, 0x00ABCDEF);
  EXPECT_EQ(l.FirstDisk(), 2);
  EXPECT_EQ(l.LastDisk(), 5);
  EXPECT_EQ(l.StartOffset(), 0x00ABCDEF);

  SetupIconEntry i;
  PutString(i.Raw, 0, "Icon name");
  PutString(i.Raw, 48, "{app}\\PROG.EXE");
  PutString(i.Raw, 112, "/param");
  PutString(i.Raw, 240, "{app}\\work");
  PutString(i.Raw, 288, "{app}\\ICONS.DLL");
  Put32(i.Raw, 352, static_cast<uint32_t>(-3));
  EXPECT_EQ(i.IconName(), "Icon name");
  EXPECT_EQ(i.FileName(), "{app}\\PROG.EXE");
  EXPECT_EQ(i.Parameters(), "/param");
  EXPECT_EQ(i.WorkingDir(), "{app}\\work");
  EXPECT_EQ(i.IconFile(), "{app}\\ICONS.DLL");
  EXPECT_EQ(i.IconIndex(), -3);

  SetupIniEntry n;
  PutString(n.Raw, 0, "{win}\\A.INI");
  PutString(n.Raw, 64, "Section");
  PutString(n.Raw, 112, "Key");
  PutString(n.Raw, 160, "Value text");
  n.Raw[288] = 0x02;
  EXPECT_EQ(n.IniFileName(), "{win}\\A.INI");
  EXPECT_EQ(n.Section(), "Section");
  EXPECT_EQ(n.Key(), "Key");
  EXPECT_EQ(n.Value(), "Value text");
  EXPECT_EQ(n.IniFlags(), 0x02);

  SetupRegistryEntry r;
  Put32(r.Raw, 0, 0x80000002);
  PutChars(r.Raw, 4, "Software\\Sub");
  PutChars(r.Raw, 132, "Name");
  PutChars(r.Raw, 180, "{app}\\data");
  r.Raw[436] = 1;
  r.Raw[437] = 0x02;
  EXPECT_EQ(r.RootKey(), 0x80000002u);
  EXPECT_EQ(r.SubKey(), "Software\\Sub");
  EXPECT_EQ(r.ValueName(), "Name");
  EXPECT_EQ(r.StringData(), "{app}\\data");
  EXPECT_EQ(r.ValueType(), 1);
  EXPECT_EQ(r.RegFlags(), 0x02);
  Put32(r.Raw, 180, static_cast<uint32_t>(-123456));
  r.Raw[436] = 2;
  EXPECT_EQ(r.NumberData(), -123456);
  r.Raw[180] = 3;
  r.Raw[181] = r.Raw[182] = r.Raw[183] = 0xEE;  // nothing
  r.Raw[184] = 0xB1;
  r.Raw[185] = 0xB2;
  r.Raw[186] = 0xB3;
  r.Raw[436] = 3;
  ASSERT_EQ(r.BinaryLength(), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.BinaryData()), 3), "\xB1\xB2\xB3");

  SetupUninstallDeleteEntry u;
  PutString(u.Raw, 0, "{app}\\LOG.TXT");
  EXPECT_EQ(u.DeletePath(), "{app}\\LOG.TXT");

  SetupRunEntry run;
  PutString(run.Raw, 0, "{app}\\RUN.EXE");
  PutString(run.Raw, 64, "/after");
  run.Raw[192] = 0x01;
  EXPECT_EQ(run.FileName(), "{app}\\RUN.EXE");
  EXPECT_EQ(run.Parameters(), "/after");
  EXPECT_EQ(run.RunFlags(), 0x01);
}
