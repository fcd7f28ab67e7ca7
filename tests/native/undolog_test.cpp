#include "undo/undolog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "common/exceptions.h"
#include "tests/testdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records what WriteLogFile does; can fail the nth Write, the seek or the close.
struct TFakeDisk {
  Bytes file;
  size_t pos = 0;
  int writes = 0;
  int fail_write = -1;  // index of the Write that fails, -1 for none
  bool fail_seek = false;
  bool fail_close = false;
  int closes = 0;
};

class TFakeOutput : public TLogOutput {
 public:
  explicit TFakeOutput(TFakeDisk& d) : d_(d) {}
  void Write(const void* data, size_t count) override {
    if (d_.writes++ == d_.fail_write) {
      // Half of it reaches the disk before the failure.
      Put(data, count / 2);
      throw EInOutError("I/O error 112 writing");
    }
    Put(data, count);
  }
  void SeekToStart() override {
    if (d_.fail_seek) throw EInOutError("I/O error positioning");
    d_.pos = 0;
  }
  void Close() override {
    ++d_.closes;
    if (d_.fail_close) throw EInOutError("I/O error closing");
  }

 private:
  void Put(const void* data, size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (d_.file.size() < d_.pos + count) d_.file.resize(d_.pos + count);
    std::memcpy(d_.file.data() + d_.pos, p, count);
    d_.pos += count;
  }
  TFakeDisk& d_;
};

TLogOutputFactory FakeFactory(TFakeDisk& d, std::string* created = nullptr) {
  return [&d, created](const std::string& name) -> std::unique_ptr<TLogOutput> {
    if (created) *created = name;
    d.file.clear();
    d.pos = 0;
    return std::make_unique<TFakeOutput>(d);
  };
}

uint32_t LE(const Bytes& b, size_t off, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(off + i);
  return v;
}

std::vector<UndoRecord*> Records(const TUndoChanges& u) {
  std::vector<UndoRecord*> out;
  for (UndoRecord* r = u.First(); r; r = r->Next) out.push_back(r);
  return out;
}

TEST(UndoChanges, AppendLinksAndData) {
  TUndoChanges u;
  EXPECT_EQ(u.First(), nullptr);
  EXPECT_EQ(u.Last(), nullptr);
  u.AppendStrings(ukDeleteFile, {"C:\\APP\\a.exe", ""}, dfExistedBefore | dfRegisteredServer);
  ASSERT_NE(u.First(), nullptr);
  EXPECT_EQ(u.First(), u.Last());
  const UndoRecord* r = u.First();
  EXPECT_EQ(r->Prev, nullptr);
  EXPECT_EQ(r->Next, nullptr);
  EXPECT_EQ(r->Kind, ukDeleteFile);
  EXPECT_EQ(r->Param, 0x09u);
  ASSERT_EQ(r->DataLength, 14);  // 12 characters, a NUL, and a second NUL
  EXPECT_EQ(std::memcmp(r->Data(), "C:\\APP\\a.exe\0\0", 14), 0);
  EXPECT_EQ(r->String(0), "C:\\APP\\a.exe");
  EXPECT_EQ(r->String(1), "");
  EXPECT_EQ(r->String(2), "");

  u.AppendStrings(ukRegValue, {"Software\\X", "Val"}, 0x80000002u);
  const uint8_t raw[3] = {'a', 0, 'b'};
  u.AppendRaw(ukShellNotify, raw, 0x1000, 3);
  u.AppendStrings(ukRemoveDir, {}, 1);

  auto rs = Records(u);
  ASSERT_EQ(rs.size(), 4u);
  EXPECT_EQ(u.Count(), 4u);
  EXPECT_EQ(u.Last(), rs[3]);
  for (size_t i = 0; i < rs.size(); ++i) {
    EXPECT_EQ(rs[i]->Prev, i ? rs[i - 1] : nullptr);
  }
  EXPECT_EQ(rs[1]->String(0), "Software\\X");
  EXPECT_EQ(rs[1]->String(1), "Val");
  EXPECT_EQ(rs[1]->Param, 0x80000002u);
  // Data without a final NUL: the last string ends at the data's end.
  EXPECT_EQ(rs[2]->String(0), "a");
  EXPECT_EQ(rs[2]->String(1), "b");
  EXPECT_EQ(rs[3]->DataLength, 0);
  EXPECT_EQ(rs[3]->String(0), "");
}

