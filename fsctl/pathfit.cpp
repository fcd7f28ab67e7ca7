#include "fsctl/pathfit.h"

#include <algorithm>

#include "common/strutil.h"

void ElideFirstDirectory(std::string& part) {
  if (part == "\\") {
    part.clear();
    return;
  }
  const bool leading = !part.empty() && part[0] == '\\';
  if (leading) part.erase(0, 1);
  // "...\" left by an earlier pass.
  if (!part.empty() && part[0] == '.') part.erase(0, std::min<size_t>(4, part.size()));
  const size_t slash = part.find('\\');
  if (slash != std::string::npos)
    part.replace(0, slash + 1, "...\\");
  else
    part.clear();
  if (leading) part.insert(0, 1, '\\');
}

std::string FitPathToWidth(const std::string& path, const TTextWidthFunc& text_width, int width) {
  std::string result = path;
  std::string dir = ExtractFilePath(path);
  const std::string name = path.substr(dir.size());
  std::string drive;
  if (dir.size() >= 2 && dir[1] == ':') {
    drive = dir.substr(0, 2);
    dir.erase(0, 2);
  }
  while ((!dir.empty() || !drive.empty()) && text_width(result) > width) {
    if (dir == "\\...\\") {
      drive.clear();
      dir = "...\\";
    } else if (dir.empty()) {
      drive.clear();
    } else {
      ElideFirstDirectory(dir);
    }
    result = drive + dir + name;
  }
  return result;
}
