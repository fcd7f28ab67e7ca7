// The windowing layer: forms (one top-level window each, owning their
// controls), the one message loop with its keyboard routing, fonts, and the
// base of every control. The control kinds are in forms/controls.h.
//
// A click travels: the message loop (ProcessMessage) dispatches WM_COMMAND
// to the form's window procedure (TForm::WndProc), which hands it to the
// control that sent it (TControl::Command), which calls the handler the form
// set (onClick).
#pragma once
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "common/winhandles.h"

namespace forms {

// ---------------------------------------------------------------------------
// Fonts

// A font as the layouts give it: a face with a size in points or a height in
// pixels (the character height, without the internal leading).
struct TFontSpec {
  std::string face = "Arial";
  int points = 8;  // used when pixels is 0
  int pixels = 0;
  bool bold = false;
  bool italic = false;
  COLORREF color = CLR_INVALID;  // text colour; CLR_INVALID: the system's

  static TFontSpec Points(const std::string& face, int points) {
    TFontSpec f;
    f.face = face;
    f.points = points;
    return f;
  }
  static TFontSpec Pixels(const std::string& face, int pixels) {
    TFontSpec f;
    f.face = face;
    f.pixels = pixels;
    return f;
  }
  TFontSpec Bold() const {
    TFontSpec f = *this;
    f.bold = true;
    return f;
  }
  TFontSpec Colored(COLORREF c) const {
    TFontSpec f = *this;
    f.color = c;
    return f;
  }
  // The LOGFONT height: points at the screen's resolution, negative.
  int LogicalHeight() const;
};

// The font a TFontSpec describes, created once and kept until the program
// ends.
HFONT GetFont(const TFontSpec& font_spec);

// ---------------------------------------------------------------------------
// The message loop

// Modal results (the button identifiers of Windows).
enum : int {
  mrNone = 0,
  mrOk = IDOK,
  mrCancel = IDCANCEL,
  mrAbort = IDABORT,
  mrRetry = IDRETRY,
  mrIgnore = IDIGNORE,
  mrYes = IDYES,
  mrNo = IDNO,
};

// Loads the common controls (progress bar, animation). Called by every form
// constructor; cheap after the first time.
void InitControls();

// Handles every pending message and returns (the check points of long work).
// A WM_QUIT met here is kept for the outer loop.
void ProcessMessages();
// Waits for one message and handles it; false when it was WM_QUIT.
bool HandleMessage();
// The message loop of the program: until WM_QUIT (see Terminate). Returns
// the quit code.
int Run();
// Asks the loop to end (posts WM_QUIT).
void Terminate(int code = 0);
bool Terminated();

// The standard exception box: the message, caption "Setup", stop icon, OK.
void ShowException(const std::exception& e);
// The default handling of an exception that leaves an event handler (call
// it inside a catch block): the silent abort is dropped, anything else is
// shown with ShowException. Every window procedure of the layer ends an
// exception here, so none crosses the system's message dispatch, and the
// loop goes on.
void HandleException();

// One message through the keyboard routing (Esc, Enter, Tab) and dispatch.
void ProcessMessage(MSG& msg);

class TForm;
class TControl;

// The form whose top-level window holds wnd (wnd itself or an ancestor).
TForm* FormOfWindow(HWND wnd);
// The control object of a child window created by this layer, or nullptr.
TControl* ControlOfWindow(HWND wnd);

// ---------------------------------------------------------------------------
// Where controls are placed

// A window that holds controls: the form's client area, a page of a
// notebook, or a group box (whose controls are children of its parent,
// shifted by its position).
class TContainer {
 public:
  virtual ~TContainer() = default;
  virtual HWND ContainerHandle() const = 0;
  virtual POINT ContainerOrigin() const { return POINT{0, 0}; }
  virtual TForm* ContainerForm() const = 0;
};

// Left, top, width, height in pixels, relative to the container. A width or
// height of 0 lets a label size itself to its text.
struct TBounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Options of a control at creation. Each kind uses the ones that make sense
// for it and ignores the rest.
enum TControlOption : uint32_t {
  coHidden = 1u << 0,
  coDisabled = 1u << 1,
  coWordWrap = 1u << 2,     // label: wrap at word boundaries
  coTransparent = 1u << 3,  // label, image: the parent shows through
  coNoPrefix = 1u << 4,     // label: '&' is no accelerator
  coDefault = 1u << 5,      // button: pressed by Enter
  coCancel = 1u << 6,       // button: pressed by Esc
  coSorted = 1u << 7,       // list box, combo box
  coOwnerDraw = 1u << 8,    // list box, combo box: fixed-height owner-drawn items
  coReadOnly = 1u << 9,     // edit, memo
  coVScroll = 1u << 10,     // memo, list box
  coChecked = 1u << 11,     // check box, radio button
  coGroup = 1u << 12,       // first of a group of radio buttons
  coWantReturn = 1u << 13,  // memo: Enter makes a new line instead of the default button
  coButtonFace = 1u << 14,  // memo, edit: button-face background
  coNoTabStop = 1u << 15,
  coTopLine = 1u << 16,     // bevel: one etched line at its top edge
  coCenter = 1u << 17,      // label, image: centred
};

// Everything a control needs at creation.
struct TControlArgs {
  TContainer* parent = nullptr;
  TBounds bounds;
  std::string text;
  uint32_t options = 0;
  // Kind-specific number: edit and memo maximum length, button modal
  // result, list and combo item height.
  int value = 0;
  const TFontSpec* font = nullptr;  // nullptr: the form's font
  DWORD style = 0;                  // extra Win32 style bits
  DWORD ex_style = 0;
};

// One line of a form's layout table. The order of the table is the
// creation order, which is the tab order.
struct TLayoutItem {
  TControl* control;
  TBounds bounds;
  const char* text = "";
  uint32_t options = 0;
  int value = 0;
  const TFontSpec* font = nullptr;
  TContainer* parent = nullptr;  // nullptr: the form itself
};

// ---------------------------------------------------------------------------
// Controls

// The base of every control: one child window, owned (destroyed with the
// object, or released when its parent destroyed it first), with the
// messages its parent receives about it reflected to it.
class TControl {
 public:
  TControl() = default;
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  // Creates the window. Raises Exception when Windows refuses.
  virtual void Create(const TControlArgs& args) = 0;