TEST(UndoChanges, FreeRecordUnlinksAnywhere) {
  TUndoChanges u;
  for (const char* s : {"a", "b", "c", "d"}) u.AppendStrings(ukRemoveDir, {s}, 0);
  auto rs = Records(u);
  u.FreeRecord(rs[1]);  // middle
  u.FreeRecord(rs[3]);  // last
  u.FreeRecord(rs[0]);  // first
  ASSERT_EQ(u.First(), rs[2]);
  EXPECT_EQ(u.Last(), rs[2]);
  EXPECT_EQ(rs[2]->Prev, nullptr);
  EXPECT_EQ(rs[2]->Next, nullptr);
  u.FreeRecord(rs[2]);
  EXPECT_EQ(u.First(), nullptr);
  EXPECT_EQ(u.Last(), nullptr);
  EXPECT_EQ(u.Count(), 0u);
  u.AppendStrings(ukRemoveDir, {"e"}, 0);
  EXPECT_EQ(u.First(), u.Last());
}

TEST(UndoChanges, DiscardAllResetsEverything) {
  TUndoChanges u;
  u.AppName = "App";
  u.AdminFlag = 1;
  for (int i = 0; i < 100; ++i) u.AppendStrings(ukIniValue, {"x.ini", "S", "K"}, 0);
  u.DiscardAll();
  EXPECT_EQ(u.First(), nullptr);
  EXPECT_EQ(u.Last(), nullptr);
  EXPECT_EQ(u.Count(), 0u);
  EXPECT_EQ(u.AppName, "");
  EXPECT_EQ(u.AdminFlag, 0);
  // The destructor frees what is left (ASan reports a leak otherwise).
  u.AppendStrings(ukIniValue, {"x.ini"}, 0);
}

TEST(UndoChanges, OverlongDataIsCutAndStaysTerminated) {
  TUndoChanges u;
  Bytes big(65535, 'x');
  u.AppendRaw(ukDeleteFile, big.data(), 0, 65535);
  ASSERT_EQ(u.Last()->DataLength, kMaxUndoDataLength);
  EXPECT_EQ(u.Last()->Data()[kMaxUndoDataLength - 1], '\0');
  EXPECT_EQ(u.Last()->String(0).size(), kMaxUndoDataLength - 1u);

  Bytes exact(kMaxUndoDataLength, 'y');
  u.AppendRaw(ukDeleteFile, exact.data(), 0, kMaxUndoDataLength);
  EXPECT_EQ(u.Last()->DataLength, kMaxUndoDataLength);
  EXPECT_EQ(u.Last()->Data()[kMaxUndoDataLength - 1], 'y');

  // Strings longer than 16 bits can count are cut too, not wrapped round.
  u.AppendStrings(ukDeleteFile, {std::string(70000, 'z')}, 0);
  EXPECT_EQ(u.Last()->DataLength, kMaxUndoDataLength);
}

TEST(UndoLogFile, EmptyListIs78Bytes) {
  TUndoChanges u;
  u.AppName = "My Program";
  u.AdminFlag = 1;
  TFakeDisk d;
  std::string created;
  u.WriteLogFile("C:\\APP\\UNINST1.000", FakeFactory(d, &created));
  EXPECT_EQ(created, "C:\\APP\\UNINST1.000");
  Bytes want(78, 0);
  std::memcpy(want.data(), "uqz100a\x1A", 8);
  want[10] = 10;
  std::memcpy(&want[11], "My Program", 10);
  want[74] = 1;
  EXPECT_EQ(d.file, want);
  EXPECT_EQ(d.closes, 1);
}

