// The installation journal: every change an installation is about to make,
// on disk, so that a later run can take back an installation that was
// killed before it could end either way. Portable: the format and its
// reader; the file itself is install/journalfile.
//
// The file is an 8-byte ID ("qvjrnl1" and 0x1A), then frames. A frame is a
// 32-bit payload length n, a 32-bit CRC-32 of those four length bytes and
// the payload, then the n payload bytes; numbers are little-endian. The
// first frame is the header (the product, its folder, the owning process);
// every later frame is one record. A reader stops at the first frame that
// is not whole or whose checksum or payload is wrong: a torn last write
// loses only the record it was writing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "undo/undolog.h"

extern const char kJournalID[8];  // "qvjrnl1" and 0x1A
constexpr size_t kJournalFrameHeadSize = 8;
// The largest payload a reader takes: a change-log record with its data,
// and room for two paths.
constexpr uint32_t kMaxJournalPayload = 0x20100;

enum TJournalRecordType : uint8_t {
  jrHeader = 0,          // the first frame only
  jrUndo = 1,            // a change-log record (Kind, Param, Data)
  jrWithdraw = 2,        // the jrUndo just before did not happen
  jrTempFile = 3,        // Path: a file made under a fresh name
  jrNewFile = 4,         // Path: a file that did not exist, about to be put in place
  jrSafetyCopy = 5,      // Path moved aside to Other; Attributes its old ones
  jrAttributes = 6,      // Path's attributes before the run changed them
  jrRestartReplace = 7,  // Path (temporary) replaces Other at the restart
  jrSharedCount = 8,     // Path's SharedDLLs value before: Existed, ValueType, Data
  jrCommitted = 9,       // the uninstall log is written: the run is done
  jrEnded = 10,          // the run ended (committed or rolled back): nothing to do
  // Path: a file about to be made with CREATE_NEW, written before the call.
  // A jrWithdraw right after it says the name was taken (the file is not
  // the run's); once made, a jrTempFile or jrNewFile for it follows.
  jrCreating = 11,
};

struct TJournalHeader {
  std::string AppName;
  std::string AppDir;
  uint32_t ProcessId = 0;
  uint64_t Started = 0;  // when the run began (a FILETIME's 64 bits)
};

struct TJournalRecord {
  uint8_t Type = jrUndo;
  // jrUndo
  uint8_t Kind = 0;
  uint32_t Param = 0;
  std::string Data;  // the record's NUL-terminated strings; jrSharedCount: the value's bytes
  // the file and registry notes
  std::string Path, Other;
  uint32_t Attributes = 0xFFFFFFFFu;
  bool Existed = false;
  uint32_t ValueType = 0;
  // Where the reader found the record's frame, and its length.
  size_t Offset = 0, Size = 0;
};

// A change-log record as a journal record.
TJournalRecord JournalUndoRecord(uint8_t kind, const std::vector<std::string>& strings, uint32_t param);
TJournalRecord JournalUndoRecord(const UndoRecord& record);

// The bytes of the file's start (ID and header frame), and of one record's
// frame.
std::string EncodeJournalStart(const TJournalHeader& header);
std::string EncodeJournalFrame(const TJournalRecord& record);

struct TJournalContents {
  bool HasHeader = false;  // false: the ID or the header frame is not whole
  TJournalHeader Header;
  std::vector<TJournalRecord> Records;  // in file order, each read whole
  bool Whole = false;  // the file ended right after its last frame
  size_t Used = 0;     // the bytes that the header and Records cover
};

// Reads as much of a journal as is whole. Never raises for bad input.
TJournalContents ReadJournal(const uint8_t* data, size_t size);

// What a recovery does: Steps holds the change-log records that still stand
// (withdrawn ones left out) and the notes, newest first, the order to take
// them back in (a folder goes after the files left in it, a file made by
// the run after the safety copy put back over it). Committed: the
// uninstall log was written, so the run is finished instead of taken back
// (only its safety copies go). Ended: nothing is left to do.
struct TJournalPlan {
  bool Committed = false;
  bool Ended = false;
  std::vector<TJournalRecord> Steps;
};
TJournalPlan PlanRecovery(const TJournalContents& contents);

uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);
