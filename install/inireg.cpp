// The INI and registry steps: each entry of the script, in list order,
// expanded, written and recorded for removal as its flags say. A failing
// entry asks Abort, Retry or Ignore for that entry alone.
#include "install/inireg.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/msgbox.h"
#include "common/strutil.h"
#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "install/entryrules.h"
#include "run/dirconst.h"
#include "run/globals.h"
#include "undo/undolog.h"

namespace {

constexpr uint32_t kStepProgress = 1000;

void Append(TUndoChanges& log, const TUndoAppend& rec) {
  log.AppendStrings(rec.Kind, rec.Strings, rec.Param);
}

// Abort raises the silent abort; otherwise true for Retry, false for Ignore.
bool AskRetry(const std::string& question) {
  int answer = ShowMessageBoxStr(question, "", mbkWarning, MB_ABORTRETRYIGNORE | MB_DEFBUTTON2);
  if (answer == IDABORT) throw EAbort();
  return answer == IDRETRY;
}

// Writes one registry entry; raises Exception with the user's text.
void WriteRegistryEntry(const SetupRegistryEntry& e, const std::string& sub_key,
                        const std::string& value_name) {
  const uint32_t root = e.RootKey();
  // A key must be named below one of the predefined roots: an empty subkey
  // would write into the root itself.
  if (!IsPredefinedRootKey(root) || !SubKeyNamesKeyBelowRoot(sub_key))
    throw Exception(Format(SErrorCreatingRegKey, sub_key.c_str()));
  TRegKey key;
  if (RegCreateKeyExA(RootKeyFromParam(root), sub_key.c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    throw Exception(Format(SErrorCreatingRegKey, sub_key.c_str()));

  LONG res = ERROR_SUCCESS;
  switch (e.ValueType()) {
    case rtString: {
      std::string text = ExpandDirConstants(e.StringData());
      res = RegSetValueExA(key.get(), value_name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
      break;
    }
    case rtDWord:
      // The four stored bytes, little-endian as REG_DWORD is.
      res = RegSetValueExA(key.get(), value_name.c_str(), 0, REG_DWORD, e.Raw + 180, 4);
      break;
    case rtBinary:
      res = RegSetValueExA(key.get(), value_name.c_str(), 0, REG_BINARY, e.BinaryData(),
                           static_cast<DWORD>(e.BinaryLength()));
      break;
    default:
      break;  // the key only
  }
  if (res != ERROR_SUCCESS) throw Exception(Format(SErrorWritingRegKey, sub_key.c_str()));
}

bool RegKeyExists(HKEY root, const std::string& sub_key) {
  TRegKey key;
  return RegOpenKeyExA(root, sub_key.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

// The keys on the way to an entry's key that are not there yet, outermost
// first. MakeKeysOnTheWay makes them before the entry is written, each
// named in the journal before it is made and recorded once it is, so that
// the replay (or a killed run's recovery) removes them when nothing else is
// in them; the entry's own key goes as its flags say.
std::vector<std::string> MissingKeysOnTheWay(uint32_t root, const std::string& sub_key) {
  std::vector<std::string> missing;
  if (!IsPredefinedRootKey(root)) return missing;
  const std::vector<std::string> levels = RegistryKeysOnTheWay(sub_key);
  size_t first_missing = levels.size();
  while (first_missing > 0 && !RegKeyExists(RootKeyFromParam(root), levels[first_missing - 1])) --first_missing;
  missing.assign(levels.begin() + static_cast<std::ptrdiff_t>(first_missing), levels.end());
  return missing;
}

// A level that cannot be made is left to the entry's own write, which
// then fails with its error.
void MakeKeysOnTheWay(TInstallContext& ctx, uint32_t root, const std::vector<std::string>& missing) {
  for (const std::string& k : missing) {
    ctx.Journal.Intend(ukRegKeyIfEmpty, {k}, root);
    TRegKey made;
    if (RegCreateKeyExA(RootKeyFromParam(root), k.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, made.put(),
                        nullptr) != ERROR_SUCCESS)
      return;
    ctx.Log.AppendStrings(ukRegKeyIfEmpty, {k}, root);
  }
}

}  // namespace

void CreateIniEntries(TInstallContext& ctx) {
  for (const SetupIniEntry& e : Script.IniEntries) {
    const std::string section = ExpandDirConstants(e.Section());
    const std::string key = ExpandDirConstants(e.Key());
    const std::string value = ExpandDirConstants(e.Value());
    const std::string file = ExpandDirConstants(e.IniFileName());
    bool written = false;
    TUndoAppend rec;
    const bool recorded = IniEntryUndo(e.IniFlags(), file, section, key, rec);
    if (recorded) ctx.Journal.Intend(rec.Kind, rec.Strings, rec.Param);
    for (;;) {
      // Texts that would not read back as written (a key holding '=', a
      // line break, ...) are refused like a failed write.
      written = IniEntryWritable(section, key, value) && WriteIniValue(section, key, value, file);
      if (written || !AskRetry(IniEntryErrorQuestion(file))) break;
    }
    if (written && recorded) Append(ctx.Log, rec);
    ctx.Progress.CheckCancel();
  }
  ctx.Progress.AddProgress(kStepProgress);
}

void CreateRegistryEntries(TInstallContext& ctx) {
  for (const SetupRegistryEntry& e : Script.RegistryEntries) {
    for (;;) {
      std::string question;
      try {
        const std::string sub_key = ExpandDirConstants(e.SubKey());
        const std::string value_name = ExpandDirConstants(e.ValueName());
        const std::vector<std::string> missing = MissingKeysOnTheWay(e.RootKey(), sub_key);
        TUndoAppend rec;
        const bool recorded =
            RegistryEntryUndo(e.RegFlags(), e.ValueType(), e.RootKey(), sub_key, value_name, rec);
        MakeKeysOnTheWay(ctx, e.RootKey(), missing);
        if (recorded) ctx.Journal.Intend(rec.Kind, rec.Strings, rec.Param);
        WriteRegistryEntry(e, sub_key, value_name);
        if (recorded) Append(ctx.Log, rec);
        break;
      } catch (const EAbort&) {
        throw;
      } catch (const Exception& err) {
        question = RegistryEntryErrorQuestion(err.Message());
      }
      if (!AskRetry(question)) break;
    }
  }
  ctx.Progress.AddProgress(kStepProgress);
}
