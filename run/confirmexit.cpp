#include "run/confirmexit.h"

#include "common/msgbox.h"

bool ConfirmExit() {
  return ShowMessageBoxStr(
             "Setup is not complete. If you quit now, the program will not be installed.\r\n\r\n"
             "You may run the Setup program again at a another time to complete the "
             "installation.\r\n\r\nExit Setup?",
             "Exit Setup", mbkQuestion, MB_YESNO | MB_DEFBUTTON2) == IDYES;
}
