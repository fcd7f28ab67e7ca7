#include <windows.h>

#include "common/syshelpers.h"
#include "main/dirconst.h"

std::string NewTempFileName(const std::string& directory) {
  return NewTempFileName(directory, FileOrDirExists);
}
