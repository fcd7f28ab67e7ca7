#include "install/entryrules.h"

#include "setupdata/records.h"
#include "undo/undolog.h"

namespace {
const char* const kRetryIgnoreAbort =
    "Click Retry to try again, Ignore to skip this entry, or Abort to cancel installation.";

bool HasLineBreakOrNul(const std::string& s) {
  return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}
}  // namespace

const char* const SErrorCreatingRegKey = "Error creating registry key: %s";
const char* const SErrorWritingRegKey = "Error writing to registry key: %s";
const char* const SUnableToCreateIcon = "Setup was unable to create the Program icon - %s";

bool IniEntryUndo(uint8_t ini_flags, const std::string& file, const std::string& section,
                  const std::string& key, TUndoAppend& out) {
  if (ini_flags & ifUninstallDeleteEntry) {
    out = {ukIniValue, {file, section, key}, 0};
    return true;
  }
  if (ini_flags & ifUninstallDeleteSection) {
    out = {ukIniSection, {file, section}, 0};
    return true;
  }
  return false;
}

bool RegistryTypeWritesValue(uint8_t value_type) {
  return value_type == rtString || value_type == rtDWord || value_type == rtBinary;
}

bool RegistryEntryUndo(uint8_t reg_flags, uint8_t value_type, uint32_t root_key,
                       const std::string& sub_key, const std::string& value_name,
                       TUndoAppend& out) {
  if (reg_flags & rfUninstallDeleteValue) {
    // An entry that wrote no value (type 0, or a type that writes nothing)
    // takes back only the key, and only when nothing else was put into it.
    if (RegistryTypeWritesValue(value_type))
      out = {ukRegValue, {sub_key, value_name}, root_key};
    else
      out = {ukRegKeyIfEmpty, {sub_key}, root_key};
    return true;
  }
  if (reg_flags & rfUninstallDeleteKey) {
    out = {ukRegKeyTree, {sub_key}, root_key};
    return true;
  }
  return false;
}

bool IsPredefinedRootKey(uint32_t root_key) {
  return root_key >= 0x80000000u && root_key <= 0x80000006u;
}

bool SubKeyNamesKeyBelowRoot(const std::string& sub_key) {
  return sub_key.find_first_not_of('\\') != std::string::npos;
}

std::vector<std::string> RegistryKeysOnTheWay(const std::string& sub_key) {
  std::vector<std::string> keys;
  const size_t last = sub_key.find_last_not_of('\\');
  if (last == std::string::npos) return keys;
  for (size_t i = 1; i < last; ++i)
    if (sub_key[i] == '\\' && sub_key[i - 1] != '\\') keys.push_back(sub_key.substr(0, i));
  return keys;
}

bool IniEntryWritable(const std::string& section, const std::string& key,
                      const std::string& value) {
  if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value))
    return false;
  if (section.find(']') != std::string::npos) return false;
  if (key.empty() || key.find('=') != std::string::npos) return false;
  return key[0] != '[' && key[0] != ';';
}

std::string IniEntryErrorQuestion(const std::string& file) {
  return "Error creating INI entry in file " + file + "\r\n\r\n" + kRetryIgnoreAbort;
}

std::string RegistryEntryErrorQuestion(const std::string& message) {
  return message + ".\r\n\r\n" + kRetryIgnoreAbort;
}

std::string ShellLinkFileName(const std::string& group_folder, const std::string& item_name) {
  return group_folder + "\\" + item_name + ".lnk";
}

bool ProgmanItemTextsSafe(const std::string& group, const std::string& item,
                          const std::vector<std::string>& other_fields) {
  // Inside its double quotes a name may hold anything but a double quote
  // and a line break ("]" there does not end the command); the unquoted
  // fields end at "]".
  auto quotable = [](const std::string& s) {
    return s.find('"') == std::string::npos && !HasLineBreakOrNul(s);
  };
  if (!quotable(group) || !quotable(item)) return false;
  for (const std::string& f : other_fields)
    if (f.find(']') != std::string::npos || HasLineBreakOrNul(f)) return false;
  return true;
}
