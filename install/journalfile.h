// The installation's journal on disk (format in undo/journal.h) and the
// recovery of the journals that killed runs left behind.
//
// The journal is "QVJnnnnn.JNL" in the Windows folder (the temporary folder
// when the Windows folder cannot be written), so that a later run finds it
// without knowing the application folder. The run that writes it keeps it
// open for writing and shares it for reading only: a run that can open it
// for writing knows that its owner is no longer running, and holds it
// without sharing while it takes it back, so that no two runs do.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "undo/journal.h"

class TInstallJournal {
 public:
  TInstallJournal() = default;
  ~TInstallJournal();  // closes it; only End removes it
  TInstallJournal(const TInstallJournal&) = delete;
  TInstallJournal& operator=(const TInstallJournal&) = delete;

  // Creates the journal and writes its header. False when no folder takes
  // it: the installation then runs without one.
  bool Open(const std::string& app_name, const std::string& app_dir);
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& FileName() const { return name_; }

  // The change-log record that the change about to be made will append.
  // When the change-log record that follows differs from it (the change
  // failed and was skipped), the journal says it was withdrawn.
  void Intend(uint8_t kind, const std::vector<std::string>& strings, uint32_t param);
  // Every record the change log takes (TUndoChanges::OnAppend); one equal
  // to the intended record only confirms it.
  void Appended(const UndoRecord& record);

  // The changes that are not in the change log, each written before it is
  // made: a file under a fresh name, a file about to be put where none was,
  // an existing file about to be moved aside (or its attributes changed),
  // a replacement scheduled for the restart, a shared-file count about to
  // be raised (its value now is kept).
  // CreateFile(CREATE_NEW) of path for writing, the name written into the
  // journal before the call and withdrawn right after it when it was taken.
  // A run killed between the two leaves a name whose file, if it is still
  // empty, is taken to be the run's. INVALID_HANDLE_VALUE on failure, with
  // GetLastError the creation's code. The file made is noted as such by
  // NoteTempFile or NoteNewFile.
  void* CreateNew(const std::string& path);  // HANDLE
  void NoteTempFile(const std::string& path);
  void NoteNewFile(const std::string& path);
  void NoteSafetyCopy(const std::string& dest, const std::string& aside, uint32_t attributes);
  void NoteAttributes(const std::string& dest, uint32_t attributes);
  void NoteRestartReplace(const std::string& temporary, const std::string& dest);
  void NoteSharedCount(const std::string& path);

  // A check point: what was written goes to the disk when kFlushInterval
  // has passed since it last went (the system's cache already keeps it
  // from a killed process; the disk keeps it from a power failure). The
  // notes that precede moving or changing an existing file, or raising a
  // shared count, go to the disk at once: a failure of power may leave a
  // new file or entry of the last moments behind, never a user's file
  // under a safety copy's name that nobody knows.
  void Flush();
  static constexpr uint32_t kFlushInterval = 500;  // ms
  // The uninstall log is written: a later run finishes this one instead of
  // taking it back.
  void Committed();
  // The run is over (committed and tidied, or rolled back): the journal
  // goes.
  void End();

 private:
  void Write(const TJournalRecord& record);
  void WithdrawPending();
  void FlushNow();

  void* file_ = nullptr;  // HANDLE; null when closed
  std::string name_;
  std::string pending_;  // the frame of the intended record not yet confirmed
  bool dirty_ = false;
  uint32_t flushed_at_ = 0;  // GetTickCount of the last flush
};

// The folders a journal may be in, the Windows folder first (WinDir, or
// the system's when it is not set yet), then the temporary folder.
std::vector<std::string> JournalFolders();

// Recovery (install/journalrecovery.cpp, the half that Uninstal.exe links).
// The text of the one box that tells about an interrupted installation.
std::string InterruptedInstallationText(const std::string& app_name);

// Takes back every journal in the Windows and temporary folders whose run
// is no longer running and that which accepts (all when empty): one box
// (caption "Setup") per journal, then its change-log records replayed
// newest first, then its notes newest first (temporary and new files
// deleted, restart replacements cancelled, shared counts and safety copies
// put back). A journal whose uninstall log was written is only finished
// (its safety copies deleted), without a box. Returns the number of
// journals taken back or finished. WinDir must be set.
int RecoverInterruptedInstallations(const std::function<bool(const TJournalHeader&)>& which = nullptr);
