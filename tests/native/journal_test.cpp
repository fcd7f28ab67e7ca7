#include "undo/journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TJournalRecord Note(uint8_t type, const std::string& path, const std::string& other = "") {
  TJournalRecord r;
  r.Type = type;
  r.Path = path;
  r.Other = other;
  return r;
}

// A run's journal as the installation writes it: folders, a file with its
// temporary name (the first name tried was taken), a replaced file, a shared count, an INI entry that was
// skipped (withdrawn), a registry entry.
std::vector<TJournalRecord> RunRecords() {
  std::vector<TJournalRecord> v;
  v.push_back(JournalUndoRecord(ukRemoveDir, {"C:\\App"}, 0));
  TJournalRecord withdraw;
  withdraw.Type = jrWithdraw;
  v.push_back(Note(jrCreating, "C:\\App\\_iu14D2M.tmp"));
  v.push_back(withdraw);
  v.push_back(Note(jrCreating, "C:\\App\\_iu14D2N.tmp"));
  v.push_back(Note(jrTempFile, "C:\\App\\_iu14D2N.tmp"));
  v.push_back(Note(jrNewFile, "C:\\App\\ONE.EXE"));
  v.push_back(JournalUndoRecord(ukDeleteFile, {"C:\\App\\ONE.EXE", ""}, 0));
  TJournalRecord safety = Note(jrSafetyCopy, "C:\\Windows\\OLD.DLL", "C:\\Windows\\_iu2.tmp");
  safety.Attributes = 0x21;
  v.push_back(safety);
  TJournalRecord shared = Note(jrSharedCount, "C:\\Windows\\OLD.DLL");
  shared.Existed = true;
  shared.ValueType = 4;
  shared.Data = std::string("\x03\x00\x00\x00", 4);
  v.push_back(shared);
  v.push_back(Note(jrRestartReplace, "C:\\Windows\\_iu3.tmp", "C:\\Windows\\BUSY.DLL"));
  v.push_back(JournalUndoRecord(ukIniValue, {"C:\\Windows\\A.INI", "S", "K"}, 0));
  v.push_back(withdraw);
  v.push_back(JournalUndoRecord(ukRegValue, {"Software\\Q", "V"}, 0x80000002u));
  return v;
}

TEST(Journal, ReadsBackWholeRecordsOnlyWhereverTheFileIsCut) {
  TJournalHeader h;
  h.AppName = "My App";
  h.AppDir = "C:\\App";
  h.ProcessId = 0x1234;
  h.Started = 0x01D9000012345678ull;
  std::string file = EncodeJournalStart(h);
  const size_t start = file.size();
  std::vector<size_t> ends;
  const std::vector<TJournalRecord> written = RunRecords();
  for (const TJournalRecord& r : written) {
    file += EncodeJournalFrame(r);
    ends.push_back(file.size());
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());

  const TJournalContents all = ReadJournal(bytes, file.size());
  ASSERT_TRUE(all.HasHeader);
  EXPECT_TRUE(all.Whole);
  EXPECT_EQ(all.Header.AppName, "My App");
  EXPECT_EQ(all.Header.AppDir, "C:\\App");
  EXPECT_EQ(all.Header.ProcessId, 0x1234u);
  EXPECT_EQ(all.Header.Started, 0x01D9000012345678ull);
  ASSERT_EQ(all.Records.size(), written.size());
  for (size_t i = 0; i < written.size(); ++i)
    EXPECT_EQ(EncodeJournalFrame(all.Records[i]), EncodeJournalFrame(written[i])) << i;
  EXPECT_EQ(all.Records[7].Attributes, 0x21u);
  EXPECT_EQ(all.Records[8].Data, std::string("\x03\x00\x00\x00", 4));

  // Newest first, the withdrawn INI record and the name found taken left out.
  const TJournalPlan plan = PlanRecovery(all);
  EXPECT_FALSE(plan.Committed);
  ASSERT_EQ(plan.Steps.size(), 9u);
  EXPECT_EQ(plan.Steps[0].Kind, ukRegValue);
  EXPECT_EQ(plan.Steps[1].Type, jrRestartReplace);
  EXPECT_EQ(plan.Steps[6].Type, jrTempFile);
  EXPECT_EQ(plan.Steps[7].Type, jrCreating);
  EXPECT_EQ(plan.Steps[7].Path, "C:\\App\\_iu14D2N.tmp");
  EXPECT_EQ(plan.Steps[8].Kind, ukRemoveDir);

  // Cut at every byte: exactly the records that end before the cut.
  for (size_t cut = 0; cut < file.size(); ++cut) {
    const TJournalContents c = ReadJournal(bytes, cut);
    EXPECT_EQ(c.HasHeader, cut >= start) << cut;
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    ASSERT_EQ(c.Records.size(), whole) << "cut at " << cut;
    EXPECT_LE(c.Used, cut);
    EXPECT_EQ(c.Whole, cut == start || (whole > 0 && ends[whole - 1] == cut)) << cut;
  }

  // A changed byte inside the fourth record stops the reader before it; so
  // does a length that runs past the end.
  std::string bad = file;
  bad[ends[2] + 12] ^= 0x40;
  EXPECT_EQ(ReadJournal(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()).Records.size(), 3u);
  bad = file;
  bad[ends[2] + 2] = 0x7F;
  EXPECT_EQ(ReadJournal(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()).Records.size(), 3u);

  // Committed, then ended.
  TJournalRecord mark;
  mark.Type = jrCommitted;
  file += EncodeJournalFrame(mark);
  EXPECT_TRUE(PlanRecovery(ReadJournal(reinterpret_cast<const uint8_t*>(file.data()), file.size())).Committed);
  mark.Type = jrEnded;
  file += EncodeJournalFrame(mark);
  EXPECT_TRUE(PlanRecovery(ReadJournal(reinterpret_cast<const uint8_t*>(file.data()), file.size())).Ended);
  // Another kind of file has no header.
  EXPECT_FALSE(ReadJournal(reinterpret_cast<const uint8_t*>("uqz100a\x1a"), 8).HasHeader);
}

}  // namespace
