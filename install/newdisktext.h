// The texts and the path rule of the next-disk prompt, without the dialog:
// what it says, which file OK looks for, and what it says when the file is
// not there.
#pragma once
#include <string>

// "folder" on the Windows 95 / NT 4 shell, "directory" before it.
std::string DirectoryWord(bool version4_shell);

// The prompt above the path field.
std::string NewDiskPromptText(int disk, const std::string& dir_word);

// The warning when OK finds no disk data file: file_name is looked for in
// dir (shown without its trailing backslash unless it is a drive root).
std::string NewDiskNotFoundText(const std::string& file_name, const std::string& dir,
                                const std::string& dir_word);

// The path OK looks at, before it is made full: the field without blanks at
// either end, a trailing backslash, then the file name ("A:" gives
// "A:\SETUP.2").
std::string NewDiskCandidate(const std::string& path_text, const std::string& file_name);

// The folder chooser's prompt when it is opened from the next-disk prompt.
extern const char* const kNextDiskBrowsePrompt;
