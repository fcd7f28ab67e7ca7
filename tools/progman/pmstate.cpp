#include "tools/progman/pmstate.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool IsInteger(const std::string& s) {
  size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  if (i >= s.size()) return false;
  for (; i < s.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

bool OptionalInteger(const std::vector<std::string>& p, size_t i) {
  return i >= p.size() || p[i].empty() || IsInteger(p[i]);
}

// The item name Program Manager gives an item added without one: the
// program's file name without its directory and extension.
std::string NameFromCommandLine(const std::string& cmd) {
  std::string prog = cmd;
  if (!prog.empty() && prog[0] == '"') {
    size_t q = prog.find('"', 1);
    prog = prog.substr(1, q == std::string::npos ? std::string::npos : q - 1);
  } else {
    size_t sp = prog.find(' ');
    if (sp != std::string::npos) prog.resize(sp);
  }
  size_t slash = prog.find_last_of("\\/:");
  if (slash != std::string::npos) prog = prog.substr(slash + 1);
  size_t dot = prog.rfind('.');
  if (dot != std::string::npos && dot > 0) prog.resize(dot);
  return prog;
}

std::string GroupFileName(const std::string& dir, const std::string& group) {
  std::string base;
  for (char c : group) {
    if (std::isalnum(static_cast<unsigned char>(c))) base += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base.size() == 8) break;
  }
  if (base.empty()) base = "GROUP";
  return dir + "\\" + base + ".GRP";
}

}  // namespace

PmState::PmState(std::string groups_dir) : groups_dir_(std::move(groups_dir)) {}

PmGroup* PmState::FindGroup(const std::string& name) {
  for (auto& g : groups_)
    if (EqualNoCase(g.Name, name)) return &g;
  return nullptr;
}

bool PmState::SplitParams(const std::string& text, std::vector<std::string>& params) {
  params.clear();
  if (Trim(text).empty()) return true;
  std::string cur;
  bool in_quote = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ',';
    if (in_quote) {
      if (i == text.size()) return false;  // unclosed quote
      if (c == '"') in_quote = false;
      cur += c;
    } else if (c == '"') {
      in_quote = true;
      cur += c;
    } else if (c == ',') {
      std::string t = Trim(cur);
      if (t.size() >= 2 && t.front() == '"' && t.back() == '"' &&
          t.find('"', 1) == t.size() - 1)
        t = t.substr(1, t.size() - 2);
      params.push_back(t);
      cur.clear();
    } else {
      cur += c;
    }
  }
  return true;
}

bool PmState::Execute(const std::string& text) {
  size_t i = 0;
  bool any = false;
  while (true) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    if (i >= text.size()) break;
    if (text[i] != '[') return false;
    // Find the closing "]" outside quotes.
    size_t j = i + 1;
    bool in_quote = false;
    for (; j < text.size(); ++j) {
      if (text[j] == '"') in_quote = !in_quote;
      else if (text[j] == ']' && !in_quote) break;
    }
    if (j >= text.size()) return false;
    std::string body = Trim(text.substr(i + 1, j - i - 1));
    i = j + 1;
    std::string name;
    std::vector<std::string> params;
    size_t open = body.find('(');
    if (open == std::string::npos) {
      name = body;
    } else {
      if (body.back() != ')') return false;
      name = Trim(body.substr(0, open));
      if (!SplitParams(body.substr(open + 1, body.size() - open - 2), params)) return false;
    }
    if (!RunOne(name, params)) return false;
    any = true;
  }
  return any;
}

bool PmState::RunOne(const std::string& name, const std::vector<std::string>& p) {
  if (EqualNoCase(name, "CreateGroup")) {
    if (p.empty() || p.size() > 2 || p[0].empty()) return false;
    PmGroup* g = FindGroup(p[0]);
    if (g == nullptr) {
      PmGroup ng;
      ng.Name = p[0];
      ng.FilePath = (p.size() > 1 && !p[1].empty()) ? p[1] : GroupFileName(groups_dir_, p[0]);
      groups_.push_back(ng);
      g = &groups_.back();
    }
    active_ = g->Name;
    replace_pending_ = false;
    return true;
  }
  if (EqualNoCase(name, "ShowGroup")) {
    if (p.size() != 2 || !IsInteger(p[1])) return false;
    long cmd = std::strtol(p[1].c_str(), nullptr, 10);
    if (cmd < 1 || cmd > 8) return false;
    PmGroup* g = FindGroup(p[0]);
    if (g == nullptr) return false;
    active_ = g->Name;
    replace_pending_ = false;
    return true;
  }
  if (EqualNoCase(name, "DeleteGroup")) {
    if (p.empty() || p.size() > 2) return false;
    for (size_t k = 0; k < groups_.size(); ++k)
      if (EqualNoCase(groups_[k].Name, p[0])) {
        if (EqualNoCase(active_, groups_[k].Name)) active_.clear();
        groups_.erase(groups_.begin() + static_cast<std::ptrdiff_t>(k));
        replace_pending_ = false;
        return true;
      }
    return false;
  }
  // The item commands work on the active group.
  PmGroup* g = active_.empty() ? nullptr : FindGroup(active_);
  if (EqualNoCase(name, "AddItem")) {
    if (g == nullptr || p.empty() || p.size() > 9 || p[0].empty()) return false;
    if (!OptionalInteger(p, 3) || !OptionalInteger(p, 4) || !OptionalInteger(p, 5) ||
        !OptionalInteger(p, 7) || !OptionalInteger(p, 8))
      return false;
    PmItem it;
    it.CommandLine = p[0];
    it.Name = p.size() > 1 && !p[1].empty() ? p[1] : NameFromCommandLine(p[0]);
    if (p.size() > 2) it.IconPath = p[2];
    if (p.size() > 3) it.IconIndex = p[3];
    if (p.size() > 4) it.XPos = p[4];
    if (p.size() > 5) it.YPos = p[5];
    if (p.size() > 6) it.DefDir = p[6];
    if (replace_pending_ && replace_pos_ <= g->Items.size())
      g->Items.insert(g->Items.begin() + static_cast<std::ptrdiff_t>(replace_pos_), it);
    else
      g->Items.push_back(it);
    replace_pending_ = false;
    return true;
  }
  if (EqualNoCase(name, "DeleteItem") || EqualNoCase(name, "ReplaceItem")) {
    if (g == nullptr || p.size() != 1) return false;
    for (size_t k = 0; k < g->Items.size(); ++k)
      if (EqualNoCase(g->Items[k].Name, p[0])) {
        g->Items.erase(g->Items.begin() + static_cast<std::ptrdiff_t>(k));
        replace_pending_ = EqualNoCase(name, "ReplaceItem");
        replace_pos_ = k;
        return true;
      }
    return false;
  }
  return false;  // a command we do not know
}

