// The directories step: {app} and every directory entry of the script,
// created with their missing parents and recorded for removal, each parent
// made on the way as well.
#pragma once
#include <functional>
#include <string>

#include "install/installcontext.h"

void CreateDirectories(TInstallContext& ctx);

// Creates path and any missing parents; a drive ("C:") is never created.
// created, when given, hears of each folder made (outermost first, without
// a trailing backslash) as soon as it exists. Raises "Setup was unable to
// create the Folder - %s".
void CreateDirectoryTree(const std::string& path,
                         const std::function<void(const std::string&)>& created = nullptr);