TEST(UndoLogFile, ByteExactRecords) {
  TUndoChanges u;
  u.AppName = std::string(63, 'N') + "cut";
  u.AdminFlag = 0;
  u.AppendStrings(ukRemoveDir, {"C:\\APP"}, 0);
  u.AppendStrings(ukDeleteFile, {"C:\\APP\\a.exe", ""}, dfExistedBefore);
  u.AppendStrings(ukRegKeyTree, {"Software\\Q"}, 0x80000002u);
  TFakeDisk d;
  u.WriteLogFile("log", FakeFactory(d));

  const Bytes& f = d.file;
  ASSERT_EQ(f.size(), 78u + (15 + 7) + (15 + 14) + (15 + 11));
  EXPECT_EQ(std::memcmp(f.data(), "uqz100a\x1A", 8), 0);
  EXPECT_EQ(LE(f, 8, 2), 3u);
  EXPECT_EQ(f[10], 63);
  EXPECT_EQ(std::string(f.begin() + 11, f.begin() + 74), std::string(63, 'N'));
  EXPECT_EQ(f[74], 0);
  EXPECT_EQ(LE(f, 75, 3), 0u);

  size_t off = 78;
  // First record: link area 1 zero, link area 2 non-zero.
  EXPECT_EQ(LE(f, off, 4), 0u);
  EXPECT_NE(LE(f, off + 4, 4), 0u);
  EXPECT_EQ(LE(f, off + 8, 4), 0u);
  EXPECT_EQ(f[off + 12], ukRemoveDir);
  EXPECT_EQ(LE(f, off + 13, 2), 7u);
  EXPECT_EQ(std::memcmp(&f[off + 15], "C:\\APP\0", 7), 0);
  off += 22;
  // Middle record: both link areas non-zero.
  EXPECT_NE(LE(f, off, 4), 0u);
  EXPECT_NE(LE(f, off + 4, 4), 0u);
  EXPECT_EQ(LE(f, off + 8, 4), dfExistedBefore);
  EXPECT_EQ(f[off + 12], ukDeleteFile);
  EXPECT_EQ(LE(f, off + 13, 2), 14u);
  EXPECT_EQ(std::memcmp(&f[off + 15], "C:\\APP\\a.exe\0\0", 14), 0);
  off += 29;
  // Last record: link area 2 zero.
  EXPECT_NE(LE(f, off, 4), 0u);
  EXPECT_EQ(LE(f, off + 4, 4), 0u);
  EXPECT_EQ(LE(f, off + 8, 4), 0x80000002u);
  EXPECT_EQ(f[off + 12], ukRegKeyTree);
  EXPECT_EQ(LE(f, off + 13, 2), 11u);
  EXPECT_EQ(std::memcmp(&f[off + 15], "Software\\Q\0", 11), 0);

  // Writing leaves the list as it was.
  EXPECT_EQ(Records(u).size(), 3u);
}

TEST(UndoLogFile, SingleRecordHasBothLinkAreasZeroAndCappedLength) {
  TUndoChanges u;
  Bytes big(65000, 'p');
  u.AppendRaw(ukDeleteFile, big.data(), 7, 65000);
  TFakeDisk d;
  u.WriteLogFile("log", FakeFactory(d));
  ASSERT_EQ(d.file.size(), 78u + 15 + 64985);
  EXPECT_EQ(LE(d.file, 78, 4), 0u);
  EXPECT_EQ(LE(d.file, 82, 4), 0u);
  EXPECT_EQ(LE(d.file, 91, 2), 64985u);
  EXPECT_EQ(d.file.back(), 0);
}

TEST(UndoLogFile, FailedWriteLeavesNoIDAndKeepsTheRecords) {
  for (int failing : {0, 1, 2, 3}) {  // header placeholder, records, final header
    SCOPED_TRACE(failing);
    TUndoChanges u;
    u.AppName = "App";
    u.AdminFlag = 1;
    u.AppendStrings(ukRemoveDir, {"C:\\APP"}, 0);
    u.AppendStrings(ukDeleteFile, {"C:\\APP\\a.exe", ""}, 0);
    TFakeDisk d;
    d.fail_write = failing;
    EXPECT_THROW(u.WriteLogFile("log", FakeFactory(d)), EInOutError);
    EXPECT_EQ(d.closes, 1);  // closed also on failure
    if (failing < 3) {
      ASSERT_GE(d.file.size(), 8u);
      EXPECT_NE(std::memcmp(d.file.data(), "uqz100a\x1A", 8), 0);
    }
    // Nothing was discarded: a rollback still has every record.
    auto rs = Records(u);
    ASSERT_EQ(rs.size(), 2u);
    EXPECT_EQ(rs[1]->String(0), "C:\\APP\\a.exe");
    EXPECT_EQ(u.AppName, "App");
  }
}

