// The wizard's rules that need no operating system: the pages and the way
// Next and Back move between them, the buttons and the focus of each page,
// the validation of the destination folder and the program group with
// their messages, and the texts built from the script. Portable: no
// <windows.h>; the wizard window itself is wizard/wizardform.*.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

enum TWizardPage : uint8_t {
  wpWelcome = 0,
  wpLicense = 1,
  wpInfoBefore = 2,
  wpSelectDir = 3,
  wpSelectProgramGroup = 4,
  wpReady = 5,
  wpInfoAfter = 6,
  wpFinished = 7,
};
constexpr int kWizardPageCount = 8;

struct TWizardPageInfo {
  const char* Caption;    // the window caption while the page is shown
  int Notebook1Page;      // the outer container's page
  int Notebook2Page;      // the inner container's page; -1 leaves it as it is
  const char* Heading;    // the heading label, nullptr for none
};
extern const TWizardPageInfo kWizardPages[kWizardPageCount];

// Which of the script's optional texts exist.
struct TWizardTexts {
  bool License = false;
  bool InfoBefore = false;
  bool InfoAfter = false;
};

// Page 1 without a licence and page 2 without an information text are
// skipped in both directions; no other page is.
bool PageSkipped(int page, const TWizardTexts& texts);
// The page Next leads to from a page other than 5 and 7 (which end a step).
int PageAfter(int page, const TWizardTexts& texts);
// The page Back leads to; page 0 stays.
int PageBefore(int page, const TWizardTexts& texts);
// Next on page 5 (Ready) and page 7 (Finished) ends the wizard's step.
bool NextEndsStep(int page);

struct TPageButtons {
  bool BackEnabled;
  const char* NextCaption;
  const char* CancelCaption;
  bool CancelEnabled;
};
extern const char* const SBackCaption;
TPageButtons PageButtons(int page, const TWizardTexts& texts);

enum class TFocusTarget {
  None,
  LicenseMemo,
  InfoBeforeMemo,
  DirEdit,
  NoIconsCheck,
  GroupEdit,
  InfoAfterMemo,
  ShowReadmeCheck,
  YesRadio,
  NoRadio,
  NextButton,
};
// The state of the controls that choose the focus.
struct TFocusState {
  bool NoIconsTicked = false;
  bool ReadmeShown = false;
  bool YesShown = false, YesSelected = false;
  bool NoShown = false, NoSelected = false;
};
TFocusTarget PageFocus(int page, const TFocusState& state);

// ---- destination folder and program group ----------------------------------

// Trims characters up to and including the space from both ends.
std::string TrimBlanks(const std::string& s);

// The checks of the destination page that need the machine.
struct TDestinationMachine {
  // GetDriveFreeSpace: false when the drive does not answer; free bytes
  // (32-bit) otherwise.
  std::function<bool(char letter, uint32_t& free_bytes)> DriveFreeSpace;
  std::function<bool(const std::string& dir)> FolderExists;
  // A warning box (kind warning, default caption, OK).
  std::function<void(const std::string& text)> Warn;
  // A question box (kind question) with Yes and No; true for Yes.
  std::function<bool(const std::string& text, const std::string& caption, bool default_no)> Ask;
  // Writes the text back into the edit (after trimming, and after the
  // trailing backslash is gone); may be empty.
  std::function<void(const std::string& dir)> WriteBack;
};

// Validates the destination text as the destination page's Next does. dir
// is updated as the page writes it back (trimmed; without one trailing
// backslash once the path was accepted as a full path on an existing
// drive). True when the page may be left.
bool ValidateDestination(std::string& dir, uint32_t total_file_size, const TDestinationMachine& m);

// The group name check: dir trimmed in place; the warning text, or empty
// when the name is good.
std::string CheckGroupName(std::string& group);

extern const char* const SUncPath;
extern const char* const SFullPathRequired;
extern const char* const SBadDirChars;
extern const char* const SNoSuchDrive;
extern const char* const SDiskSpaceWarning;      // %d KB needed, %d KB free
extern const char* const SDiskSpaceCaption;
extern const char* const SDirDoesNotExist;       // %s the folder
extern const char* const SDirDoesNotExistCaption;
extern const char* const SNoGroupName;
extern const char* const SBadGroupChars;

// ---- texts built from the script ---------------------------------------------

// Label10: the application name followed by " Setup", at most 70 characters.
std::string SetupNameLabel(const std::string& application_name);
// SelectFolderLabel before the placeholders: "folder" on a version 4 shell,
// else "directory".
std::string SelectFolderText(bool version4_shell);
// FinishedLabel before the placeholders.
std::string FinishedText(bool icons_needed);
// The common-controls update command line run from the destination folder.
std::string CommonControlsUpdateCommand(const std::string& dir);
// The initial destination: ProgramFilesDir (with its backslash, or empty)
// followed by the default directory.
std::string InitialDestination(const std::string& program_files_dir,
                               const std::string& default_dir);

// Fixed texts of the pages.
extern const char* const SWelcomeText1;
extern const char* const SWelcomeText2;
extern const char* const SLicenseLabel1;
extern const char* const SLicenseLabel2;
extern const char* const SDiskSpaceLabel;
extern const char* const SBrowsePrompt;
// The restart question on the finished page (with placeholders).
extern const char* const SRestartQuestion;
