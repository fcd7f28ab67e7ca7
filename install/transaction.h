// The installation's transaction: the change log that every step appends
// to and the safety copies of the existing files that the file step
// replaced, with the two ways it ends, side by side. Commit keeps every
// change (writes the uninstall log, deletes the safety copies); Rollback
// takes every change back (replays the log newest first, then puts the
// safety copies back). The install window owns one for the run and only
// shows progress and errors.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "install/journalfile.h"
#include "undo/undolog.h"

// An existing file that the file step replaced, or whose attributes it
// changed. The old file is kept under SafetyCopy, a temporary name in its
// own folder (same volume: putting it back is a rename), until the
// installation ends: a rollback puts it back, a success deletes it.
// Attributes: the file's attributes before the installation, or
// kAttributesUnchanged. None of this goes into the uninstall log.
struct TReplacedFile {
  static constexpr uint32_t kAttributesUnchanged = 0xFFFFFFFFu;
  std::string Dest;
  std::string SafetyCopy;  // empty: only the attributes changed
  uint32_t Attributes = kAttributesUnchanged;
  // False when the new file could not take dest's place and the old one
  // could not go back either: the safety copy is then the only copy of the
  // original, which a commit puts back or leaves, never deletes.
  bool Replaced = true;
};

class TInstallTransaction {
 public:
  // The change log; its AppName and AdminFlag are set by the owner.
  TUndoChanges& Log() { return log_; }

  // The journal on disk of every change (install/journalfile). Started by
  // the driver before the first change; from then on every record of the
  // log goes into it too, Commit and Rollback end it.
  void StartJournal(const std::string& app_name, const std::string& app_dir);
  TInstallJournal& Journal() { return journal_; }

  // The file step's safety copies. MoveAside renames the existing file dest
  // to a fresh temporary name in its folder and keeps it as dest's safety
  // copy (attributes: dest's before the installation); it returns that
  // name, or an empty string, with GetLastError's code, when the file
  // cannot be moved. PutBackLast renames the newest safety copy back over
  // its file at once (its new file could not take its place) and forgets
  // it; false when that rename fails (the copy is then kept as the
  // original, see TReplacedFile::Replaced). RecordAttributes notes dest's
  // attributes before the file step changes them.
  std::string MoveAside(const std::string& dest, uint32_t attributes);
  bool PutBackLast();
  void RecordAttributes(const std::string& dest, uint32_t attributes);

  // The files of this run. NoteCreated: this run created file (the reserved
  // uninstall data file, a destination that did not exist); its log record
  // takes it back. IsOwnFile: file is one of those, or its original has a
  // safety copy already. Such a file is nobody's original: the file step
  // overwrites it without a safety copy, which would otherwise be put back
  // by a rollback (and keep its folder from going). Paths are compared in
  // full, ignoring letter case.
  void NoteCreated(const std::string& file);
  bool IsOwnFile(const std::string& file) const;

  // The end of a successful installation: writes the uninstall log into
  // log_file (none when it is empty), then deletes the safety copies (one
  // that cannot be deleted goes at the next restart) and discards the log.
  // Raises EInOutError when the log cannot be written, before anything is
  // deleted, so that the rollback can still take everything back.
  void Commit(const std::string& log_file);

  // The end of a failed or cancelled installation: replays the log newest
  // first, then puts every replaced file back from its safety copy (renamed
  // over the destination) and its attributes, newest first. A file that
  // cannot be put back is shown in the replay's style (caption "Uninstall",
  // the message and ".") and the rest go on; its safety copy stays.
  void Rollback();

 private:
  TUndoChanges log_;
  TInstallJournal journal_;
  std::vector<TReplacedFile> replaced_;
  std::set<std::string> own_;  // PathKey of each own file
};
