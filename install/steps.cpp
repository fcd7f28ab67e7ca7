// The installation driver's sequence.
#include "install/steps.h"

#include "install/directories.h"
#include "install/filerules.h"
#include "install/icons.h"
#include "install/inireg.h"
#include "install/installfiles.h"
#include "install/uninstreg.h"
#include "run/globals.h"
#include "undo/undolog.h"

void RunInstallationSteps(TInstallContext& ctx) {
  TInstallProgress& p = ctx.Progress;
  const SetupHeader& h = Script.Header;
  const bool uninstallable = (h.Flags() & hfUninstallable) != 0;

  ctx.Transaction.StartJournal(h.ApplicationName(), AppDir);
  p.SetStatusText(SStatusCreatingFolders);
  CreateDirectories(ctx);
  if (uninstallable) {
    ReserveUninstallFiles(ctx);
    RegisterUninstaller(ctx);
  }

  p.SetStatusText(SStatusCopying);
  InstallFiles(ctx);
  p.SetFileNameText("");
  p.CheckCancel();

  if (!ctx.NoIconsChecked && IconsNeeded) {
    p.SetStatusText(SStatusIcons);
    CreateProgramIcons(ctx);
  }
  p.CheckCancel();
  if (h.IniEntryCount() != 0) {
    p.SetStatusText(SStatusIni);
    CreateIniEntries(ctx);
  }
  p.CheckCancel();
  if (h.RegistryEntryCount() != 0) {
    p.SetStatusText(SStatusRegistry);
    CreateRegistryEntries(ctx);
  }
  p.CheckCancel();
  RecordUninstallDeletes(ctx);
  p.CheckCancel();

  std::string log_file;
  if (uninstallable) {
    p.SetStatusText(SStatusUninstall);
    log_file = UninstallFileName(ctx.UninstallFileTemplate, '1');
  }
  ctx.Transaction.Commit(log_file);
}
