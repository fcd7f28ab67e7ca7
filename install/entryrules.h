// What the icon, INI and registry steps decide without the operating
// system: which log record an entry leaves behind, which texts can be
// written safely, and the texts of their questions. Portable: no
// <windows.h>.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One log record to append (AppendStrings' arguments).
struct TUndoAppend {
  uint8_t Kind = 0;
  std::vector<std::string> Strings;
  uint32_t Param = 0;
};

// The record an INI entry leaves after it was written: ukIniValue for
// ifUninstallDeleteEntry, else ukIniSection for ifUninstallDeleteSection,
// else none (false).
bool IniEntryUndo(uint8_t ini_flags, const std::string& file, const std::string& section,
                  const std::string& key, TUndoAppend& out);

// Value types 1 (string), 2 (DWORD) and 3 (binary) write a value; type 0
// and every unknown type only create the key.
bool RegistryTypeWritesValue(uint8_t value_type);

// The record a registry entry leaves after it was written: with
// rfUninstallDeleteValue, ukRegValue when it wrote a value and
// ukRegKeyIfEmpty when it only made the key; else ukRegKeyTree for
// rfUninstallDeleteKey; else none (false). The root key is the parameter.
bool RegistryEntryUndo(uint8_t reg_flags, uint8_t value_type, uint32_t root_key,
                       const std::string& sub_key, const std::string& value_name,
                       TUndoAppend& out);

// A root key value the script may name: HKEY_CLASSES_ROOT (0x80000000) to
// HKEY_DYN_DATA (0x80000006).
bool IsPredefinedRootKey(uint32_t root_key);

// True when the subkey names a key below its root: not empty and not only
// backslashes (those would open the root itself).
bool SubKeyNamesKeyBelowRoot(const std::string& sub_key);

// The keys above sub_key on the way down from its root, outermost first:
// "Software\Vendor\App" gives "Software" and "Software\Vendor". Each is
// the text before a backslash that ends a name; sub_key's own key (its
// last name, trailing backslashes aside) is not among them.
std::vector<std::string> RegistryKeysOnTheWay(const std::string& sub_key);

// True when section, key and value can be written as one line under one
// section header and read back as written: no line breaks or NULs in any
// of them, a section without ']', and a key that is not empty, holds no
// '=' and does not start with '[' or ';' (a section header or a comment).
bool IniEntryWritable(const std::string& section, const std::string& key,
                      const std::string& value);

// The Abort/Retry/Ignore question of a failing INI entry.
std::string IniEntryErrorQuestion(const std::string& file);

// The registry step's failures and their question: the message, then
// ".\r\n\r\n" and the Retry/Ignore/Abort sentence.
extern const char* const SErrorCreatingRegKey;   // one %s: the subkey
extern const char* const SErrorWritingRegKey;    // one %s: the subkey
std::string RegistryEntryErrorQuestion(const std::string& message);

// The program icon step's failure to make a link or item (the group
// folder's is SCreateFolderFailedFmt).
extern const char* const SUnableToCreateIcon;    // one %s: the link file or item name

// The link file of an item: group folder, a backslash, item name, ".lnk".
std::string ShellLinkFileName(const std::string& group_folder, const std::string& item_name);

// True when Program Manager's commands can carry the texts as they are:
// the group and item names, written between double quotes, hold no double
// quote, the other (unquoted) fields no ']' (which ends a command there),
// and no text holds a line break.
bool ProgmanItemTextsSafe(const std::string& group, const std::string& item,
                          const std::vector<std::string>& other_fields);
