// The decisions and texts of the file-copying step that need no operating
// system: the version and time verdict on an existing file, shared-file
// counts, the WININIT.INI rename section, the uninstall file names, and the
// exact question and error texts. Portable: no <windows.h>.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Error contexts: the sentence naming the sub-step that failed.
extern const char* const SCtxReadExisting;
extern const char* const SCtxChangeAttributes;
extern const char* const SCtxCreateTemp;
extern const char* const SCtxReadSource;
extern const char* const SCtxCopy;
extern const char* const SCtxDeleteExisting;
extern const char* const SCtxRestartReplace;
extern const char* const SCtxRename;

// Questions.
extern const char* const SExistingNewerQuestion;
extern const char* const SOverwriteQuestionFmt;  // one %s: the destination
extern const char* const SReadOnlyQuestion;

// Failures raised by the steps.
extern const char* const SSourceCorrupted;
extern const char* const SCreateFolderFailedFmt;   // %s: the folder
extern const char* const SRegOpenFailedFmt;        // %s: the key path
extern const char* const SRegCreateFailedFmt;      // %s: the key path
extern const char* const SRegWriteFailedFmt;       // %s: the key path
extern const char* const SMoveFileExFailedFmt;     // %d: the system error code

// Status texts of the driver.
extern const char* const SStatusCreatingFolders;
extern const char* const SStatusCopying;
extern const char* const SStatusIcons;
extern const char* const SStatusIni;
extern const char* const SStatusRegistry;
extern const char* const SStatusUninstall;

// The text of the per-file Abort/Retry/Ignore question: the context and a
// blank line when there is one, the error text, then the advice.
std::string FileErrorQuestionText(const std::string& context, const std::string& error);

// Self-registration progress: what had succeeded when it stopped.
enum TRegisterStatus { rsNotLoaded = 0, rsLoaded = 1, rsExportFound = 2, rsRegistered = 3 };
// The Abort/Retry/Ignore text for a registration that stopped at status
// (below rsRegistered) with the DLL's result code.
std::string RegisterServerQuestionText(const std::string& path, TRegisterStatus status,
                                       int32_t result);

// How an existing file's last-write time compares with the entry's time.
enum class TTimeOrder { Unavailable, Equal, ExistingLater, ExistingEarlier };

enum class TExistingVerdict {
  GoOn,           // install over it (subject to the later questions)
  Keep,           // same version and time: keep silently
  ExistingNewer,  // ask the newer-file question (or keep, copy mode 3)
};

// The version check on an existing file whose version was found. Versions
// compare as unsigned (MS, LS) pairs; on equal versions the existing file's
// time decides, asked through existing_time only then.
TExistingVerdict CompareWithExisting(uint32_t entry_ms, uint32_t entry_ls, uint32_t existing_ms,
                                     uint32_t existing_ls,
                                     const std::function<TTimeOrder()>& existing_time);

// The SharedDLLs count after one more user: a negative count counts as 0,
// a file that already existed counts as one user when it has no count.
uint32_t NextSharedCount(int64_t count, bool existed);

// True when the file name part of path, lower-cased, contains
// "40comupd.exe".
bool IsCommonControlsUpdate(const std::string& path);

// WININIT.INI with one more line "destination=temporary" in its [rename]
// section. old_lines is the existing file as lines (null when there is
// none); the line goes last into the existing rename section, or into a new
// section at the end.
std::vector<std::string> AddWininitRename(const std::vector<std::string>* old_lines,
                                          const std::string& entry);

// WININIT.INI without the lines of its rename sections that rename source
// (the text right of the first '='; letter case and blanks around it do not
// count): a replacement that no longer waits for the restart.
std::vector<std::string> RemoveWininitRenames(const std::vector<std::string>& lines, const std::string& source);

// The uninstall file template for number n (0..999): app_dir with a
// trailing backslash, "UNINST%s." and the number in three digits.
std::string UninstallFileTemplate(const std::string& app_dir, int n);
// The template with its %s replaced by the one character c ('?', '0', '1').
std::string UninstallFileName(const std::string& file_template, char c);
// "%s_qv%d" of the application's version name and n.
std::string UninstallKeyName(const std::string& app_version_name, int n);
// The uninstaller's command line: Uninstal.exe in the Windows directory,
// /U, the uninstall data file and the log file, all quoted.
std::string UninstallCommandLine(const std::string& win_dir, const std::string& file_template);

extern const char* const SUninstallKeyPath;  // ...\CurrentVersion\Uninstall