TEST(UndoLogFile, FailedSeekOrCloseIsReported) {
  TUndoChanges u;
  u.AppendStrings(ukRemoveDir, {"C:\\APP"}, 0);
  TFakeDisk d;
  d.fail_seek = true;
  EXPECT_THROW(u.WriteLogFile("log", FakeFactory(d)), EInOutError);
  EXPECT_NE(std::memcmp(d.file.data(), "uqz100a\x1A", 8), 0);
  EXPECT_EQ(d.closes, 1);

  TFakeDisk d2;
  d2.fail_close = true;
  EXPECT_THROW(u.WriteLogFile("log", FakeFactory(d2)), EInOutError);
  EXPECT_EQ(d2.closes, 1);
  // A failing close after a failed write reports the write's error.
  TFakeDisk d3;
  d3.fail_write = 1;
  d3.fail_close = true;
  try {
    u.WriteLogFile("log", FakeFactory(d3));
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "I/O error 112 writing");
  }
  EXPECT_EQ(Records(u).size(), 1u);
}

TEST(UndoLogFile, CountBeyond16BitsIsRefusedBeforeTheFileIsMade) {
  TUndoChanges u;
  for (int i = 0; i < 65536; ++i) u.AppendRaw(ukRemoveDir, "", 0, 0);
  bool created = false;
  auto factory = [&](const std::string&) -> std::unique_ptr<TLogOutput> {
    created = true;
    return nullptr;
  };
  EXPECT_THROW(u.WriteLogFile("log", factory), Exception);
  EXPECT_FALSE(created);
  u.FreeRecord(u.Last());
  TFakeDisk d;
  u.WriteLogFile("log", FakeFactory(d));
  EXPECT_EQ(LE(d.file, 8, 2), 65535u);
  EXPECT_EQ(d.file.size(), 78u + 65535u * 15);
}

TEST(UndoLogFile, RealFileThroughTheCLibrary) {
  char dir[] = "/tmp/qvundoXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/UNINST1.000";
  testdata::WriteWholeFile(path, std::string(500, 'o'));  // replaced, not overwritten in place
  TUndoChanges u;
  u.AppName = "A";
  u.AppendStrings(ukIniSection, {"", "Sec"}, 0);
  u.WriteLogFile(path);
  Bytes got = testdata::ReadAll(path);
  ASSERT_EQ(got.size(), 78u + 15 + 5);
  EXPECT_EQ(std::memcmp(got.data(), "uqz100a\x1A", 8), 0);
  EXPECT_EQ(LE(got, 8, 2), 1u);
  EXPECT_EQ(std::memcmp(&got[78 + 15], "\0Sec\0", 5), 0);
  std::remove(path.c_str());

  // A directory that does not exist: the file layer's error, with its name.
  try {
    u.WriteLogFile(std::string(dir) + "/missing/UNINST1.000");
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("missing/UNINST1.000"), std::string::npos);
  }
  rmdir(dir);
}

// ---- reading a log back ---------------------------------------------------

