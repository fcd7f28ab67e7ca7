#include "dde/progman.h"

#include "common/exceptions.h"
#include "common/strutil.h"

std::string ProgmanCreateGroupCommand(const std::string& group) {
  return "[CreateGroup(\"" + group + "\")]";
}

std::string ProgmanShowGroupCommand(const std::string& group) {
  return "[ShowGroup(\"" + group + "\",1)]";
}

std::string ProgmanReplaceItemCommand(const std::string& item) {
  return "[ReplaceItem(\"" + item + "\")]";
}

std::string ProgmanDeleteItemCommand(const std::string& item) {
  return "[DeleteItem(\"" + item + "\")]";
}

std::string ProgmanDeleteGroupCommand(const std::string& group) {
  return "[DeleteGroup(\"" + group + "\")]";
}

std::string ProgmanAddItemCommand(const std::string& command, const std::string& parameters,
                                  const std::string& name, const std::string& icon_file,
                                  int32_t icon_index, const std::string& working_dir) {
  std::string s = "[AddItem(" + command;
  if (!parameters.empty()) s += " " + parameters;
  s += ",\"" + name + "\"";
  if (!icon_file.empty())
    s += Format(",%s,%d", icon_file.c_str(), static_cast<int>(icon_index));
  else
    s += ",,";
  if (!working_dir.empty()) s += ",,," + working_dir;
  s += ")]";
  return s;
}

namespace {
// The text of a reply: up to the first NUL or the end of the data.
size_t TextLength(const char* data, size_t size) {
  if (data == nullptr) return 0;
  size_t n = 0;
  while (n < size && data[n] != '\0') ++n;
  return n;
}
}  // namespace

std::vector<std::string> ProgmanParseGroups(const char* data, size_t size) {
  std::vector<std::string> groups;
  size_t len = TextLength(data, size);
  size_t pos = 0;
  while (pos < len) {
    size_t cr = pos;
    while (cr < len && data[cr] != '\r') ++cr;
    groups.emplace_back(data + pos, cr - pos);
    if (cr >= len) break;  // no carriage return follows
    pos = cr + 2;          // past CR LF; a CR at the very end ends the list
  }
  return groups;
}

bool ProgmanFindItemCount(const char* data, size_t size, size_t& count_start) {
  size_t len = TextLength(data, size);
  size_t pos = 0;
  const char marks[4] = {'"', '"', ',', ','};
  for (char mark : marks) {
    while (pos < len && data[pos] != mark) ++pos;
    if (pos >= len) return false;
    ++pos;
  }
  count_start = pos;
  return true;
}

bool ProgmanGroupIsEmpty(const char* data, size_t size) {
  size_t start = 0;
  if (!ProgmanFindItemCount(data, size, start))
    throw Exception("An error occured while trying to request data from Progman using DDE.");
  return start < TextLength(data, size) && data[start] == '0';
}
