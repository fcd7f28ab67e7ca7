#include "wizard/grouplist.h"

#include <windows.h>

#include "common/syshelpers.h"
#include "common/winhandles.h"
#include "dde/dde.h"
#include "dde/progman.h"

namespace {

void AddShellGroups(const std::string& folder, std::vector<std::string>& groups) {
  WIN32_FIND_DATAA fd;
  TFindHandle find(FindFirstFileA((folder + "*").c_str(), &fd));
  if (!find) return;
  do {
    const std::string name = fd.cFileName;
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
      groups.push_back(name);
  } while (FindNextFileA(find.get(), &fd));
}

// Releases what the GROUPS request took, in the order the conversation
// needs: the reply's data, the conversation, "GROUPS", "PROGMAN".
struct TGroupsConversation {
  TDDE& dde;
  HSZ service = nullptr, item = nullptr;
  HCONV conv = nullptr;
  HDDEDATA data = nullptr;
  explicit TGroupsConversation(TDDE& d) : dde(d) {}
  ~TGroupsConversation() {
    try {
      dde.UnaccessData(data);
      if (conv) dde.Disconnect(conv);
      if (item) dde.FreeStringHandle(item);
      if (service) dde.FreeStringHandle(service);
    } catch (...) {
    }
  }
};

void AddProgmanGroups(std::vector<std::string>& groups) {
  TDDE dde;
  TGroupsConversation c(dde);
  c.service = dde.CreateStringHandle(ProgmanService);
  c.item = dde.CreateStringHandle(ProgmanGroupsItem);
  c.conv = dde.Connect(c.service, c.service);
  const BYTE* bytes = nullptr;
  DWORD size = 0;
  dde.Request(c.conv, c.item, CF_TEXT, c.data, bytes, size);
  for (const std::string& g : ProgmanParseGroups(reinterpret_cast<const char*>(bytes), size))
    groups.push_back(g);
}

}  // namespace

std::vector<std::string> ListProgramGroups(bool is_admin) {
  std::vector<std::string> groups;
  try {
    const std::string folder = GetProgramsFolder(is_admin, true);
    if (!folder.empty())
      AddShellGroups(folder, groups);
    else
      AddProgmanGroups(groups);
  } catch (...) {
    // The list keeps what was found; no message.
  }
  return groups;
}

bool GetDriveFreeSpace(char letter, uint32_t& free_bytes) {
  const char root[] = {letter, ':', '\\', '\0'};
  DWORD sectors = 0, bytes = 0, free_clusters = 0, clusters = 0;
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const BOOL ok = GetDiskFreeSpaceA(root, &sectors, &bytes, &free_clusters, &clusters);
  SetErrorMode(old_mode);
  if (!ok) return false;
  // Drives with more than 4 GB free (every disk of today's machines) would
  // wrap in 32 bits and could read as nearly full: the product is taken in
  // 64 bits and held at the largest 32-bit value.
  const uint64_t total = static_cast<uint64_t>(bytes) * sectors * free_clusters;
  free_bytes = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
  return true;
}
