// The program icon step: the program group and its items (shell links or
// Program Manager).
#pragma once
#include "install/installcontext.h"

void CreateProgramIcons(TInstallContext& ctx);
