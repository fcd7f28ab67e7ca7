// What Uninstal.exe decides without the operating system: its command line,
// the folders it tidies after the replay, and the texts it shows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "undo/undolog.h"

// The command line the installation registers as UninstallString:
//   "<WinDir>\Uninstal.exe" /U "<app>\UNINST0.nnn" "<app>\UNINST1.nnn"
struct TUninstallCommand {
  std::string DataFile;  // <app>\UNINST0.nnn
  std::string LogFile;   // <app>\UNINST1.nnn
  std::string AppDir;    // <app>, without a trailing backslash (C:\ for a root)
};

// Parses the whole command line (GetCommandLineA: the program, then the
// arguments). True only for exactly the registered form: the program
// (quoted or not), "/U" (any case), two quoted absolute paths of the same
// folder named UNINST0.nnn and UNINST1.nnn with the same number, single
// blanks between; nothing after.
bool ParseUninstallCommandLine(const std::string& cmdline, TUninstallCommand& out);

// The folders below appDir that lie on the way to a recorded file or folder
// (folders the installation created on the way are not in the log), deepest
// first, each once; the caller removes those that are empty, then appDir
// itself. Paths outside appDir give nothing.
std::vector<std::string> FoldersOnTheWay(const TUndoChanges& log, const std::string& appDir);

// Whether the folders made on the way may go from below appDir, and appDir
// itself when empty: only from an application folder of its own, never from
// a drive root, a share's root, the Windows or the system folder (where an
// empty folder may well be the system's). Letter case and trailing
// backslashes do not count.
bool IsOwnApplicationFolder(const std::string& appDir, const std::string& windowsDir,
                            const std::string& systemDir);

// The record of the application's own entry in the list of installed
// programs: a key tree below HKEY_LOCAL_MACHINE's
// "Software\Microsoft\Windows\CurrentVersion\Uninstall". It goes last, and
// only when nothing else stays: while something does, the entry lets the
// user start the removal again.
bool IsUninstallRegistration(uint8_t kind, uint32_t param, const std::string& subkey);

// What a removal left, for the last message.
struct TRemovalOutcome {
  std::vector<std::string> AtRestart;          // files and folders deleted when Windows restarts
  std::vector<std::string> EmptyAfterRestart;  // folders that only the restart empties (the
                                               // Windows 95 family deletes no folder then)
  std::vector<std::string> NotRemoved;         // still named in the log: the next removal tries again
  std::vector<std::string> Stay;               // folders holding files not installed with it
  std::string LogError;                        // the log could not be written again
  bool Complete() const {
    return AtRestart.empty() && EmptyAfterRestart.empty() && NotRemoved.empty() && Stay.empty() &&
           LogError.empty();
  }
};

// The name the texts give the application: the log's, or, for a script
// that left it without one, the name of its folder (the folder itself for
// a drive's root).
std::string AppNameForTexts(const std::string& logName, const std::string& appDir);

// The texts (caption "Uninstall" for all of them).
extern const char* const kUninstallCaption;
std::string BadCommandLineText();
std::string LogMissingText(const std::string& logFile);
std::string LogUnreadableText(const std::string& logFile, const std::string& error);
std::string LogInUseText(const std::string& logFile);
std::string LogDamagedText(const std::string& logFile, const EUndoLogError& e);
std::string NotAdministratorText(const std::string& appName);
std::string ConfirmText(const std::string& appName);
std::string RemovingText(const std::string& appName);
// The last message: removed, and what waits for the restart, what the next
// removal has to try again, what stays.
std::string OutcomeText(const std::string& appName, const TRemovalOutcome& outcome);
