// The control kinds of the windowing layer: thin wrappers over the standard
// Win32 and common controls. Each is created from TControlArgs (or one line
// of a form's layout table); events are function members the form sets.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/forms.h"

namespace forms {

// A static text. Word wrap, '&' prefix, transparency and centring from the
// options; a width or height of 0 sizes the label to its text. A disabled
// label is drawn greyed by Windows.
class TLabel : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  // Transparent labels have the parent repaint below the old text; labels
  // that size themselves take the new text's size.
  void SetText(const std::string& text) override;
  bool Transparent() const { return transparent_; }
  HBRUSH CtlColor(HDC dc) override;

 protected:
  void AutoSize();
  bool transparent_ = false;
  bool auto_width_ = false;
  bool auto_height_ = false;
  bool word_wrap_ = false;
};

// A push button. coDefault makes it the form's default button (Enter),
// coCancel its cancel button (Esc); the args value is its modal result,
// given to a modal form when the button is pressed.
class TButton : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  void Click() override;  // modal result first, then onClick
  void Command(WORD code) override;
  int ModalResult = mrNone;
  std::function<void()> onClick;
};

// A single-line edit box; the args value is the maximum length (0: none).
class TEdit : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  void SetMaxLength(int length);
  void SetReadOnly(bool read_only);
  // The background: the window colour, or the button face (as the disabled
  // group controls of the wizard show).
  void SetButtonFace(bool button_face);
  void Command(WORD code) override;
  HBRUSH CtlColor(HDC dc) override;
  std::function<void()> onChange;  // EN_CHANGE: typed or set

 protected:
  void CreateEdit(const TControlArgs& args, DWORD style);
  bool button_face_ = false;
};

// A multi-line edit box. Read-only, scroll bar and button-face colour from
// the options; Enter goes to the form's default button unless coWantReturn.
class TMemo : public TEdit {
 public:
  void Create(const TControlArgs& args) override;
  bool WantsReturn() const override { return want_return_; }

 private:
  bool want_return_ = false;
};

// A check box (BS_AUTOCHECKBOX): onClick after each toggle.
class TCheckBox : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  bool Checked() const;
  void SetChecked(bool checked);
  void Click() override;
  void Command(WORD code) override;
  std::function<void()> onClick;
};

// A radio button (BS_AUTORADIOBUTTON); coGroup starts a group.
class TRadioButton : public TCheckBox {
 public:
  void Create(const TControlArgs& args) override;
  void Click() override;
};

// What list boxes and combo boxes have in common: the item list.
class TItemList : public TControl {
 public:
  int Add(const std::string& text, intptr_t data = 0);
  void Clear();
  int Count() const;
  std::string ItemText(int index) const;
  intptr_t ItemData(int index) const;
  void SetItemData(int index, intptr_t data);
  int ItemIndex() const;
  void SetItemIndex(int index);  // -1 clears the selection
  // The first item equal to text ignoring case, or -1.
  int IndexOfText(const std::string& text) const;
  void SetItemHeight(int height);
  int ItemHeight() const { return item_height_; }
  // Suspends and resumes redrawing (WM_SETREDRAW) around bulk changes.
  void SetRedraw(bool redraw);

  void MeasureItem(MEASUREITEMSTRUCT* mis) override;
  void DrawItem(DRAWITEMSTRUCT* dis) override;
  // The drawing of an owner-drawn item; kinds that draw their items
  // override DrawItem, forms may set this instead.
  std::function<void(const DRAWITEMSTRUCT&)> onDrawItem;

 protected:
  // The message numbers of the kind (LB_... or CB_...).
  struct TMessages {
    UINT add, reset, count, text_len, text, data, set_data, cur_sel, set_cur_sel, find_exact,
        set_item_height;
  };
  virtual const TMessages& Messages() const = 0;
  int item_height_ = 0;
};

// A list box with a vertical scroll bar; coSorted, coOwnerDraw (fixed item
// height from the args value). onClick on a selection change,
// onDoubleClick on a double click.
class TListBox : public TItemList {
 public:
  void Create(const TControlArgs& args) override;
  void Command(WORD code) override;
  std::function<void()> onClick;
  std::function<void()> onDoubleClick;

