// Where a form goes on the screen, without Windows: the rule behind
// TForm::CentreOverClientArea. Portable: no <windows.h>.
#pragma once

// The top-left corner that centres a window of the given size over a client
// rectangle (screen coordinates): each half truncated toward zero, negative
// results become 0.
void CentreOver(int client_left, int client_top, int client_right, int client_bottom, int width,
                int height, int& left, int& top);
