// Where a form goes on the screen, without Windows: the rule behind
// TForm::CentreOverClientArea. Portable: no <windows.h>.
#pragma once

// A rectangle in screen coordinates, right and bottom exclusive.
struct TScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The top-left corner that centres a window of the given size over a
// rectangle: each half truncated toward zero. The window is then moved into
// bounds (the screen's work area): off the right or bottom edge it moves
// left or up, and its top-left corner is never outside bounds, even when the
// window is larger than they are.
void CentreOver(const TScreenRect& over, const TScreenRect& bounds, int width, int height, int& left,
                int& top);
