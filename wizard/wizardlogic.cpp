#include "wizard/wizardlogic.h"

#include <cstring>

#include "common/pathutil.h"
#include "common/strutil.h"

const TWizardPageInfo kWizardPages[kWizardPageCount] = {
    {"Welcome", 0, 0, "Welcome!"},
    {"Software License Agreement", 1, -1, nullptr},
    {"Information", 2, -1, "Readme Information"},
    {"Choose Destination Location", 0, 1, "Installation Folder"},
    {"Select Program Folder", 0, 2, "Select Program Folder"},
    {"Start Copying Files", 0, 4, "Ready To Install"},
    {"Information", 3, -1, "Program Information"},
    {"Setup Complete", 0, 3, "Installation Completed!"},
};

bool PageSkipped(int page, const TWizardTexts& texts) {
  return (page == wpLicense && !texts.License) || (page == wpInfoBefore && !texts.InfoBefore);
}

int PageAfter(int page, const TWizardTexts& texts) {
  int p = page + 1;
  while (p < kWizardPageCount - 1 && PageSkipped(p, texts)) ++p;
  return p;
}

int PageBefore(int page, const TWizardTexts& texts) {
  if (page <= 0) return 0;
  int p = page - 1;
  while (p > 0 && PageSkipped(p, texts)) --p;
  return p;
}

bool NextEndsStep(int page) { return page == wpReady || page == wpFinished; }

const char* const SBackCaption = "< &Back";

TPageButtons PageButtons(int page, const TWizardTexts& texts) {
  TPageButtons b{true, "&Next >", "Cancel", true};
  switch (page) {
    case wpWelcome:
      b.BackEnabled = false;
      break;
    case wpLicense:
      b.NextCaption = "&Yes";
      b.CancelCaption = "&No";
      break;
    case wpInfoAfter:
      b.BackEnabled = false;
      b.CancelEnabled = false;
      break;
    case wpFinished:
      b.BackEnabled = texts.InfoAfter;
      b.NextCaption = "&Finish";
      b.CancelEnabled = false;
      break;
    default:
      break;
  }
  return b;
}

TFocusTarget PageFocus(int page, const TFocusState& s) {
  switch (page) {
    case wpLicense: return TFocusTarget::LicenseMemo;
    case wpInfoBefore: return TFocusTarget::InfoBeforeMemo;
    case wpSelectDir: return TFocusTarget::DirEdit;
    case wpSelectProgramGroup:
      return s.NoIconsTicked ? TFocusTarget::NoIconsCheck : TFocusTarget::GroupEdit;
    case wpInfoAfter: return TFocusTarget::InfoAfterMemo;
    case wpFinished:
      if (s.ReadmeShown) return TFocusTarget::ShowReadmeCheck;
      if (s.YesShown && s.YesSelected) return TFocusTarget::YesRadio;
      if (s.NoShown && s.NoSelected) return TFocusTarget::NoRadio;
      return TFocusTarget::NextButton;
    default: return TFocusTarget::None;
  }
}

// ---- destination folder and program group ----------------------------------

const char* const SUncPath =
    "Setup cannot install to a UNC pathname. If you are trying to install to a network, you "
    "will need to map a network drive.";
const char* const SFullPathRequired =
    "You must enter a full path with drive letter; for example:\r\nC:\\APP";
const char* const SBadDirChars =
    "The directory name cannot include any of the following characters after the "
    "colon:\r\n\r\n/ : * ? \" < > | ,";
const char* const SNoSuchDrive = "The drive you selected does not exist. Please select another.";
const char* const SDiskSpaceWarning =
    "Setup requires at least %d KB of free space to install, but the selected drive only has "
    "%d KB available.\r\n\r\nDo you want to continue anyway?";
const char* const SDiskSpaceCaption = "Not Enough Disk Space";
const char* const SDirDoesNotExist =
    "The Installation Folder '%s' does not exist. \r\n\r\nDo you wish Setup to create it for you?";
