// The INI and registry steps: the script's INI and registry entries.
#pragma once
#include "install/installcontext.h"

void CreateIniEntries(TInstallContext& ctx);
void CreateRegistryEntries(TInstallContext& ctx);
