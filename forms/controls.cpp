// The control kinds over the standard and common controls.
#include "forms/controls.h"

#include <commctrl.h>

#include "common/exceptions.h"

namespace forms {

// ---------------------------------------------------------------------------
// TLabel

void TLabel::Create(const TControlArgs& args) {
  word_wrap_ = (args.options & coWordWrap) != 0;
  transparent_ = (args.options & coTransparent) != 0;
  auto_width_ = args.bounds.width == 0;
  auto_height_ = args.bounds.height == 0;
  DWORD style = (args.options & coCenter) ? SS_CENTER : word_wrap_ ? SS_LEFT : SS_LEFTNOWORDWRAP;
  if (args.options & coNoPrefix) style |= SS_NOPREFIX;
  CreateWindowOf("STATIC", args, style);
  AutoSize();
}

void TLabel::SetText(const std::string& text) {
  if (transparent_ && Handle()) {
    // Nothing of the old text stays: the parent repaints below it.
    RECT r = BoundsRect();
    InvalidateRect(GetParent(Handle()), &r, TRUE);
  }
  TControl::SetText(text);
  AutoSize();
}

void TLabel::AutoSize() {
  if (!Handle() || (!auto_width_ && !auto_height_)) return;
  RECT r = BoundsRect();
  RECT calc{0, 0, auto_width_ ? 32767 : r.right - r.left, 0};
  const std::string text = Text();
  TWindowDC dc(Handle());
  TSelectObject font(dc.get(), GetFont(font_));
  UINT flags = DT_CALCRECT | DT_EXPANDTABS;
  if (word_wrap_ && !auto_width_) flags |= DT_WORDBREAK;
  if (GetWindowLongA(Handle(), GWL_STYLE) & SS_NOPREFIX) flags |= DT_NOPREFIX;
  DrawTextA(dc.get(), text.empty() ? " " : text.c_str(), -1, &calc, flags);
  const int width = auto_width_ ? calc.right : r.right - r.left;
  const int height = auto_height_ ? calc.bottom : r.bottom - r.top;
  SetWindowPos(Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HBRUSH TLabel::CtlColor(HDC dc) {
  if (!transparent_) return TControl::CtlColor(dc);
  if (font_.color != CLR_INVALID) SetTextColor(dc, font_.color);
  SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

// ---------------------------------------------------------------------------
// TButton

void TButton::Create(const TControlArgs& args) {
  ModalResult = args.value;
  const bool is_default = (args.options & coDefault) != 0;
  CreateWindowOf("BUTTON", args, (is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP);
  if (is_default) form_->SetDefaultButton(this);
  if (args.options & coCancel) form_->SetCancelButton(this);
}

void TButton::Click() {
  if (ModalResult != mrNone && form_) form_->SetModalResult(ModalResult);
  if (onClick) onClick();
}

void TButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

// ---------------------------------------------------------------------------
// TEdit and TMemo

void TEdit::CreateEdit(const TControlArgs& args, DWORD style) {
  button_face_ = (args.options & coButtonFace) != 0;
  if (args.options & coReadOnly) style |= ES_READONLY;
  CreateWindowOf("EDIT", args, style | WS_TABSTOP, WS_EX_CLIENTEDGE);
  if (args.value > 0) SetMaxLength(args.value);
}

void TEdit::Create(const TControlArgs& args) { CreateEdit(args, ES_AUTOHSCROLL | ES_LEFT); }

void TEdit::SetMaxLength(int length) {
  SendMessageA(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(length), 0);
}

void TEdit::SetReadOnly(bool read_only) {
  SendMessageA(Handle(), EM_SETREADONLY, read_only ? TRUE : FALSE, 0);
}

void TEdit::SetButtonFace(bool button_face) {
  button_face_ = button_face;
  Repaint();
}

void TEdit::Command(WORD code) {
  if (code == EN_CHANGE && onChange) onChange();
}

HBRUSH TEdit::CtlColor(HDC dc) {
  if (!button_face_ && font_.color == CLR_INVALID) return nullptr;
  const int colour = button_face_ ? COLOR_BTNFACE : COLOR_WINDOW;
  SetTextColor(dc, font_.color != CLR_INVALID ? font_.color : GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(colour));
  return GetSysColorBrush(colour);
}

void TMemo::Create(const TControlArgs& args) {
  want_return_ = (args.options & coWantReturn) != 0;
  DWORD style = ES_MULTILINE | ES_AUTOVSCROLL | ES_LEFT;
  if (args.options & coVScroll) style |= WS_VSCROLL;
  if (want_return_) style |= ES_WANTRETURN;
  CreateEdit(args, style);
}

// ---------------------------------------------------------------------------
// TCheckBox and TRadioButton

void TCheckBox::Create(const TControlArgs& args) {
  CreateWindowOf("BUTTON", args, BS_AUTOCHECKBOX | WS_TABSTOP);
  if (args.options & coChecked) SetChecked(true);
}

bool TCheckBox::Checked() const {
  return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked) {
  SendMessageA(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::Click() {
  SetChecked(!Checked());
  if (onClick) onClick();
}

void TCheckBox::Command(WORD code) {
  // The button toggled itself already.
  if (code == BN_CLICKED && onClick) onClick();
}

void TRadioButton::Create(const TControlArgs& args) {
  DWORD style = BS_AUTORADIOBUTTON;
  if (args.options & coGroup) style |= WS_GROUP | WS_TABSTOP;
  CreateWindowOf("BUTTON", args, style);
  if (args.options & coChecked) SetChecked(true);
}

void TRadioButton::Click() {
  SendMessageA(Handle(), BM_CLICK, 0, 0);  // unchecks the others of the group
}

// ---------------------------------------------------------------------------
// TItemList, TListBox, TComboBox

int TItemList::Add(const std::string& text, intptr_t data) {
  const TMessages& m = Messages();
  const LRESULT index =
      SendMessageA(Handle(), m.add, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index < 0) throw Exception("Cannot add an item to the list");
  if (data) SetItemData(static_cast<int>(index), data);
  return static_cast<int>(index);
}

void TItemList::Clear() { SendMessageA(Handle(), Messages().reset, 0, 0); }

int TItemList::Count() const {
  return static_cast<int>(SendMessageA(Handle(), Messages().count, 0, 0));
}

std::string TItemList::ItemText(int index) const {
  const TMessages& m = Messages();
  const LRESULT len = SendMessageA(Handle(), m.text_len, static_cast<WPARAM>(index), 0);
  if (len < 0) return std::string();
  std::string s(static_cast<size_t>(len) + 1, '\0');
  const LRESULT n =
      SendMessageA(Handle(), m.text, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&s[0]));
  s.resize(n > 0 && n <= len ? static_cast<size_t>(n) : 0);
  return s;
}

intptr_t TItemList::ItemData(int index) const {
  return static_cast<intptr_t>(
      SendMessageA(Handle(), Messages().data, static_cast<WPARAM>(index), 0));
}

void TItemList::SetItemData(int index, intptr_t data) {
  SendMessageA(Handle(), Messages().set_data, static_cast<WPARAM>(index),
               static_cast<LPARAM>(data));
}

int TItemList::ItemIndex() const {
  return static_cast<int>(SendMessageA(Handle(), Messages().cur_sel, 0, 0));
}

void TItemList::SetItemIndex(int index) {
  SendMessageA(Handle(), Messages().set_cur_sel, static_cast<WPARAM>(index), 0);
}

int TItemList::IndexOfText(const std::string& text) const {
  // LB_FINDSTRINGEXACT / CB_FINDSTRINGEXACT compare without regard to case.
  const LRESULT i = SendMessageA(Handle(), Messages().find_exact, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(text.c_str()));
  return i < 0 ? -1 : static_cast<int>(i);
}

void TItemList::SetItemHeight(int height) {
  item_height_ = height;
  if (Handle()) SendMessageA(Handle(), Messages().set_item_height, 0, height);
}

void TItemList::SetRedraw(bool redraw) {
  SendMessageA(Handle(), WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
  if (redraw) InvalidateRect(Handle(), nullptr, TRUE);
}

void TItemList::MeasureItem(MEASUREITEMSTRUCT* mis) {
  if (item_height_ > 0) mis->itemHeight = static_cast<UINT>(item_height_);
}

void TItemList::DrawItem(DRAWITEMSTRUCT* dis) {
  if (onDrawItem) onDrawItem(*dis);
}

void TListBox::Create(const TControlArgs& args) {
  DWORD style = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
  if (args.options & coSorted) style |= LBS_SORT;
  if (args.options & coOwnerDraw) {
    style |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;
    item_height_ = args.value;
  }
  CreateWindowOf("LISTBOX", args, style, WS_EX_CLIENTEDGE);
}

void TListBox::Command(WORD code) {
  if (code == LBN_SELCHANGE && onClick) onClick();
  if (code == LBN_DBLCLK && onDoubleClick) onDoubleClick();
}

const TItemList::TMessages& TListBox::Messages() const {
  static const TMessages m{LB_ADDSTRING,   LB_RESETCONTENT,     LB_GETCOUNT,  LB_GETTEXTLEN,
                           LB_GETTEXT,     LB_GETITEMDATA,      LB_SETITEMDATA, LB_GETCURSEL,
                           LB_SETCURSEL,   LB_FINDSTRINGEXACT,  LB_SETITEMHEIGHT};
  return m;
}

void TComboBox::Create(const TControlArgs& args) {
  DWORD style = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
  if (args.options & coSorted) style |= CBS_SORT;
  if (args.options & coOwnerDraw) {
    style |= CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
    item_height_ = args.value;
  }
  // The window's height includes the dropped list.
  TControlArgs a = args;
  a.bounds.height = args.bounds.height + 200;
  CreateWindowOf("COMBOBOX", a, style);
}

void TComboBox::Command(WORD code) {
  if (code == CBN_SELCHANGE && onChange) onChange();
}

bool TComboBox::DroppedDown() const {
  return SendMessageA(Handle(), CB_GETDROPPEDSTATE, 0, 0) != 0;
}

const TItemList::TMessages& TComboBox::Messages() const {
  static const TMessages m{CB_ADDSTRING,   CB_RESETCONTENT,     CB_GETCOUNT,  CB_GETLBTEXTLEN,
                           CB_GETLBTEXT,   CB_GETITEMDATA,      CB_SETITEMDATA, CB_GETCURSEL,
                           CB_SETCURSEL,   CB_FINDSTRINGEXACT,  CB_SETITEMHEIGHT};
  return m;
}

// ---------------------------------------------------------------------------
// TGroupBox, TBevel

void TGroupBox::Create(const TControlArgs& args) {
  parent_ = args.parent;
  bounds_ = args.bounds;
  TControlArgs a = args;
  a.options |= coNoTabStop;
  CreateWindowOf("BUTTON", a, BS_GROUPBOX);
}

HWND TGroupBox::ContainerHandle() const { return parent_->ContainerHandle(); }

POINT TGroupBox::ContainerOrigin() const {
  POINT p = parent_->ContainerOrigin();
  p.x += bounds_.left;
  p.y += bounds_.top;
  return p;
}

void TBevel::Create(const TControlArgs& args) {
  TControlArgs a = args;
  a.options |= coNoTabStop;
  if (args.options & coTopLine) {
    a.bounds.height = 2;
    CreateWindowOf("STATIC", a, SS_ETCHEDHORZ);
  } else {
    CreateWindowOf("STATIC", a, SS_ETCHEDFRAME);
  }
}

// ---------------------------------------------------------------------------
// TImage

void TImage::Create(const TControlArgs& args) {
  transparent_ = (args.options & coTransparent) != 0;
  center_ = (args.options & coCenter) != 0;
  TControlArgs a = args;
  a.options |= coNoTabStop;
  CreateWindowOf("STATIC", a, SS_OWNERDRAW);
}

void TImage::SetBitmap(TBitmap bitmap) {
  owned_ = std::move(bitmap);
  bitmap_ = owned_.get();
  icon_ = nullptr;
  Repaint();
}

void TImage::SetBitmapRef(HBITMAP bitmap) {
  owned_.reset();
  bitmap_ = bitmap;
  icon_ = nullptr;
  Repaint();
}

void TImage::SetIcon(HICON icon) {
  owned_.reset();
  bitmap_ = nullptr;
  icon_ = icon;
  Repaint();
}

void TImage::DrawItem(DRAWITEMSTRUCT* dis) {
  HDC dc = dis->hDC;
  const RECT& r = dis->rcItem;
  if (!transparent_) FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  HPALETTE palette = form_ ? form_->Palette() : nullptr;
  HPALETTE old_palette = nullptr;
  if (palette) {
    old_palette = SelectPalette(dc, palette, TRUE);
    ::RealizePalette(dc);
  }
  int width = 0, height = 0;
  if (icon_) {
    width = GetSystemMetrics(SM_CXICON);
    height = GetSystemMetrics(SM_CYICON);
  } else if (bitmap_) {
    BITMAP bm{};
    GetObjectA(bitmap_, sizeof bm, &bm);
    width = bm.bmWidth;
    height = bm.bmHeight;
  }
  int x = r.left, y = r.top;
  if (center_) {
    x = (r.left + r.right - width) / 2;
    y = (r.top + r.bottom - height) / 2;
  }
  if (icon_) {
    DrawIconEx(dc, x, y, icon_, 0, 0, 0, nullptr, DI_NORMAL);
  } else if (bitmap_) {
    TMemoryDC src(dc);
    TSelectObject src_bitmap(src.get(), bitmap_);
    if (!transparent_) {
      BitBlt(dc, x, y, width, height, src.get(), 0, 0, SRCCOPY);
    } else {
      // A mask with the transparent colour white, then the bitmap XORed in,
      // masked, and XORed again: the parent stays where the mask is white.
      const COLORREF see_through = GetPixel(src.get(), 0, height - 1);
      TBitmap mask(CreateBitmap(width, height, 1, 1, nullptr));
      TMemoryDC mask_dc(dc);
      TSelectObject mask_bitmap(mask_dc.get(), mask.get());
      SetBkColor(src.get(), see_through);
      BitBlt(mask_dc.get(), 0, 0, width, height, src.get(), 0, 0, SRCCOPY);
      const COLORREF old_bk = SetBkColor(dc, RGB(255, 255, 255));
      const COLORREF old_text = SetTextColor(dc, RGB(0, 0, 0));
      BitBlt(dc, x, y, width, height, src.get(), 0, 0, SRCINVERT);
      BitBlt(dc, x, y, width, height, mask_dc.get(), 0, 0, SRCAND);
      BitBlt(dc, x, y, width, height, src.get(), 0, 0, SRCINVERT);
      SetBkColor(dc, old_bk);
      SetTextColor(dc, old_text);
    }
  }
  if (palette) SelectPalette(dc, old_palette, TRUE);
}

// ---------------------------------------------------------------------------
// TNotebook

void TNotebook::Create(const TControlArgs& args) {
  TControlArgs a = args;
  a.options |= coNoTabStop;
  CreateWindowOf(ContainerClassName(), a, WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT);
  const int count = args.value > 0 ? args.value : 1;
  for (int i = 0; i < count; ++i) {
    HWND page = CreateWindowExA(WS_EX_CONTROLPARENT, ContainerClassName(), "",
                                WS_CHILD | WS_CLIPSIBLINGS, 0, 0, args.bounds.width,
                                args.bounds.height, Handle(), nullptr, GetModuleHandleA(nullptr),
                                nullptr);
    if (!page) throw Exception("Cannot create a page");
    pages_.push_back(std::make_unique<TPage>(page, form_));
  }
  SetActivePage(0);
}

TContainer* TNotebook::Page(int index) {
  if (index < 0 || index >= PageCount()) throw Exception("No such page");
  return pages_[static_cast<size_t>(index)].get();
}

void TNotebook::SetActivePage(int index) {
  if (index < 0 || index >= PageCount() || index == active_) return;
  // The page that had the focus gives it up with its window.
  HWND focus = GetFocus();
  HWND old_page = active_ >= 0 ? pages_[static_cast<size_t>(active_)]->ContainerHandle() : nullptr;
  HWND new_page = pages_[static_cast<size_t>(index)]->ContainerHandle();
  ShowWindow(new_page, SW_SHOWNA);
  if (old_page) ShowWindow(old_page, SW_HIDE);
  active_ = index;
  if (old_page && focus && IsChild(old_page, focus) && form_) SetFocusToForm();
}

void TNotebook::SetFocusToForm() {
  HWND first = GetNextDlgTabItem(form_->Handle(), nullptr, FALSE);
  if (first) ::SetFocus(first);
}

// ---------------------------------------------------------------------------
// TProgressBar

void TProgressBar::Create(const TControlArgs& args) {
  TControlArgs a = args;
  a.options |= coNoTabStop;
  CreateWindowOf(PROGRESS_CLASSA, a, 0);
  SetMax(max_);
}

void TProgressBar::SetMax(uint32_t max) {
  max_ = max;
  shown_valid_ = false;
  // PBM_SETRANGE, the message every version of the control knows (the
  // 32-bit range message came with a later one and an older control ignores
  // it): a range of 16 bits, kept below 0x8000 so that no version can read
  // it as negative. The bar has far fewer pixels than that.
  shift_ = 0;
  while ((max >> shift_) > kMaxRange) ++shift_;
  SendMessageA(Handle(), PBM_SETRANGE, 0, MAKELPARAM(0, max_ >> shift_));
  SetPosition(position_);
}

void TProgressBar::SetPosition(uint32_t position) {
  position_ = position > max_ ? max_ : position;
  // Under Wine, telling the control its position costs milliseconds, and the
  // copy step moves the bar every 32000 bytes: the control is told, and
  // repainted, only when its filled part grows or shrinks by a pixel, since
  // otherwise nothing on the screen would change. (The width is taken when
  // the range is set; the bar is not resized.)
  if (!shown_valid_ || shown_width_ == 0) {
    RECT r{};
    GetClientRect(Handle(), &r);
    shown_width_ = static_cast<uint64_t>(r.right > r.left ? r.right - r.left : 0);
  }
  const uint64_t filled = max_ == 0 ? 0 : shown_width_ * position_ / max_;
  // A bar without a width yet (not laid out) is always told.
  if (shown_valid_ && shown_width_ != 0 && filled == shown_filled_) return;
  shown_valid_ = true;
  shown_filled_ = filled;
  SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(position_ >> shift_), 0);
  UpdateWindow(Handle());
}

void TProgressBar::StepBy(uint32_t amount) {
  const uint64_t sum = static_cast<uint64_t>(position_) + amount;
  SetPosition(sum > max_ ? max_ : static_cast<uint32_t>(sum));
}

// ---------------------------------------------------------------------------
// TAnimate

TAnimate::~TAnimate() {
  // The clip is closed before its module goes.
  if (opened_ && Handle()) SendMessageA(Handle(), ACM_OPENA, 0, 0);
}

void TAnimate::Create(const TControlArgs& args) {
  TControlArgs a = args;
  a.options |= coNoTabStop;
  CreateWindowOf(ANIMATE_CLASSA, a, ACS_CENTER | ACS_TRANSPARENT);
}

bool TAnimate::OpenCommonAvi(int id) {
  if (!shell32_) shell32_.reset(LoadLibraryA("shell32.dll"));
  if (!shell32_) return false;
  opened_ = SendMessageA(Handle(), ACM_OPENA, reinterpret_cast<WPARAM>(shell32_.get()),
                         reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(id))) != 0;
  return opened_;
}

bool TAnimate::Play(int from, int to, int repeat) {
  playing_ = SendMessageA(Handle(), ACM_PLAY, static_cast<WPARAM>(repeat),
                          MAKELPARAM(static_cast<WORD>(from), static_cast<WORD>(to))) != 0;
  return playing_;
}

void TAnimate::Stop() {
  SendMessageA(Handle(), ACM_STOP, 0, 0);
  playing_ = false;
}

}  // namespace forms
