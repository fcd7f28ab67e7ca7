// The "Exit Setup" question asked before the user leaves an unfinished
// setup: by the background window, the install window and the next-disk
// dialog.
#pragma once

// Asks whether to quit (Yes and No, No the default); true for Yes.
bool ConfirmExit();
