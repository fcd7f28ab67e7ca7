// The directories step: {app} and every directory entry of the script,
// created with their missing parents and recorded for removal.
#pragma once
#include <string>

#include "install/installcontext.h"

void CreateDirectories(TInstallContext& ctx);

// Creates path and any missing parents; a drive ("C:") is never created.
// Raises "Setup was unable to create the Folder - %s".
void CreateDirectoryTree(const std::string& path);
