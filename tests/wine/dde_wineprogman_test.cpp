// The same DDE client against Wine's own Program Manager (its desktop
// process answers "PROGMAN" when there is a display): an independent peer.
// What it supports is recorded here and in docs/progman-peers.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/exceptions.h"
#include "install/dde.h"
#include "install/progman.h"

namespace {

struct Peer {
  TDDE dde;
  HSZ service = nullptr;
  HCONV conv = nullptr;
  Peer() {
    service = dde.CreateStringHandle(ProgmanService);
    conv = dde.Connect(service, service);
  }
  ~Peer() {
    dde.Disconnect(conv);
    dde.FreeStringHandle(service);
  }
  // The text of a request, or the error message prefixed with "!".
  std::string Request(const std::string& item) {
    HSZ h = dde.CreateStringHandle(item);
    HDDEDATA data = nullptr;
    std::string out;
    try {
      const BYTE* bytes = nullptr;
      DWORD size = 0;
      dde.Request(conv, h, CF_TEXT, data, bytes, size);
      const char* p = reinterpret_cast<const char*>(bytes);
      size_t n = 0;
      while (n < size && p[n] != '\0') ++n;
      out.assign(p, n);
    } catch (const Exception& e) {
      out = std::string("!") + e.what();
    }
    dde.UnaccessData(data);
    dde.FreeStringHandle(h);
    return out;
  }
};

}  // namespace

TEST(WineProgmanPeer, CommandsAndRequests) {
  Peer p;
  const std::string g = "QvPeerGroup";
  auto exec = [&](const std::string& cmd) { return p.dde.Execute(p.conv, cmd, true); };
  // What the icon step needs to succeed.
  EXPECT_TRUE(exec(ProgmanCreateGroupCommand(g)));
  EXPECT_TRUE(exec(ProgmanShowGroupCommand(g)));
  EXPECT_TRUE(exec(ProgmanAddItemCommand("C:\\windows\\notepad.exe", "", "Pad", "", 0, "")));
  // Recorded, not required.
  bool unknown = exec("[NoSuchCommand(\"x\")]");
  bool full = exec(ProgmanAddItemCommand("\"C:\\Program Files\\x.exe\"", "/a", "Full",
                                         "C:\\windows\\notepad.exe", 1, "\"C:\\Program Files\""));
  bool replace = exec(ProgmanReplaceItemCommand("Pad"));
  bool readd = exec(ProgmanAddItemCommand("C:\\windows\\notepad.exe", "", "Pad", "", 0, ""));
  bool del_item = exec(ProgmanDeleteItemCommand("Pad"));
  bool del_missing = exec(ProgmanDeleteItemCommand("NoSuchItem"));
  bool second = exec(ProgmanCreateGroupCommand("QvPeerSecond"));
  bool del_group = exec(ProgmanDeleteGroupCommand("QvPeerSecond"));
  std::printf("Wine PROGMAN: unknown command %d\n", unknown);
  std::printf("Wine PROGMAN: AddItem(all parameters) %d, ReplaceItem %d, AddItem again %d, "
              "DeleteItem %d, DeleteItem(missing) %d, CreateGroup %d, DeleteGroup %d\n",
              full, replace, readd, del_item, del_missing, second, del_group);

  std::string groups = p.Request(ProgmanGroupsItem);
  std::vector<std::string> names = ProgmanParseGroups(groups.data(), groups.size());
  EXPECT_NE(std::find(names.begin(), names.end(), g), names.end()) << groups;
  // A group's description is refused: the replay of a group record then
  // shows the request error and leaves the group in place.
  EXPECT_EQ(p.Request(g), "!DDE: Error during request transaction (code: 16393)");
  // After a request, Wine's server side of DDEML sends an acknowledgement
  // too many, which the next transaction takes for its own answer.
  std::string again = p.Request(ProgmanGroupsItem);
  bool after = exec(ProgmanShowGroupCommand(g));
  std::printf("Wine PROGMAN: second GROUPS [%s], ShowGroup after requests %d\n", again.c_str(),
              after);
}