// A log as the installation writes it: every kind, the flags, an empty
// second string.
Bytes SampleLog() {
  TUndoChanges u;
  u.AppName = "My App 1.0";
  u.AdminFlag = 1;
  u.AppendStrings(ukRemoveDir, {"C:\\App"}, 0);
  u.AppendStrings(ukDeleteFile, {"C:\\App\\UNINST0.000", ""}, 0);
  u.AppendStrings(ukRegKeyTree, {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\My App 1.0_qv1"}, 0x80000002u);
  u.AppendStrings(ukDeleteFile, {"C:\\App\\a.dll", ""}, dfSharedFile | dfRegisteredServer);
  u.AppendStrings(ukProgmanEntry, {"Group", "Item"}, 0);
  u.AppendStrings(ukIniValue, {"", "Section", "Key"}, 0);
  u.AppendStrings(ukIniSection, {"C:\\App\\app.ini", "S"}, 0);
  u.AppendStrings(ukRegKeyIfEmpty, {"Software\\Q"}, 0x80000001u);
  u.AppendStrings(ukRegValue, {"Software\\Q", ""}, 0x80000001u);
  u.AppendStrings(ukShellNotify, {"C:\\Start"}, 0x1000);
  TFakeDisk d;
  u.WriteLogFile("log", FakeFactory(d));
  return d.file;
}

TEST(UndoLogRead, ReadsBackWhatWasWrittenRecordForRecord) {
  const Bytes log = SampleLog();
  TUndoChanges u;
  u.ReadLogData(log.data(), log.size());
  EXPECT_EQ(u.AppName, "My App 1.0");
  EXPECT_EQ(u.AdminFlag, 1);
  std::vector<UndoRecord*> r = Records(u);
  ASSERT_EQ(r.size(), 10u);
  EXPECT_EQ(r[0]->Kind, ukRemoveDir);
  EXPECT_EQ(r[0]->String(0), "C:\\App");
  EXPECT_EQ(r[2]->Param, 0x80000002u);
  EXPECT_EQ(r[3]->Param, dfSharedFile | dfRegisteredServer);
  EXPECT_EQ(r[3]->DataLength, 14u);
  EXPECT_EQ(r[4]->String(1), "Item");
  EXPECT_EQ(r[5]->String(2), "Key");
  EXPECT_EQ(r[9]->Kind, ukShellNotify);
  EXPECT_EQ(r[9]->Param, 0x1000u);
  // Written again, it is the same file byte for byte.
  TFakeDisk d;
  u.WriteLogFile("log", FakeFactory(d));
  EXPECT_EQ(d.file, log);
  // The list must start empty.
  EXPECT_THROW(u.ReadLogData(log.data(), log.size()), Exception);
}

// Each fault the format can show, made in an otherwise good log: its kind and
// what it says, and an empty list afterwards.
TEST(UndoLogRead, RefusesEveryDamageWithItsReason) {
  const Bytes good = SampleLog();
  const size_t first = 78;                 // the first record (ukRemoveDir, 7 data bytes)
  const size_t second = first + 15 + 7;   // ukDeleteFile, 20 data bytes
  const size_t third = second + 15 + 20;  // ukRegKeyTree
  struct TCase {
    const char* name;
    std::function<void(Bytes&)> damage;
    EUndoLogError::TKind kind;
    const char* says;
  } cases[] = {
      {"empty", [](Bytes& b) { b.clear(); }, EUndoLogError::kTruncated, "the file is empty"},
      {"other format", [](Bytes& b) { b[3] = '2'; }, EUndoLogError::kNotALog, "it is not an uninstall log"},
      {"text file", [](Bytes& b) { b.assign({'h', 'e', 'l', 'l', 'o'}); }, EUndoLogError::kNotALog,
       "it is not an uninstall log"},
      {"zero header", [](Bytes& b) { std::fill(b.begin(), b.begin() + 78, 0); }, EUndoLogError::kDamaged,
       "its header was never written (the installation stopped while writing it)"},
      {"short header", [](Bytes& b) { b.resize(40); }, EUndoLogError::kTruncated,
       "it ends inside its header (40 of 78 bytes)"},
      {"long name", [](Bytes& b) { b[10] = 64; }, EUndoLogError::kDamaged,
       "its application name is 64 characters long (63 at most)"},
      {"control in name", [](Bytes& b) { b[12] = 1; }, EUndoLogError::kDamaged,
       "its application name holds a control character"},
      {"bytes after name", [](Bytes& b) { b[60] = 'x'; }, EUndoLogError::kDamaged,
       "the bytes after its application name are not zero"},
      {"admin flag", [](Bytes& b) { b[74] = 2; }, EUndoLogError::kDamaged, "its administrator flag is 2 (0 or 1)"},
      {"header tail", [](Bytes& b) { b[77] = 1; }, EUndoLogError::kDamaged,
       "the last bytes of its header are not zero"},
      {"count too high", [](Bytes& b) { b[8] = 11; }, EUndoLogError::kDamaged,
       "the links of record 10 of 11 do not match its place"},
      {"count too low", [](Bytes& b) { b[8] = 9; }, EUndoLogError::kDamaged,
       "the links of record 9 of 9 do not match its place"},
      {"cut in a head", [&](Bytes& b) { b.resize(second + 7); }, EUndoLogError::kTruncated,
       "it ends in the middle of record 2 of 10"},
      {"cut in data", [&](Bytes& b) { b.resize(second + 15 + 3); }, EUndoLogError::kTruncated,
       "it ends in the middle of record 2 of 10"},
      {"trailing bytes", [](Bytes& b) { b.push_back(0); }, EUndoLogError::kDamaged,
       "1 bytes follow its last record (it declares 10 records)"},
      {"first link set", [&](Bytes& b) { b[first] = 1; }, EUndoLogError::kDamaged,
       "the links of record 1 of 10 do not match its place"},
      {"middle link cleared", [&](Bytes& b) { std::fill(b.begin() + second, b.begin() + second + 4, 0); },
       EUndoLogError::kDamaged, "the links of record 2 of 10 do not match its place"},
      {"unknown kind", [&](Bytes& b) { b[second + 12] = 9; }, EUndoLogError::kDamaged,
       "record 2 is of an unknown kind (9)"},
      {"length above the most", [&](Bytes& b) { b[second + 13] = 0xDA; b[second + 14] = 0xFD; },
       EUndoLogError::kDamaged, "record 2 declares 64986 data bytes (64985 at most)"},
      {"length cuts a string", [&](Bytes& b) { b[second + 13] = 17; }, EUndoLogError::kDamaged,
       "the last string of record 2 is not terminated"},
      {"string unterminated", [&](Bytes& b) { b[first + 15 + 6] = 'x'; }, EUndoLogError::kDamaged,
       "the last string of record 1 is not terminated"},
      {"too few strings", [&](Bytes& b) { b[second + 12] = ukIniValue; }, EUndoLogError::kDamaged,
       "record 2 holds 2 strings where its kind needs 3"},
      {"no registry root", [&](Bytes& b) { b[third + 11] = 0; }, EUndoLogError::kDamaged,
       "record 3 names no registry root (0x00000002)"},
      {"no registry key", [&](Bytes& b) { b[third + 15] = 0; }, EUndoLogError::kDamaged,
       "record 3 names no registry key"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = good;
    c.damage(b);
    TUndoChanges u;
    try {
      u.ReadLogData(b.data(), b.size());
      ADD_FAILURE() << "accepted";
    } catch (const EUndoLogError& e) {
      EXPECT_EQ(e.Kind(), c.kind);
      EXPECT_EQ(e.Message(), c.says);
    }
    EXPECT_EQ(u.First(), nullptr);
    EXPECT_EQ(u.AppName, "");
  }
}

TEST(UndoKeyTree, OnlyAnApplicationsOwnKeysMayBeDeleted) {
  const uint32_t hkcr = 0x80000000u, hkcu = 0x80000001u, hklm = 0x80000002u, hku = 0x80000003u;
  for (const char* key : {"", "\\", "Software", "\\Software\\", "Software\\\\", "SOFTWARE\\Microsoft",
                          "Software\\Microsoft\\Windows", "software\\microsoft\\windows nt\\currentversion",
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
                          "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Software\\Classes",
                          "Software\\Classes\\CLSID", "System\\CurrentControlSet\\Services"}) {
    EXPECT_FALSE(MayDeleteKeyTree(hklm, key)) << key;
    EXPECT_FALSE(MayDeleteKeyTree(hkcu, key)) << key;
  }
  EXPECT_FALSE(MayDeleteKeyTree(hkcr, ""));
  EXPECT_FALSE(MayDeleteKeyTree(hkcr, "clsid"));
  EXPECT_FALSE(MayDeleteKeyTree(hku, ".DEFAULT\\Software"));
  for (const char* key : {"Software\\Vendor", "Software\\Vendor\\App", "Software\\Microsoft\\Office",
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App 1.0_qv1",
                          "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\APP.EXE",
                          "System\\CurrentControlSet\\Services\\AppSvc", "Software\\Classes\\.smp"})
    EXPECT_TRUE(MayDeleteKeyTree(hklm, key)) << key;
  EXPECT_TRUE(MayDeleteKeyTree(hkcr, ".smp"));
  EXPECT_TRUE(MayDeleteKeyTree(hkcr, "CLSID\\{00021401-0000-0000-C000-000000000046}"));
  EXPECT_TRUE(MayDeleteKeyTree(hku, ".DEFAULT\\Software\\Vendor"));
}

// A log that is well framed but asks for harm is refused as damaged,
// naming the record: relative paths (the current directory would decide),
// a key tree every program shares, Program Manager names that would end
// their command.
TEST(UndoLogRead, RefusesRecordsThatWouldDoHarm) {
  struct TCase {
    UndoRecordKind kind;
    std::vector<std::string> strings;
    uint32_t param;
    const char* says;
  } cases[] = {
      {ukDeleteFile, {"X.EXE", ""}, 0, "record 2 names \"X.EXE\", which is not a full path"},
      {ukDeleteFile, {"C:\\App\\X.EXE", "qv0001.tmp"}, 0, "record 2 names \"qv0001.tmp\", which is not a full path"},
      {ukRemoveDir, {"App\\Data"}, 0, "record 2 names \"App\\Data\", which is not a full path"},
      {ukRemoveDir, {"\\\\server"}, 0, "record 2 names \"\\\\server\", which is not a full path"},
      {ukRegKeyTree, {"Software"}, 0x80000002u,
       "record 2 would delete the registry key HKEY_LOCAL_MACHINE\\Software with all it holds, a key that "
       "every program shares"},
      {ukRegKeyTree, {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}, 0x80000002u,
       "record 2 would delete the registry key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
       "\\Uninstall with all it holds, a key that every program shares"},
      {ukProgmanEntry, {"G\")][DeleteGroup(\"Main", ""}, 0,
       "record 2 names the Program Manager group \"G\")][DeleteGroup(\"Main\", which holds \" or a line break"},
      {ukProgmanEntry, {"G", "I\r\nJ"}, 0,
       "record 2 names the Program Manager item \"I\r\nJ\", which holds \" or a line break"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.says);
    TUndoChanges w;
    w.AppName = "A";
    w.AppendStrings(ukRemoveDir, {"\\\\srv\\share\\App"}, 0);
    w.AppendStrings(c.kind, c.strings, c.param);
    TFakeDisk d;
    w.WriteLogFile("log", FakeFactory(d));
    TUndoChanges r;
    try {
      r.ReadLogData(d.file.data(), d.file.size());
      ADD_FAILURE() << "accepted";
    } catch (const EUndoLogError& e) {
      EXPECT_EQ(e.Kind(), EUndoLogError::kDamaged);
      EXPECT_EQ(e.Message(), c.says);
    }
    EXPECT_EQ(r.First(), nullptr);
  }
}

TEST(UndoLogRead, MissingFileIsAnInOutErrorNamingIt) {
  TUndoChanges u;
  try {
    u.ReadLogFile("/nonexistent/UNINST1.000");
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/UNINST1.000"), std::string::npos);
  }
}

}  // namespace

// What the installer writes for a script with empty texts is read as it
// stands: no application name, a folder and an uninstall-delete record whose
// paths expanded to nothing, Program Manager names with brackets.
TEST(UndoLogRead, LogsOfEmptyTextsAndBracketedNamesAreRead) {
  TUndoChanges w;
  w.AppendStrings(ukRemoveDir, {""}, 0);
  w.AppendStrings(ukProgmanEntry, {"Tools [beta]", "Run ]now["}, 0);
  w.AppendStrings(ukDeleteFile, {"", ""}, dfUninstallOnly);
  TFakeDisk d;
  w.WriteLogFile("log", FakeFactory(d));
  TUndoChanges r;
  r.ReadLogData(d.file.data(), d.file.size());
  EXPECT_EQ(r.AppName, "");
  std::vector<UndoRecord*> recs = Records(r);
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[0]->DataLength, 1u);
  EXPECT_EQ(recs[1]->String(1), "Run ]now[");
  EXPECT_EQ(recs[2]->Param, dfUninstallOnly);
}

// The icon step records a shortcut with its link alone (no second string);
// such a log is read.
TEST(UndoLogRead, FileRecordWithItsNameAloneIsRead) {
  TUndoChanges w;
  w.AppName = "A";
  w.AppendStrings(ukDeleteFile, {"C:\\Start\\App.lnk"}, dfNotifyShell);
  TFakeDisk d;
  w.WriteLogFile("log", FakeFactory(d));
  TUndoChanges r;
  r.ReadLogData(d.file.data(), d.file.size());
  ASSERT_EQ(r.Count(), 1u);
  EXPECT_EQ(r.First()->String(0), "C:\\Start\\App.lnk");
  EXPECT_EQ(r.First()->String(1), "");
}
