// The About box of the setup program itself, opened from the background
// window's system menu.
#pragma once
#include <windows.h>

#include "forms/controls.h"
#include "forms/forms.h"

class TAboutForm : public forms::TForm {
 public:
  // owner: the background window.
  explicit TAboutForm(HWND owner);

  forms::TLabel Label1;
  forms::TLabel Label3;
  forms::TBevel Bevel1;
  forms::TLabel Label2;
  forms::TLabel Label5;
  forms::TLabel Label6;
  forms::TLabel Label4;
  forms::TButton Button1;
};

// The texts of the box.
extern const char* const SAboutCaption;
extern const char* const SAboutProduct;
extern const char* const SAboutVersion;
extern const char* const SAboutAuthor;
extern const char* const SAboutWeb;
extern const char* const SAboutMail;
extern const char* const SAboutCopyright;
