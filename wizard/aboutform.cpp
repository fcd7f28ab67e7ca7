#include "wizard/aboutform.h"

using namespace forms;

const char* const SAboutCaption = "About Quorvel";
const char* const SAboutProduct = "QuorvelR";
const char* const SAboutVersion = "Version 2.00.312";
const char* const SAboutAuthor = "Written and published by the Quorvel Setup developers";
const char* const SAboutWeb = "World Wide Web: http://quorvel.example/";
const char* const SAboutMail = "E-mail : setup@quorvel.example";
const char* const SAboutCopyright = "Copyright (C) 2026 the Quorvel Setup developers";

TAboutForm::TAboutForm(HWND owner) {
  TFormArgs f;
  f.caption = SAboutCaption;
  f.client_width = 344;
  f.client_height = 113;
  f.border = TBorderStyle::Dialog;
  f.owner = owner;
  f.font = TFontSpec::Pixels("MS Sans Serif", 11);
  CreateForm(f);
  // OK is the default button and has no cancel role: Esc does nothing.
  const TLayoutItem layout[] = {
      {&Label1, {8, 8, 0, 0}, SAboutProduct},
      {&Label3, {8, 24, 0, 0}, SAboutVersion},
      {&Bevel1, {8, 40, 329, 2}, "", coTopLine},
      {&Label2, {8, 48, 0, 0}, SAboutAuthor},
      {&Label5, {8, 64, 0, 0}, SAboutWeb},
      {&Label6, {8, 76, 0, 0}, SAboutMail},
      {&Label4, {8, 96, 0, 0}, SAboutCopyright},
      {&Button1, {264, 8, 75, 25}, "OK", coDefault, mrOk},
  };
  CreateControls(layout);
  // Centred over the owner, like every dialog of the program.
  CentreOverClientArea(owner);
}
