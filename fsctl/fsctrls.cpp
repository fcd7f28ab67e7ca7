#include "fsctl/fsctrls.h"

#include <winnetwk.h>

#include <algorithm>
#include <cstdint>

#include "common/msgbox.h"
#include "common/strutil.h"
#include "common/syserror.h"
#include "common/syshelpers.h"
#include "fsctl/pathfit.h"

namespace {

std::string WinLower(const std::string& s) {
  std::string r = s;
  if (!r.empty()) CharLowerBuffA(&r[0], static_cast<DWORD>(r.size()));
  return r;
}

std::string WinUpper(const std::string& s) {
  std::string r = s;
  if (!r.empty()) CharUpperBuffA(&r[0], static_cast<DWORD>(r.size()));
  return r;
}

const TTextCaseRules kWinCase{WinLower, WinUpper};

bool WinIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

// Case-insensitive, by the locale's rules.
int WinCompareText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()); }

char LowerLetter(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string CurrentDir() {
  const DWORD need = GetCurrentDirectoryA(0, nullptr);
  if (need == 0) return std::string();
  std::string s(need, '\0');
  const DWORD got = GetCurrentDirectoryA(need, &s[0]);
  s.resize(got < need ? got : 0);
  return s;
}

// Changes the process's current directory; shown stands in the message.
void ChangeDir(const std::string& path, const std::string& shown) {
  if (!SetCurrentDirectoryA(path.c_str())) throw EFolderError(shown, GetLastError());
}

bool IsExistingFile(const std::string& path) {
  const DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

// tmHeight of a font selected into the screen's device context.
int FontTextHeight(const forms::TFontSpec& font) {
  TWindowDC dc(nullptr);
  TSelectObject select(dc.get(), forms::GetFont(font));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc.get(), &tm);
  return tm.tmHeight;
}

const forms::TFontSpec& FontOf(const forms::TControlArgs& args) {
  return args.font ? *args.font : args.parent->ContainerForm()->FormFont();
}

std::string DriveVolumeLabel(char letter) {
  const char root[4] = {letter, ':', '\\', '\0'};
  char label[MAX_PATH + 1] = "";
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  if (!GetVolumeInformationA(root, label, MAX_PATH, nullptr, nullptr, nullptr, nullptr, 0)) label[0] = '\0';
  SetErrorMode(old_mode);
  label[MAX_PATH] = '\0';
  return DriveLabelCase(letter, label, kWinCase);
}

std::string DriveRemoteName(char letter) {
  const char local[3] = {UpperLetter(letter), ':', '\0'};
  char remote[MAX_PATH + 1] = "";
  DWORD length = MAX_PATH;
  if (WNetGetConnectionA(local, remote, &length) != NO_ERROR) return DriveVolumeLabel(letter);
  remote[MAX_PATH] = '\0';
  return DriveLabelCase(letter, remote, kWinCase);
}

void DrawImage(HDC dc, HBITMAP image, SIZE size, int left, const RECT& r) {
  if (!image) return;
  TMemoryDC mem(dc);
  TSelectObject select(mem.get(), image);
  BitBlt(dc, left, (r.top + r.bottom - size.cy) / 2, size.cx, size.cy, mem.get(), 0, 0, SRCCOPY);
}

// The text of an owner-drawn item, on one line, vertically centred.
void DrawItemText(HDC dc, const std::string& text, RECT r, int left, bool selected) {
  r.left = left;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

const std::vector<const char*> kDriveImageNames = {"NFC_FLOPPY", "NFC_HARD", "NFC_NETWORK", "NFC_CDROM",
                                                   "NFC_RAM"};
const std::vector<const char*> kFolderImageNames = {"NFC_CLOSEDFOLDER", "NFC_OPENFOLDER", "NFC_CURRENTFOLDER"};

}  // namespace

EFolderError::EFolderError(const std::string& path, DWORD code)
    : EInOutError(Format("The folder \"%s\" cannot be opened.\r\n\r\n%s (I/O error %lu)", path.c_str(),
                         SystemErrorText(code).c_str(), static_cast<unsigned long>(code))),
      code_(code) {}

void ShowControlError(const std::exception& e) { ShowMessageBoxStr(e.what(), "", mbkStop, MB_OK); }

// ---------------------------------------------------------------------------
// TKindImages

void TKindImages::Load(const std::vector<const char*>& names, COLORREF normal_back) {
  images_.clear();
  sizes_.clear();
  // The Windows 95-style pictures from version 4 on.
  const bool v4 = LOBYTE(LOWORD(GetVersion())) >= 4;
  const COLORREF selected_back = GetSysColor(COLOR_HIGHLIGHT);
  TWindowDC screen(nullptr);
  for (const char* name : names) {
    const std::string resource = std::string(name) + (v4 ? "95" : "");
    TBitmap source(LoadBitmapA(GetModuleHandleA(nullptr), resource.c_str()));
    BITMAP bm{};
    if (!source || !GetObjectA(source.get(), sizeof bm, &bm)) {
      images_.emplace_back();
      images_.emplace_back();
      sizes_.push_back(SIZE{0, 0});
      continue;
    }
    // The pixels as 32-bit 0x00RRGGBB, top row first.
    const int w = bm.bmWidth, h = bm.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
    GetDIBits(screen.get(), source.get(), 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS);
    const uint32_t transparent = pixels[static_cast<size_t>(h - 1) * static_cast<size_t>(w)] & 0xFFFFFF;
    for (const COLORREF back : {normal_back, selected_back}) {
      const uint32_t fill = (GetRValue(back) << 16) | (GetGValue(back) << 8) | GetBValue(back);
      std::vector<uint32_t> out = pixels;
      for (uint32_t& p : out)
        if ((p & 0xFFFFFF) == transparent) p = fill;
      TBitmap image(CreateCompatibleBitmap(screen.get(), w, h));
      SetDIBits(screen.get(), image.get(), 0, static_cast<UINT>(h), out.data(), &bi, DIB_RGB_COLORS);
      images_.push_back(std::move(image));
    }
    sizes_.push_back(SIZE{bm.bmWidth, bm.bmHeight});
  }
}

HBITMAP TKindImages::Image(int kind, bool selected) const {
  const size_t i = static_cast<size_t>(kind) * 2 + (selected ? 1 : 0);
  return kind >= 0 && i < images_.size() ? images_[i].get() : nullptr;
}

SIZE TKindImages::ImageSize(int kind) const {
  return kind >= 0 && static_cast<size_t>(kind) < sizes_.size() ? sizes_[static_cast<size_t>(kind)] : SIZE{0, 0};
}

// ---------------------------------------------------------------------------
// TNewDriveComboBox

TNewDriveComboBox::TNewDriveComboBox() {
  const std::string cur = CurrentDir();
  if (cur.size() >= 2 && cur[1] == ':') selected_drive_ = cur[0];
}

TNewDriveComboBox::~TNewDriveComboBox() {
  if (dir_list_) dir_list_->drive_box_ = nullptr;
}

void TNewDriveComboBox::Create(const forms::TControlArgs& args) {
  forms::TControlArgs a = args;
  a.options = (a.options | forms::coOwnerDraw) & ~static_cast<uint32_t>(forms::coSorted);
  a.value = std::max(16, FontTextHeight(FontOf(args)));
  forms::TComboBox::Create(a);
  LoadDriveImages();
  RebuildDriveList();
  try {
    SelectDrive(selected_drive_);
  } catch (const Exception&) {
    // A drive that cannot be entered is simply not selected at creation.
    SetItemIndex(-1);
  }
}

void TNewDriveComboBox::SetDirList(TNewDirectoryListBox* list) {
  if (dir_list_) dir_list_->drive_box_ = nullptr;
  dir_list_ = list;
  if (list) {
    if (list->drive_box_ && list->drive_box_ != this) list->drive_box_->dir_list_ = nullptr;
    list->drive_box_ = this;
  }
}

void TNewDriveComboBox::SetTextCase(TNewTextCase text_case) {
  text_case_ = text_case;
  const char was = selected_drive_;
  RebuildDriveList();
  SelectDrive(was);
}

void TNewDriveComboBox::LoadDriveImages() { images_.Load(kDriveImageNames, GetSysColor(COLOR_WINDOW)); }

void TNewDriveComboBox::UpdateItemHeight() {
  const int height = std::max(16, FontTextHeight(Font()));
  item_height_ = height;
  SendMessageA(Handle(), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height);
  SendMessageA(Handle(), CB_SETITEMHEIGHT, 0, height);
}

void TNewDriveComboBox::RebuildDriveList() {
  Clear();
  const DWORD mask = GetLogicalDrives();
  for (int bit = 0; bit < 26; ++bit) {
    if (!(mask & (1u << bit))) continue;
    char letter = static_cast<char>('a' + bit);
    const char root[4] = {letter, ':', '\\', '\0'};
    const TDriveKind kind = DriveKindFromType(GetDriveTypeA(root));
    if (text_case_ == tcUpperCase) letter = UpperLetter(letter);
    std::string label;
    if (kind == dkNetwork)
      label = DriveRemoteName(letter);
    else if (kind != dkFloppy)  // a floppy drive is never touched
      label = DriveVolumeLabel(letter);
    const int index = Add(DriveItemText(letter, kind, label));
    SetItemData(index, kind);
  }
}

int TNewDriveComboBox::IndexOfDrive(char letter) const {
  for (int i = 0, n = Count(); i < n; ++i) {
    const std::string t = ItemText(i);
    if (t.size() >= 2 && LowerLetter(t[0]) == LowerLetter(letter) && t[1] == ':') return i;
  }
  return -1;
}

void TNewDriveComboBox::ShowDrive(char letter) {
  selected_drive_ = text_case_ == tcLowerCase ? LowerLetter(letter) : UpperLetter(letter);
  SetItemIndex(letter ? IndexOfDrive(letter) : -1);
}

void TNewDriveComboBox::SelectDrive(char letter) {
  if (ItemIndex() >= 0 && LowerLetter(letter) == LowerLetter(selected_drive_)) return;
  const char saved = selected_drive_;
  const int saved_index = ItemIndex();
  try {
    if (!letter) {
      selected_drive_ = 0;
      SetItemIndex(-1);
    } else {
      selected_drive_ = text_case_ == tcLowerCase ? LowerLetter(letter) : UpperLetter(letter);
      SetItemIndex(IndexOfDrive(selected_drive_));
    }
    if (dir_list_) dir_list_->GoToDrive(selected_drive_);
  } catch (...) {
    // The box shows again what it showed; the caller decides more.
    selected_drive_ = saved;
    SetItemIndex(saved_index);
    throw;
  }
  if (OnChange) OnChange();
}

void TNewDriveComboBox::Command(WORD code) {
  if (code != CBN_SELCHANGE) return;
  const int index = ItemIndex();
  if (index < 0) return;
  const std::string text = ItemText(index);
  try {
    SelectDrive(text.empty() ? 0 : text[0]);
  } catch (const std::exception& e) {
    SetItemIndex(-1);
    ShowControlError(e);
  }
}

void TNewDriveComboBox::DrawItem(DRAWITEMSTRUCT* dis) {
  const bool selected = (dis->itemState & ODS_SELECTED) != 0;
  FillRect(dis->hDC, &dis->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (dis->itemID == static_cast<UINT>(-1)) return;
  const int index = static_cast<int>(dis->itemID);
  const int kind = static_cast<int>(ItemData(index));
  TSelectObject font(dis->hDC, forms::GetFont(Font()));
  const HBITMAP image = images_.Image(kind, selected);
  const SIZE size = images_.ImageSize(kind);
  const int width = image ? size.cx : 16;
  DrawImage(dis->hDC, image, size, dis->rcItem.left + 4, dis->rcItem);
  DrawItemText(dis->hDC, ItemText(index), dis->rcItem, dis->rcItem.left + width + 8, selected);
  if (dis->itemState & ODS_FOCUS) DrawFocusRect(dis->hDC, &dis->rcItem);
}

bool TNewDriveComboBox::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (msg == WM_SETFONT) {
    result = CallDefault(msg, wp, lp);
    UpdateItemHeight();
    return true;
  }
  if (msg == WM_SYSCOLORCHANGE) {
    LoadDriveImages();
    InvalidateRect(Handle(), nullptr, TRUE);
  }
  return false;
}

// ---------------------------------------------------------------------------
// TNewDirectoryListBox

TNewDirectoryListBox::TNewDirectoryListBox() : current_dir_(CurrentDir()) {}

TNewDirectoryListBox::~TNewDirectoryListBox() {
  if (drive_box_) drive_box_->dir_list_ = nullptr;
}

void TNewDirectoryListBox::Create(const forms::TControlArgs& args) {
  forms::TControlArgs a = args;
  a.options = (a.options | forms::coOwnerDraw) & ~static_cast<uint32_t>(forms::coSorted);
  a.value = std::max(15, FontTextHeight(FontOf(args)));
  forms::TListBox::Create(a);
  LoadFolderImages();
  RebuildFolderList();
}

void TNewDirectoryListBox::SetDirLabel(forms::TLabel* label) {
  dir_label_ = label;
  if (dir_label_) dir_label_->SetText(current_dir_);
}

void TNewDirectoryListBox::LoadFolderImages() { images_.Load(kFolderImageNames, GetSysColor(COLOR_WINDOW)); }

void TNewDirectoryListBox::UpdateItemHeight() { SetItemHeight(std::max(15, FontTextHeight(Font()))); }

void TNewDirectoryListBox::RebuildFolderList() {
  SetRedraw(false);
  Clear();
  items_.clear();
  const std::string root = ExtractFileDrive(current_dir_) + '\\';
  DWORD flags = 0;
  if (GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    keeps_case_ = (flags & (FS_CASE_SENSITIVE | FS_CASE_IS_PRESERVED)) != 0;
    case_sensitive_ = (flags & FS_CASE_SENSITIVE) != 0;
    std::vector<std::string> names;
    const std::string pattern =
        current_dir_ + (!current_dir_.empty() && current_dir_.back() == '\\' ? "" : "\\") + "*.*";
    WIN32_FIND_DATAA fd;
    TFindHandle find(FindFirstFileA(pattern.c_str(), &fd));
    if (find) {
      do {
        const std::string name = fd.cFileName;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
          names.push_back(name);
      } while (FindNextFileA(find.get(), &fd));
    }
    items_ = BuildFolderItems(current_dir_, std::move(names), WinCompareText);
    for (const TFolderItem& item : items_) {
      const int index = Add(item.Name);
      SetItemData(index, item.Kind);
    }
  }
  SetRedraw(true);
  if (Handle()) SetItemIndex(CurrentItemIndex(items_));
}

void TNewDirectoryListBox::SignalChange() {
  if (dir_label_) dir_label_->SetText(current_dir_);
  if (OnChange) OnChange();
}

std::string TNewDirectoryListBox::FolderItemPath(int index) const {
  return ::FolderItemPath(items_, index, current_dir_, WinIsLeadByte);
}

void TNewDirectoryListBox::GoToDrive(char letter) {
  if (letter && !current_dir_.empty() && LowerLetter(letter) == LowerLetter(current_dir_[0])) return;
  if (letter) {
    // "X:" is that drive's own current folder. The letter goes in uppercase:
    // Wine keeps a lowercase one in the current directory it reports.
    const std::string drive{UpperLetter(letter), ':'};
    ChangeDir(drive, drive);
    current_dir_ = CurrentDir();
  }
  if (!setting_directory_) {
    RebuildFolderList();
    SignalChange();
  }
}

void TNewDirectoryListBox::EnterDirectory(const std::string& folder) {
  SetCurrentDirectoryA(current_dir_.c_str());
  ChangeDir(folder, folder);
  current_dir_ = CurrentDir();
  RebuildFolderList();
  SignalChange();
}

void TNewDirectoryListBox::GoToDirectory(const std::string& path) {
  if (path.empty()) return;
  if (case_sensitive_ ? path == current_dir_ : lstrcmpiA(path.c_str(), current_dir_.c_str()) == 0) return;
  const TSplitPath split = SplitTargetPath(path);
  const std::string before = current_dir_;
  try {
    if (split.Drive && (current_dir_.empty() || LowerLetter(split.Drive) != LowerLetter(current_dir_[0]))) {
      setting_directory_ = true;
      try {
        if (drive_box_)
          drive_box_->SelectDrive(split.Drive);
        else
          GoToDrive(split.Drive);
      } catch (...) {
        setting_directory_ = false;
        throw;
      }
      setting_directory_ = false;
    }
    EnterDirectory(split.Folder);
  } catch (...) {
    // Back to the folder (and drive) shown before: the items still show it.
    if (current_dir_ != before) {
      current_dir_ = before;
      SetCurrentDirectoryA(before.c_str());
      if (drive_box_ && !before.empty()) drive_box_->ShowDrive(before[0]);
    }
    throw;
  }
}

void TNewDirectoryListBox::OpenSelectedFolder() {
  const int index = ItemIndex();
  if (index >= 0) GoToDirectory(FolderItemPath(index));
}

void TNewDirectoryListBox::Command(WORD code) {
  if (code != LBN_DBLCLK) return;
  try {
    OpenSelectedFolder();
  } catch (const std::exception& e) {
    ShowControlError(e);
  }
}

void TNewDirectoryListBox::DrawItem(DRAWITEMSTRUCT* dis) {
  const bool selected = (dis->itemState & ODS_SELECTED) != 0;
  FillRect(dis->hDC, &dis->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int index = static_cast<int>(dis->itemID);
  if (dis->itemID == static_cast<UINT>(-1) || static_cast<size_t>(index) >= items_.size()) return;
  const TFolderItem& item = items_[static_cast<size_t>(index)];
  TSelectObject font(dis->hDC, forms::GetFont(Font()));
  const int indent = FolderItemIndent(items_, index, current_dir_, WinIsLeadByte);
  const HBITMAP image = images_.Image(item.Kind, selected);
  const SIZE size = images_.ImageSize(item.Kind);
  const int width = image ? size.cx : 16;
  DrawImage(dis->hDC, image, size, dis->rcItem.left + indent, dis->rcItem);
  DrawItemText(dis->hDC, FolderDisplayText(item.Name, keeps_case_, case_sensitive_, kWinCase), dis->rcItem,
               dis->rcItem.left + indent + width + 4, selected);
  if (dis->itemState & ODS_FOCUS) DrawFocusRect(dis->hDC, &dis->rcItem);
}

bool TNewDirectoryListBox::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_GETDLGCODE: {
      // Enter opens the selected folder instead of pressing a button.
      result = CallDefault(msg, wp, lp);
      const MSG* m = reinterpret_cast<const MSG*>(lp);
      if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) result |= DLGC_WANTMESSAGE;
      return true;
    }
    case WM_KEYDOWN:
      if (wp != VK_RETURN) return false;
      try {
        OpenSelectedFolder();
      } catch (const std::exception& e) {
        ShowControlError(e);
      }
      result = 0;
      return true;
    case WM_SETFONT:
      result = CallDefault(msg, wp, lp);
      UpdateItemHeight();
      return true;
    case WM_SYSCOLORCHANGE:
      LoadFolderImages();
      InvalidateRect(Handle(), nullptr, TRUE);
      return false;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// SplitTargetPath

TSplitPath SplitTargetPath(const std::string& path) {
  const std::string saved = CurrentDir();
  struct TRestoreDir {
    const std::string& dir;
    ~TRestoreDir() { SetCurrentDirectoryA(dir.c_str()); }
  } restore{saved};

  TSplitPath r;
  std::string drive;
  std::string folder;
  if (path.size() >= 2 && path.front() == '[' && path.back() == ']') {
    folder = path.substr(1, path.size() - 2);
  } else {
    drive = ExtractFileDrive(path);
    folder = path.substr(drive.size());
    if (drive.empty()) drive = ExtractFileDrive(saved);
  }
  r.Drive = drive.size() == 2 && drive[1] == ':' ? drive[0] : 0;
  SetCurrentDirectoryA(drive.c_str());

  const size_t cut = folder.find_last_of("\\:");
  r.Name = cut == std::string::npos ? folder : folder.substr(cut + 1);
  if (folder.size() == r.Name.size() + 1) {
    folder = "\\";
  } else if (folder.size() > r.Name.size() + 1) {
    folder.erase(folder.size() - r.Name.size() - 1);
  } else {
    const std::string cur = CurrentDir();
    folder = cur.substr(ExtractFileDrive(cur).size());
    if (folder.empty()) folder = "\\";
  }
  if (!folder.empty()) ChangeDir(folder, path);
  if (!r.Name.empty() && r.Name.find_first_of("*?") == std::string::npos && !IsExistingFile(r.Name)) {
    ChangeDir(r.Name, path);
    folder += (folder == "\\" ? "" : "\\") + r.Name;
    r.Name.clear();
  }
  if (!r.Drive) folder = drive + folder;
  r.Folder = folder;
  return r;
}

// ---------------------------------------------------------------------------
// TNewPathLabel

void TNewPathLabel::Create(const forms::TControlArgs& args) {
  word_wrap_ = (args.options & forms::coWordWrap) != 0;
  transparent_ = (args.options & forms::coTransparent) != 0;
  align_ = (args.options & forms::coCenter) ? DT_CENTER : DT_LEFT;
  CreateWindowOf("STATIC", args, SS_LEFT | SS_NOPREFIX);
}

std::string TNewPathLabel::DisplayText() const {
  RECT rc{};
  GetClientRect(Handle(), &rc);
  TWindowDC dc(Handle());
  TSelectObject font(dc.get(), forms::GetFont(Font()));
  HDC h = dc.get();
  return FitPathToWidth(
      Text(),
      [h](const std::string& s) {
        SIZE size{};
        GetTextExtentPoint32A(h, s.c_str(), static_cast<int>(s.size()), &size);
        return static_cast<int>(size.cx);
      },
      rc.right - rc.left);
}

void TNewPathLabel::Paint(HDC dc) {
  RECT rc{};
  GetClientRect(Handle(), &rc);
  const std::string text = DisplayText();
  TSelectObject font(dc, forms::GetFont(Font()));
  if (!transparent_) FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  SetBkMode(dc, TRANSPARENT);
  UINT flags = DT_EXPANDTABS | DT_NOPREFIX | align_;
  if (word_wrap_) flags |= DT_WORDBREAK;
  const int length = static_cast<int>(text.size());
  if (IsWindowEnabled(Handle())) {
    SetTextColor(dc, Font().color != CLR_INVALID ? Font().color : GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, text.c_str(), length, &rc, flags);
  } else {
    RECT shifted = rc;
    OffsetRect(&shifted, 1, 1);
    SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawTextA(dc, text.c_str(), length, &shifted, flags);
    SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
    DrawTextA(dc, text.c_str(), length, &rc, flags);
  }
}

bool TNewPathLabel::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      Paint(dc);
      EndPaint(Handle(), &ps);
      result = 0;
      return true;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wp));
      result = 0;
      return true;
    case WM_ERASEBKGND:
      result = 1;  // WM_PAINT fills the area itself
      return true;
    case WM_SETTEXT:
    case WM_ENABLE:
      // The static control would paint the full text at once; the label
      // paints its own shortened text instead.
      result = msg == WM_SETTEXT ? DefWindowProcA(Handle(), msg, wp, lp) : 0;
      InvalidateRect(Handle(), nullptr, TRUE);
      return true;
    default:
      return false;
  }
}