  HWND Handle() const { return wnd_.get(); }
  TForm* Form() const { return form_; }
  int Id() const;

  std::string Text() const;
  virtual void SetText(const std::string& text);
  bool Visible() const;
  void SetVisible(bool visible);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  void SetFocus();
  void Repaint();  // invalidates and paints at once
  void SetFont(const TFontSpec& font);
  const TFontSpec& Font() const { return font_; }
  RECT BoundsRect() const;  // relative to the parent window

  // Reflected from the parent: a WM_COMMAND notification code.
  virtual void Command(WORD /*code*/) {}
  // Reflected WM_NOTIFY; the result of the message.
  virtual LRESULT Notify(NMHDR* /*hdr*/) { return 0; }
  // Reflected WM_DRAWITEM / WM_MEASUREITEM of owner-drawn controls.
  virtual void DrawItem(DRAWITEMSTRUCT* /*dis*/) {}
  virtual void MeasureItem(MEASUREITEMSTRUCT* /*mis*/) {}
  // Reflected WM_CTLCOLOR*: the background brush, or nullptr for the
  // default handling.
  virtual HBRUSH CtlColor(HDC dc);
  // Enter with the focus on this control goes to the control itself
  // instead of the form's default button.
  virtual bool WantsReturn() const { return false; }
  // The control's own window messages, before its class sees them; true
  // when handled (result set). Kinds that draw themselves hook in here.
  virtual bool HandleMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT& /*result*/) {
    return false;
  }
  // Presses the control as the user would (buttons; Enter and Esc use it).
  virtual void Click() {}
  // Calls the original window procedure of the control's class.
  LRESULT CallDefault(UINT msg, WPARAM wp, LPARAM lp);

 protected:
  // Creates the window of a class with the common arguments applied:
  // position within the container, font, visibility, enabled state, the
  // subclassing that reflects messages to this object.
  void CreateWindowOf(const char* class_name, const TControlArgs& args, DWORD style,
                      DWORD ex_style = 0);
  static LRESULT CALLBACK ControlProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

  TWindowHandle wnd_;
  TForm* form_ = nullptr;
  TFontSpec font_;
  TBrush brush_;  // background of CtlColor when the kind sets one
  WNDPROC old_proc_ = nullptr;
};

// ---------------------------------------------------------------------------
// Forms

enum class TBorderStyle {
  Dialog,     // caption, system menu (close box only), no resizing
  Sizeable,   // caption, system menu, minimize/maximize, resizable
  None,       // a plain popup
};

