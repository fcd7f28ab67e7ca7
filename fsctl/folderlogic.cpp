#include "fsctl/folderlogic.h"

#include <algorithm>

namespace {

std::string AsciiLower(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string AsciiUpper(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

bool NoLeadBytes(unsigned char) { return false; }

// Positions of the backslashes of s, trail bytes skipped.
std::vector<size_t> BackslashPositions(const std::string& s, TIsLeadByte is_lead) {
  if (!is_lead) is_lead = NoLeadBytes;
  std::vector<size_t> pos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\')
      pos.push_back(i);
    else if (is_lead(static_cast<unsigned char>(s[i])))
      ++i;
  }
  return pos;
}

}  // namespace

const TTextCaseRules& AsciiCaseRules() {
  static const TTextCaseRules rules{AsciiLower, AsciiUpper};
  return rules;
}

int AsciiCompareText(const std::string& a, const std::string& b) { return AsciiLower(a).compare(AsciiLower(b)); }

TDriveKind DriveKindFromType(unsigned drive_type) {
  switch (drive_type) {
    case 2: return dkFloppy;   // DRIVE_REMOVABLE
    case 4: return dkNetwork;  // DRIVE_REMOTE
    case 5: return dkCDROM;    // DRIVE_CDROM
    case 6: return dkRAM;      // DRIVE_RAMDISK
    default: return dkHard;    // fixed, unknown, no root directory
  }
}

std::string DriveLabelCase(char letter, const std::string& label, const TTextCaseRules& rules) {
  return static_cast<unsigned char>(letter) > 96 ? rules.Lower(label) : rules.Upper(label);
}

std::string DriveItemText(char letter, TDriveKind kind, const std::string& label) {
  std::string text(1, letter);
  text += ':';
  if (kind != dkFloppy) text += ' ' + label;
  return text;
}

std::string ExtractFileDrive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // Up to (not including) the backslash after the share name.
    size_t slashes = 0;
    size_t i = 2;
    for (; i < path.size(); ++i) {
      if (path[i] == '\\' && ++slashes == 2) break;
    }
    return path.substr(0, i);
  }
  return std::string();
}

std::vector<TFolderItem> BuildFolderItems(const std::string& current_dir, std::vector<std::string> subfolders,
                                          TNameCompare compare) {
  std::vector<TFolderItem> items;
  const std::string root = ExtractFileDrive(current_dir) + '\\';
  std::string rest;
  int counter = 0;
  if (root.size() >= 2 && root[1] == '\\') {
    rest = current_dir.size() > root.size() ? current_dir.substr(root.size()) : std::string();
    items.push_back({root, rest.empty() ? fkCurrent : fkAncestor});
    counter = 1;
  } else {
    rest = current_dir;
  }
  if (!rest.empty()) {
    if (rest.back() == '\\') {
      items.push_back({rest, fkCurrent});
    } else {
      size_t slash;
      while ((slash = rest.find('\\')) != std::string::npos) {
        std::string part = rest.substr(0, slash);
        if (counter == 0) part += '\\';
        items.push_back({part, fkAncestor});
        rest.erase(0, slash + 1);
        ++counter;
      }
      items.push_back({rest, fkCurrent});
    }
  }
  if (!compare) compare = AsciiCompareText;
  std::stable_sort(subfolders.begin(), subfolders.end(),
                   [compare](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
  for (auto& name : subfolders) items.push_back({std::move(name), fkSubfolder});
  return items;
}

int CurrentItemIndex(const std::vector<TFolderItem>& items) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].Kind == fkCurrent) return static_cast<int>(i);
  return -1;
}

int DirectoryDepth(const std::string& path, TIsLeadByte is_lead) {
  std::string p = path;
  if (p.empty() || p.back() != '\\') p += '\\';
  int depth = static_cast<int>(BackslashPositions(p, is_lead).size());
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') depth -= 3;
  return depth;
}

std::string FolderItemPath(const std::vector<TFolderItem>& items, int index, const std::string& current_dir,
                           TIsLeadByte is_lead) {
  if (index < 0 || static_cast<size_t>(index) >= items.size()) return std::string();
  const std::string drive = ExtractFileDrive(current_dir);
  if (index == 0) return drive + '\\';
  const TFolderItem& item = items[static_cast<size_t>(index)];
  switch (item.Kind) {
    case fkSubfolder:
      return current_dir + (!current_dir.empty() && current_dir.back() == '\\' ? "" : "\\") + item.Name;
    case fkCurrent:
      return current_dir;
    case fkAncestor:
    default: {
      std::string rest = current_dir.substr(drive.size());
      const std::vector<size_t> slashes = BackslashPositions(rest, is_lead);
      if (static_cast<size_t>(index) < slashes.size()) rest.erase(slashes[static_cast<size_t>(index)]);
      return drive + rest;
    }
  }
}

std::string FolderDisplayText(const std::string& name, bool keeps_case, bool case_sensitive,
                              const TTextCaseRules& rules) {
  if (name.empty()) return name;
  if (keeps_case && (name.back() == '\\' || rules.Upper(name) != name)) return name;
  return case_sensitive ? name : rules.Lower(name);
}

int FolderItemIndent(const std::vector<TFolderItem>& items, int index, const std::string& current_dir,
                     TIsLeadByte is_lead) {
  if (index >= 0 && static_cast<size_t>(index) < items.size() &&
      items[static_cast<size_t>(index)].Kind == fkSubfolder)
    return 4 + 4 * DirectoryDepth(current_dir, is_lead);
  return 4 + 4 * index;
}