const char* const SDirDoesNotExistCaption = "Folder Does Not Exist";
const char* const SNoGroupName = "You must enter a group name.";
const char* const SBadGroupChars =
    "The group name cannot include any of the following characters:\r\n\r\n\\ / : * ? \" < > | ,";

namespace {
// The nine characters no directory or group name may hold.
const char kBadNameChars[] = "/:*?\"<>|,";

bool IsBadNameChar(char c) { return c != '\0' && std::strchr(kBadNameChars, c) != nullptr; }
}  // namespace

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool ValidateDestination(std::string& dir, uint32_t total_file_size, const TDestinationMachine& m) {
  dir = TrimBlanks(dir);
  if (m.WriteBack) m.WriteBack(dir);
  if (dir.find("\\\\") != std::string::npos) {
    m.Warn(SUncPath);
    return false;
  }
  if (dir.size() < 4 || dir[1] != ':' || dir[2] != '\\') {
    m.Warn(SFullPathRequired);
    return false;
  }
  for (size_t i = 3; i < dir.size(); ++i) {
    if (IsBadNameChar(dir[i])) {
      m.Warn(SBadDirChars);
      return false;
    }
  }
  const char letter = dir[0];
  const bool is_letter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  uint32_t free_bytes = 0;
  if (!is_letter || !m.DriveFreeSpace(letter, free_bytes)) {
    m.Warn(SNoSuchDrive);
    return false;
  }
  dir = StripTrailingBackslash(dir);
  if (m.WriteBack) m.WriteBack(dir);
  if (total_file_size > free_bytes) {
    const std::string q = Format(SDiskSpaceWarning, static_cast<int>(total_file_size / 1024),
                                 static_cast<int>(free_bytes / 1024));
    if (!m.Ask(q, SDiskSpaceCaption, true)) return false;
  }
  if (!m.FolderExists(dir)) {
    if (!m.Ask(Format(SDirDoesNotExist, dir.c_str()), SDirDoesNotExistCaption, false)) return false;
  }
  return true;
}

std::string CheckGroupName(std::string& group) {
  group = TrimBlanks(group);
  if (group.empty()) return SNoGroupName;
  for (char c : group)
    if (c == '\\' || IsBadNameChar(c)) return SBadGroupChars;
  return std::string();
}

// ---- texts built from the script ---------------------------------------------

const char* const SWelcomeText1 =
    "Welcome to the [name] setup program. This will install [name/ver] on your computer.\r\n\r\n";
const char* const SWelcomeText2 =
    "It is strongly recommended that you exit all Windows Programs before running this Setup "
    "Program.\r\n\r\nClick Cancel to quit Setup and then close any programs you have running. "
    "Click Next to continue with the Setup Program.";
const char* const SLicenseLabel1 =
    "Please read the following License Agreement. Use the scroll bar or press the Page Down key "
    "to view the rest of the agreement.";
const char* const SLicenseLabel2 =
    "Do you accept all the terms of this License Agreement? If you choose No, Setup will close. "
    "To install [name], you must accept this agreement.";
const char* const SDiskSpaceLabel = "The program requires at least [kb] KB of disk space.";
const char* const SBrowsePrompt = "Please choose the Installation Folder and click OK to continue.";
const char* const SRestartQuestion =
    "Setup has made changes to your computer and you are advised to restart your computer now. "
    "Would you like to do it now?";

std::string SetupNameLabel(const std::string& application_name) {
  return (application_name + " Setup").substr(0, 70);
}

std::string SelectFolderText(bool version4_shell) {
  return Format("Setup will install [name] in the following %s.",
                version4_shell ? "folder" : "directory");
}

std::string FinishedText(bool icons_needed) {
  std::string s = "Setup has finished installing [name] on your computer.";
  if (icons_needed) s += " You may now launch the program by clicking the program icons created.";
  return s;
}

std::string CommonControlsUpdateCommand(const std::string& dir) {
  return EnsureTrailingBackslash(dir) + "40Comupd.Exe /r:n /q:a";
}

std::string InitialDestination(const std::string& program_files_dir,
                               const std::string& default_dir) {
  return program_files_dir + default_dir;
}