struct TFormArgs {
  std::string caption;
  int client_width = 0;
  int client_height = 0;
  TBorderStyle border = TBorderStyle::Dialog;
  HWND owner = nullptr;
  TFontSpec font;
  bool stay_on_top = false;
  // Closing the main form ends the message loop.
  bool main_form = false;
};

// A form: one top-level window. Derived forms hold their controls as
// members, create the window with CreateForm and the controls with
// CreateControls from their layout table, in their constructor, and then
// run their own FormCreate.
class TForm : public TContainer {
 public:
  TForm();
  ~TForm() override;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  HWND Handle() const { return wnd_.get(); }

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  void SetBounds(int left, int top, int width, int height);
  RECT WindowRect() const;  // screen coordinates
  // Centres the form over the client area of over, or over the screen's work
  // area when over is null, and keeps it inside the work area (CentreOver).
  // Every form that is centred is centred by this.
  void CentreOverClientArea(HWND over);
  void Show();              // modeless; FormShow runs before the window appears
  void Hide();
  bool Visible() const;
  // Shows the form modally: every other enabled window of the program is
  // disabled until the form closes, then enabled again and the window that
  // was active before is activated. Returns the modal result.
  int ShowModal();
  bool Modal() const { return modal_; }
  int ModalResult() const { return modal_result_; }
  // Setting a result other than mrNone ends ShowModal once the close query
  // agrees.
  void SetModalResult(int result) { modal_result_ = result; }
  // Asks the form to close: a modal form ends with mrCancel (after the
  // close query), a modeless one hides when the close query agrees.
  void Close();
  void BringToFront();

  // The button that Enter and Esc press (set by the layout from coDefault and
  // coCancel, or here).
  void SetDefaultButton(TControl* button) { default_button_ = button; }
  void SetCancelButton(TControl* button) { cancel_button_ = button; }
  TControl* DefaultButton() const { return default_button_; }
  TControl* CancelButton() const { return cancel_button_; }

  // The palette the form realises when Windows asks (WM_QUERYNEWPALETTE,
  // WM_PALETTECHANGED): owned forms answer with the background window's.
  std::function<HPALETTE()> onQueryPalette;
  HPALETTE Palette() const { return onQueryPalette ? onQueryPalette() : nullptr; }

  // TContainer
  HWND ContainerHandle() const override { return wnd_.get(); }
  TForm* ContainerForm() const override { return const_cast<TForm*>(this); }

  // The window procedure of every form (for the class registration).
  static WNDPROC FormProcAddress();
  // A new control id of this form.
  int NextControlId() { return next_id_++; }
  const TFontSpec& FormFont() const { return font_; }

 protected:
  // Creates the window (hidden), sized to the client area, owned by
  // args.owner. Raises Exception when Windows refuses.
  void CreateForm(const TFormArgs& args);
  // Creates the controls of a layout table, in its order.
  void CreateControls(const TLayoutItem* items, size_t count);
  template <size_t N>
  void CreateControls(const TLayoutItem (&items)[N]) {
    CreateControls(items, N);
  }

  // Handlers under their form names; the defaults do nothing.
  virtual void FormShow() {}
  // May the form close now? The default allows it.
  virtual bool FormCloseQuery() { return true; }
  // After the close was accepted, before the window hides.
  virtual void FormClose() {}
  // The form's own window messages before the layer handles them; true when
  // handled (result set).
  virtual bool HandleMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT& /*result*/) {
    return false;
  }

  // Runs the close query of a modal form with a result set; clears the
  // result when it refuses.
  void CloseModal();

 private:
  friend void ProcessMessage(MSG& msg);
  static LRESULT CALLBACK FormProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  // Esc to the cancel button, Enter to the focused push button or the
  // default button; true when the key was taken.
  bool RouteKey(const MSG& msg);
  void RealizePalette(bool background);
  void RestoreFocus();

  TWindowHandle wnd_;
  TFontSpec font_;
  bool main_form_ = false;
  bool modal_ = false;
  int modal_result_ = mrNone;
  int next_id_ = 100;
  TControl* default_button_ = nullptr;
  TControl* cancel_button_ = nullptr;
  HWND saved_focus_ = nullptr;
};

// Registers the window class of containers (forms' pages and the like)
// that reflect control messages to their controls; returns its name.
const char* ContainerClassName();
// The reflection shared by forms and containers: true when msg concerned a
// control of this layer (result set).
bool ReflectToControl(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

}  // namespace forms
