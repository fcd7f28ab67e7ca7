#include "common/pathutil.h"

#include <vector>

#include "common/strutil.h"

bool IsDriveRoot(const std::string& path) {
  const size_t n = path.size();
  return n >= 2 && path[n - 2] == ':' && path[n - 1] == '\\';
}

bool IsFullPath(const std::string& path) {
  const std::string& p = path;
  const bool letter = !p.empty() && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
  if (letter && p.size() >= 3 && p[1] == ':' && p[2] == '\\') return true;
  if (p.size() < 5 || p[0] != '\\' || p[1] != '\\' || p[2] == '\\') return false;
  const size_t share = p.find('\\', 2);
  return share != std::string::npos && share + 1 < p.size() && p[share + 1] != '\\';
}

std::string ResolveDotParts(const std::string& path) {
  if (!IsFullPath(path)) return path;
  // The root: "C:\" or "\\server\share".
  size_t rest = 3;
  if (path[0] == '\\') {
    rest = path.find('\\', path.find('\\', 2) + 1);
    if (rest == std::string::npos) rest = path.size();
  }
  std::string root = path.substr(0, rest);
  std::vector<std::string> parts;
  size_t start = rest;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = root;
  for (const std::string& part : parts) out += (out.back() == '\\' ? "" : "\\") + part;
  return out;
}

std::string EnsureTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() != '\\') return path + '\\';
  return path;
}

std::string StripTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

std::string StripTrailingBackslashExceptRoot(const std::string& path) {
  const size_t n = path.size();
  if (n >= 2 && path[n - 1] == '\\' && path[n - 2] != ':') return path.substr(0, n - 1);
  return path;
}

std::string QuoteIfHasSpace(const std::string& text) {
  std::string s = Trim(text);
  if (s.find(' ') == std::string::npos) return s;
  // A text with a space is never shorter than one character, so front and
  // back exist; a lone quote character holds no space.
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s;
  return '"' + s + '"';
}

void ReplaceSubstrings(std::string& s, const std::string& find, const std::string& replacement) {
  if (find.empty()) return;
  size_t pos = 0;
  while (s.size() - pos >= find.size()) {
    if (s.compare(pos, find.size(), find) == 0) {
      s.replace(pos, find.size(), replacement);
      pos += replacement.size();
    } else {
      ++pos;
    }
  }
}