bool PmState::Request(const std::string& item, std::string& reply) const {
  reply.clear();
  if (EqualNoCase(item, "GROUPS")) {
    for (const auto& g : groups_) reply += g.Name + "\r\n";
    return true;
  }
  for (const auto& g : groups_)
    if (EqualNoCase(g.Name, item)) {
      // "name",group file,item count,show command,x,y,width,height,minimised
      reply = "\"" + g.Name + "\"," + g.FilePath + "," + std::to_string(g.Items.size()) +
              ",1,0,0,0,0,0\r\n";
      for (const auto& it : g.Items)
        reply += "\"" + it.Name + "\",\"" + it.CommandLine + "\"," + it.DefDir + "," +
                 it.IconPath + "," + it.XPos + "," + it.YPos + "," + it.IconIndex + ",0,0\r\n";
      return true;
    }
  return false;
}

// [Groups] Count=n, 1=name ...; [Group1] File=..., Items=m, Name1=..,
// Command1=.., IconPath1=.., IconIndex1=.., XPos1=.., YPos1=.., DefDir1=..
std::string PmState::Save() const {
  std::ostringstream o;
  o << "[Groups]\r\nCount=" << groups_.size() << "\r\n";
  for (size_t i = 0; i < groups_.size(); ++i) o << i + 1 << "=" << groups_[i].Name << "\r\n";
  o << "Active=" << active_ << "\r\n";
  for (size_t i = 0; i < groups_.size(); ++i) {
    const PmGroup& g = groups_[i];
    o << "\r\n[Group" << i + 1 << "]\r\nName=" << g.Name << "\r\nFile=" << g.FilePath
      << "\r\nItems=" << g.Items.size() << "\r\n";
    for (size_t k = 0; k < g.Items.size(); ++k) {
      const PmItem& it = g.Items[k];
      size_t n = k + 1;
      o << "Name" << n << "=" << it.Name << "\r\nCommand" << n << "=" << it.CommandLine
        << "\r\nIconPath" << n << "=" << it.IconPath << "\r\nIconIndex" << n << "="
        << it.IconIndex << "\r\nXPos" << n << "=" << it.XPos << "\r\nYPos" << n << "="
        << it.YPos << "\r\nDefDir" << n << "=" << it.DefDir << "\r\n";
    }
  }
  return o.str();
}

void PmState::Load(const std::string& text) {
  std::map<std::string, std::map<std::string, std::string>> ini;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    ini[section][Trim(line.substr(0, eq))] = line.substr(eq + 1);
  }
  groups_.clear();
  auto& gs = ini["Groups"];
  long count = std::strtol(gs["Count"].c_str(), nullptr, 10);
  for (long i = 1; i <= count && i <= 10000; ++i) {
    auto& sec = ini["Group" + std::to_string(i)];
    PmGroup g;
    g.Name = sec.count("Name") ? sec["Name"] : gs[std::to_string(i)];
    if (g.Name.empty()) continue;
    g.FilePath = sec.count("File") ? sec["File"] : GroupFileName(groups_dir_, g.Name);
    long n = std::strtol(sec["Items"].c_str(), nullptr, 10);
    for (long k = 1; k <= n && k <= 10000; ++k) {
      std::string s = std::to_string(k);
      PmItem it;
      it.Name = sec["Name" + s];
      it.CommandLine = sec["Command" + s];
      it.IconPath = sec["IconPath" + s];
      it.IconIndex = sec["IconIndex" + s];
      it.XPos = sec["XPos" + s];
      it.YPos = sec["YPos" + s];
      it.DefDir = sec["DefDir" + s];
      g.Items.push_back(it);
    }
    groups_.push_back(g);
  }
  active_ = gs["Active"];
  if (!active_.empty() && FindGroup(active_) == nullptr) active_.clear();
  replace_pending_ = false;
}
