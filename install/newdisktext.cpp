#include "install/newdisktext.h"

#include "common/pathutil.h"
#include "common/strutil.h"

const char* const kNextDiskBrowsePrompt = "Please specify the location of the Next Disk and click OK to continue.";

std::string DirectoryWord(bool version4_shell) { return version4_shell ? "folder" : "directory"; }

std::string NewDiskPromptText(int disk, const std::string& dir_word) {
  return Format(
      "Please insert Disk %d and click OK.\r\n\r\nIf the files on this disk can be found in a %s other than the one "
      "displayed below, enter the correct path or click Browse.",
      disk, dir_word.c_str());
}

std::string NewDiskNotFoundText(const std::string& file_name, const std::string& dir,
                                const std::string& dir_word) {
  return Format("The file \"%s\" could not be located in \"%s\". Please insert the correct disk or select another %s.",
                file_name.c_str(), StripTrailingBackslashExceptRoot(dir).c_str(), dir_word.c_str());
}

std::string NewDiskCandidate(const std::string& path_text, const std::string& file_name) {
  return EnsureTrailingBackslash(Trim(path_text)) + file_name;
}
