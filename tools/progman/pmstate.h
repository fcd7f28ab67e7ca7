// The groups and items of our Program Manager and the interpreter of its
// DDE command strings. No operating-system calls: the server program feeds
// it the execute strings and requests it receives.
#pragma once
#include <string>
#include <vector>

struct PmItem {
  std::string Name;
  std::string CommandLine;
  std::string IconPath;
  std::string IconIndex;  // as given, empty for none
  std::string XPos, YPos;
  std::string DefDir;
};

struct PmGroup {
  std::string Name;
  std::string FilePath;  // the group file named in the description
  std::vector<PmItem> Items;
};

class PmState {
 public:
  // groups_dir is where the group files would live (for the descriptions).
  explicit PmState(std::string groups_dir = "C:\\WINDOWS");

  // Runs an execute string: one or more commands "[Name(params)]". Stops at
  // the first command that is refused; returns false then (the server
  // answers DDE_FNOTPROCESSED), true when every command was carried out.
  bool Execute(const std::string& text);

  // Answers a request: "GROUPS" gives every group name followed by CR LF; a
  // group's name gives its description. False when there is no such item.
  bool Request(const std::string& item, std::string& reply) const;

  const std::vector<PmGroup>& Groups() const { return groups_; }
  std::vector<PmGroup>& Groups() { return groups_; }
  PmGroup* FindGroup(const std::string& name);
  const std::string& ActiveGroup() const { return active_; }

  // The state as INI text (see docs/progman-peers.md), and back.
  std::string Save() const;
  void Load(const std::string& text);

  // A command's parameters split at commas outside double quotes, trimmed;
  // a parameter that is one quoted string loses its quotes, any other keeps
  // its quotes (a quoted program path followed by arguments). False for an
  // unclosed quote.
  static bool SplitParams(const std::string& text, std::vector<std::string>& params);

 private:
  bool RunOne(const std::string& name, const std::vector<std::string>& params);
  std::string groups_dir_;
  std::vector<PmGroup> groups_;
  std::string active_;
  // ReplaceItem removes an item and keeps its place for the next AddItem.
  bool replace_pending_ = false;
  size_t replace_pos_ = 0;
};
