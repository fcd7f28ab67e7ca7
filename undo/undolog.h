// The record of every change the installation makes, in the order made, and
// its uninstall log file. Portable: no <windows.h>; the file is written
// through TLogOutput.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"

enum UndoRecordKind : uint8_t {
  ukRemoveDir = 0,       // directory; param bit 0: send SHCNE_RMDIR
  ukDeleteFile = 1,      // file; second file or empty; param: df... bits
  ukProgmanEntry = 2,    // group; item name or empty
  ukIniValue = 3,        // INI file (empty: WIN.INI); section; key
  ukIniSection = 4,      // INI file (empty: WIN.INI); section
  ukRegKeyTree = 5,      // subkey path; param: root key
  ukRegKeyIfEmpty = 6,   // subkey path; param: root key
  ukRegValue = 7,        // subkey path; value name; param: root key
  ukShellNotify = 8,     // path; param: shell event
};

// Bits of a ukDeleteFile parameter.
constexpr uint32_t dfExistedBefore = 0x01;
constexpr uint32_t dfUninstallOnly = 0x02;
constexpr uint32_t dfSharedFile = 0x04;
constexpr uint32_t dfRegisteredServer = 0x08;
constexpr uint32_t dfNotifyShell = 0x10;

// The most data bytes a record holds; longer data is cut.
constexpr uint16_t kMaxUndoDataLength = 64985;

// The uninstall log file: a 78-byte header, then each record as a 15-byte
// head and its data.
constexpr size_t kUndoLogHeaderSize = 78;
constexpr size_t kUndoRecordHeadSize = 15;
extern const char kUndoLogID[8];  // "uqz100a" and 0x1A

// Why an uninstall log cannot be used. Message() says what is wrong in a
// short clause ("it ends in the middle of record 3 of 7"); the uninstaller
// puts it into its own sentence.
class EUndoLogError : public Exception {
 public:
  enum TKind {
    kNotALog,    // another kind of file (its first bytes are not the ID)
    kTruncated,  // the file ends before what its header and records declare
    kDamaged,    // a header field, a record's framing or its strings are wrong
  };
  EUndoLogError(TKind kind, std::string message) : Exception(std::move(message)), kind_(kind) {}
  TKind Kind() const { return kind_; }

 private:
  TKind kind_;
};

// One record: the links, the parameter, the kind and the data length,
// followed in the same allocation by DataLength data bytes (NUL-terminated
// strings). Created only by TUndoChanges.
struct UndoRecord {
  UndoRecord* Prev;
  UndoRecord* Next;
  uint32_t Param;
  uint8_t Kind;
  uint16_t DataLength;

  const char* Data() const { return reinterpret_cast<const char*>(this + 1); }
  // The nth string of the data (counting from 0); empty when the data holds
  // fewer strings. Never reads past DataLength.
  std::string String(int n) const;
};

// Whether a registry tree may be deleted by an uninstallation (a key-tree
// record): only a key at least two parts below its root ("Software\Vendor";
// below HKEY_USERS, two parts below the user's key; HKEY_CLASSES_ROOT stands
// for "Software\Classes"), and never one of the keys that every program
// shares: "Software\Microsoft", its "Windows" and "Windows NT" keys, their
// "CurrentVersion" keys and every key right below those (Uninstall,
// SharedDLLs, Run, App Paths, ...), "Software\Classes" and its system keys
// (CLSID, Interface, TypeLib, AppID, "*", Folder, Directory, Drive),
// "System\CurrentControlSet" and the keys right below it. Empty parts and
// letter case do not count.
bool MayDeleteKeyTree(uint32_t root, const std::string& subkey);

// "HKEY_LOCAL_MACHINE" and so on for a record's root key parameter.
std::string RootKeyName(uint32_t root);

// Output for the log file. Every operation raises EInOutError on failure.
class TLogOutput {
 public:
  virtual ~TLogOutput() = default;
  virtual void Write(const void* data, size_t count) = 0;
  virtual void SeekToStart() = 0;
  // Called exactly once, also after a failed Write or SeekToStart.
  virtual void Close() = 0;
};

// Creates (replacing) the named file for writing; raises EInOutError.
using TLogOutputFactory = std::function<std::unique_ptr<TLogOutput>(const std::string& name)>;

// The C library's file output (the default).
std::unique_ptr<TLogOutput> CreateStdioLogOutput(const std::string& name);

class TUndoChanges {
 public:
  TUndoChanges() = default;
  virtual ~TUndoChanges();
  TUndoChanges(const TUndoChanges&) = delete;
  TUndoChanges& operator=(const TUndoChanges&) = delete;

  // Written into the log header; set right after creation.
  std::string AppName;
  uint8_t AdminFlag = 0;  // 0 or 1

  UndoRecord* First() const { return first_; }
  UndoRecord* Last() const { return last_; }
  size_t Count() const { return count_; }

  // Appends one record holding size bytes of data (at most
  // kMaxUndoDataLength are kept). Raises EOutOfMemory.
  void AppendRaw(uint8_t kind, const void* data, uint32_t param, uint16_t size);
  // Joins the strings, each followed by a NUL, and appends them as one record.
  void AppendStrings(uint8_t kind, const std::vector<std::string>& strings, uint32_t param);
  // Frees every record and resets the name and the administrator flag.
  void DiscardAll();
  // Unlinks one record of this list and frees it (the replay does this for
  // each record right after undoing it).
  void FreeRecord(UndoRecord* record);

  // Writes the uninstall log file. The list is left as it is. Raises
  // EInOutError when the file cannot be created, written, positioned or
  // closed; until the header is written last, the file starts with zeros,
  // so a file from a failed write never carries a valid ID. Raises
  // Exception, before creating the file, when the list holds more records
  // than the 16-bit count can say.
  void WriteLogFile(const std::string& name);
  void WriteLogFile(const std::string& name, const TLogOutputFactory& create);

  // Reads an uninstall log into this empty list: the name, the flag and
  // every record, in order. The whole log is checked before anything is
  // kept: the ID, the header fields, each record's links, kind, length,
  // strings and (for registry kinds) root key, the record count against the
  // file's end; and what the records ask for: full paths of files and
  // folders (a folder or file record may name none: it asks for nothing),
  // key trees that MayDeleteKeyTree allows, Program Manager names without
  // '"' or a line break. The application name may be empty. Raises
  // EUndoLogError naming the first fault; the list then stays empty.
  void ReadLogData(const uint8_t* data, size_t size);
  // The same from a file; EInOutError when it cannot be opened or read.
  void ReadLogFile(const std::string& name);

  // Takes the changes back newest first (the undo replay, Win32 side);
  // true when every change was taken back.
  bool Replay(bool UninstallMode);
  // Called by Replay after each record with the records done and the
  // records there were (the uninstaller's progress bar); may be empty.
  std::function<void(size_t done, size_t total)> OnReplayProgress;
  // Called by Replay in uninstall mode for each shared file that stays on
  // purpose: other programs still count it, it has no count, or the user
  // chose to keep it; may be empty.
  std::function<void(const std::string& file)> OnSharedFileKept;
  // Called by Replay in uninstall mode for a file that is there but cannot
  // be deleted; true when the caller took care of it (deleted it after all,
  // or had it deleted at the restart). May be empty.
  std::function<bool(const std::string& file)> OnFileNotDeleted;
  // Called by AppendRaw with each record once it is in the list (the
  // installation's journal on disk); may be empty.
  std::function<void(const UndoRecord& record)> OnAppend;

 private:
  UndoRecord* first_ = nullptr;
  UndoRecord* last_ = nullptr;
  size_t count_ = 0;
};
