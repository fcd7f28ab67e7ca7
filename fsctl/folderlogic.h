// The rules of the drive box and the folder list that need no operating
// system: the item texts of a drive, the tree of items shown for a folder,
// the path behind each item, the indent depth and the letter case of what
// is shown. The Win32 controls (fsctrls.h) feed them with what Windows says.
#pragma once
#include <string>
#include <vector>

// Letter case of the drive box's letters, labels and remote names.
enum TNewTextCase { tcLowerCase, tcUpperCase };

// Drive kinds: the item data of the drive box, and the image row.
enum TDriveKind { dkFloppy = 0, dkHard = 1, dkNetwork = 2, dkCDROM = 3, dkRAM = 4 };

// Folder kinds: the item data of the folder list, and the image row.
enum TFolderKind { fkSubfolder = 0, fkAncestor = 1, fkCurrent = 2 };

// Case conversions by the platform's rules for the ANSI code page (Win32:
// CharLowerBuff/CharUpperBuff); natively ASCII only.
struct TTextCaseRules {
  std::string (*Lower)(const std::string&);
  std::string (*Upper)(const std::string&);
};
const TTextCaseRules& AsciiCaseRules();

// True for the lead byte of a double-byte character (Win32: IsDBCSLeadByte).
using TIsLeadByte = bool (*)(unsigned char);

// A case-insensitive comparison of two folder names (<0, 0, >0); Win32 uses
// the locale's rules (lstrcmpi).
using TNameCompare = int (*)(const std::string&, const std::string&);
int AsciiCompareText(const std::string& a, const std::string& b);

// The drive kind for a GetDriveType answer: removable, remote, CD-ROM and RAM
// disk have their own kind, everything else is a hard disk.
TDriveKind DriveKindFromType(unsigned drive_type);

// A label or remote name in the case of its drive letter: lowercase after a
// lowercase letter, else uppercase.
std::string DriveLabelCase(char letter, const std::string& label, const TTextCaseRules& rules);

// The text of a drive item: "a:" for a floppy (never accessed, so no label),
// else the letter, ": " and the label or remote name (already cased).
std::string DriveItemText(char letter, TDriveKind kind, const std::string& label);

// The drive part of a path: letter and colon, or for a network path the two
// backslashes, the server, a backslash and the share; else empty.
std::string ExtractFileDrive(const std::string& path);

struct TFolderItem {
  std::string Name;
  TFolderKind Kind;
};

// The items shown for a folder: the root and every open ancestor, the folder
// itself (the current item), then its subfolders sorted with compare.
// "C:\Program Files\Sample" gives "C:\", "Program Files", "Sample" and the
// subfolders; "\\srv\pub\Tools" gives "\\srv\pub\", "Tools" and the
// subfolders.
std::vector<TFolderItem> BuildFolderItems(const std::string& current_dir, std::vector<std::string> subfolders,
                                          TNameCompare compare);

// The index of the current item among items, or -1.
int CurrentItemIndex(const std::vector<TFolderItem>& items);

// The number of folder levels of a path: "C:\" 1, "C:\A" 2, "\\srv\pub" 1,
// "\\srv\pub\A" 2. Trail bytes of double-byte characters are never counted.
int DirectoryDepth(const std::string& path, TIsLeadByte is_lead);

// The full path behind item index of the folder list showing current_dir;
// empty for an index out of range.
std::string FolderItemPath(const std::vector<TFolderItem>& items, int index, const std::string& current_dir,
                           TIsLeadByte is_lead);

// How a folder name is shown: on a volume that keeps case, roots and names
// with any lowercase letter unchanged; otherwise unchanged on a
// case-sensitive volume and lowercased on any other.
std::string FolderDisplayText(const std::string& name, bool keeps_case, bool case_sensitive,
                              const TTextCaseRules& rules);

// The left offset of a folder item's image: 4 + 4 x index for the tree,
// 4 + 4 x the depth of the current folder for subfolders.
int FolderItemIndent(const std::vector<TFolderItem>& items, int index, const std::string& current_dir,
                     TIsLeadByte is_lead);