 protected:
  const TMessages& Messages() const override;
};

// A drop-down list combo box (no edit field); coOwnerDraw gives fixed-height
// owner-drawn items. The args height is the closed box's; the list drops
// below it. onChange when the user picks an item.
class TComboBox : public TItemList {
 public:
  void Create(const TControlArgs& args) override;
  void Command(WORD code) override;
  bool DroppedDown() const;
  std::function<void()> onChange;

 protected:
  const TMessages& Messages() const override;
};

// A group box with a caption. Controls placed in it (parent = the group
// box) are children of its own parent, positioned relative to it.
class TGroupBox : public TControl, public TContainer {
 public:
  void Create(const TControlArgs& args) override;
  HWND ContainerHandle() const override;
  POINT ContainerOrigin() const override;
  TForm* ContainerForm() const override { return form_; }

 private:
  TContainer* parent_ = nullptr;
  TBounds bounds_;
};

// A bevel: an etched frame, or with coTopLine one etched line along its top.
class TBevel : public TControl {
 public:
  void Create(const TControlArgs& args) override;
};

// A picture: a bitmap or an icon, drawn with the form's palette;
// coTransparent lets the parent show through the bitmap's transparent
// colour (the colour of its bottom-left pixel), coCenter centres it.
class TImage : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  void SetBitmap(TBitmap bitmap);    // owned
  void SetBitmapRef(HBITMAP bitmap);  // borrowed; must outlive the image
  void SetIcon(HICON icon);           // borrowed (LoadIcon icons are shared)
  HBITMAP Bitmap() const { return bitmap_; }
  void DrawItem(DRAWITEMSTRUCT* dis) override;

 private:
  TBitmap owned_;
  HBITMAP bitmap_ = nullptr;
  HICON icon_ = nullptr;
  bool transparent_ = false;
  bool center_ = false;
};

// A page container: pages stacked in one place, one shown at a time. The
// args value is the number of pages; controls are placed on Page(i).
class TNotebook : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  TContainer* Page(int index);
  int PageCount() const { return static_cast<int>(pages_.size()); }
  int ActivePage() const { return active_; }
  void SetActivePage(int index);

 private:
  class TPage : public TContainer {
   public:
    TPage(HWND wnd, TForm* form) : wnd_(wnd), form_(form) {}
    HWND ContainerHandle() const override { return wnd_; }
    TForm* ContainerForm() const override { return form_; }

   private:
    HWND wnd_;  // a child of the notebook, destroyed with it
    TForm* form_;
  };
  void SetFocusToForm();
  std::vector<std::unique_ptr<TPage>> pages_;
  int active_ = -1;
};

// A progress bar with a 32-bit unsigned range. The control is given the
// range and position shifted right until the range fits in 15 bits;
// Position() reads back what was set.
class TProgressBar : public TControl {
 public:
  void Create(const TControlArgs& args) override;
  void SetMax(uint32_t max);
  uint32_t Max() const { return max_; }
  void SetPosition(uint32_t position);  // clamped to Max(), repainted at once
  uint32_t Position() const { return position_; }
  void StepBy(uint32_t amount);

 private:
  static constexpr uint32_t kMaxRange = 0x7FFF;  // the control's range
  uint32_t max_ = 100;
  uint32_t position_ = 0;
  int shift_ = 0;
  // The pixels of the bar filled at the last repaint, of its width.
  bool shown_valid_ = false;
  uint64_t shown_filled_ = 0, shown_width_ = 0;
};

// The common animation control playing a clip of the system (an AVI
// resource of shell32.dll).
class TAnimate : public TControl {
 public:
  // The system's copy-file clip.
  static constexpr int aviCopyFile = 161;
  ~TAnimate() override;
  void Create(const TControlArgs& args) override;
  // Opens a clip of shell32.dll; false when the system has none.
  bool OpenCommonAvi(int id);
  // Plays frames from..to (-1: the last), repeat times (-1: for ever);
  // false when the clip has no such frames.
  bool Play(int from, int to, int repeat);
  void Stop();
  bool Opened() const { return opened_; }
  bool Playing() const { return playing_; }

 private:
  TLibrary shell32_;
  bool opened_ = false;
  bool playing_ = false;
};

}  // namespace forms
