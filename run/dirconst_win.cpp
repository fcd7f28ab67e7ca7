#include <windows.h>

#include "common/syshelpers.h"
#include "run/dirconst.h"

std::string NewTempFileName(const std::string& directory) {
  return NewTempFileName(directory, FileOrDirExists);
}
