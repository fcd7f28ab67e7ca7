// The last step of startup: the Windows, system and Program Files
// directories and the administrator flag.
#pragma once
#include <string>

// Fills WinDir, SystemDir, ProgramFilesDir and IsAdmin from Windows.
void GatherSystemFacts();

// The same with the Windows and system directories given: SystemDir falls
// back to win_dir when sys_dir lies outside win_dir and no file can be
// created in it.
void GatherSystemFactsFrom(const std::string& win_dir, const std::string& sys_dir);

// True when a fresh temporary file can be created and deleted in dir.
bool DirectoryWritable(const std::string& dir);
