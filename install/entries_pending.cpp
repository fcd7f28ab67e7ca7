// Placeholders for the icon, INI and registry steps until they are built:
// an installation that needs one of them fails with a clear message.
#include "common/exceptions.h"
#include "install/steps.h"

void CreateProgramIcons(TInstallContext&) { throw Exception("The program icons step is not built yet"); }
void CreateIniEntries(TInstallContext&) { throw Exception("The INI entries step is not built yet"); }
void CreateRegistryEntries(TInstallContext&) {
  throw Exception("The registry entries step is not built yet");
}
