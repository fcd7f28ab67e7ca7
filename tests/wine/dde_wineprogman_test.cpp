// The same DDE client against Wine's own Program Manager (its desktop
// process answers "PROGMAN" when there is a display): an independent peer.
// What it does is what docs/progman-peers.md says; a Wine that behaves
// differently fails here, and the document must change with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/exceptions.h"
#include "dde/dde.h"
#include "dde/progman.h"
#include "tests/wine/dde_testserver.h"

namespace {

// The text of a request, or the error message prefixed with "!".
std::string RequestOrError(qvtest::Conversation& c, const std::string& item) {
  try {
    return c.Request(item);
  } catch (const Exception& e) {
    return std::string("!") + e.what();
  }
}

}  // namespace

TEST(WineProgmanPeer, CommandsAndRequests) {
  ASSERT_TRUE(qvtest::WaitForWineProgman(30000)) << "Wine's desktop does not serve PROGMAN";
  const std::string g = "QvPeerGroup";
  {
    // An unknown command on a fresh conversation is refused.
    qvtest::Conversation fresh;
    EXPECT_FALSE(fresh.Exec("[NoSuchCommand(\"x\")]"));
  }
  qvtest::Conversation p;
  auto exec = [&](const std::string& cmd) { return p.Exec(cmd); };
  EXPECT_TRUE(exec(ProgmanCreateGroupCommand(g)));
  EXPECT_TRUE(exec(ProgmanShowGroupCommand(g)));
  EXPECT_TRUE(exec(ProgmanAddItemCommand("C:\\windows\\notepad.exe", "", "Pad", "", 0, "")));
  // Every parameter, a quoted path with arguments: refused.
  EXPECT_FALSE(exec(ProgmanAddItemCommand("\"C:\\Program Files\\x.exe\"", "/a", "Full",
                                          "C:\\windows\\notepad.exe", 1,
                                          "\"C:\\Program Files\"")));
  EXPECT_TRUE(exec(ProgmanReplaceItemCommand("Pad")));
  EXPECT_TRUE(exec(ProgmanAddItemCommand("C:\\windows\\notepad.exe", "", "Pad", "", 0, "")));
  EXPECT_TRUE(exec(ProgmanDeleteItemCommand("Pad")));
  EXPECT_FALSE(exec(ProgmanDeleteItemCommand("NoSuchItem")));
  EXPECT_TRUE(exec(ProgmanCreateGroupCommand("QvPeerSecond")));
  EXPECT_TRUE(exec(ProgmanDeleteGroupCommand("QvPeerSecond")));

  // "GROUPS": every group name followed by CR LF.
  std::string groups = RequestOrError(p, ProgmanGroupsItem);
  ASSERT_NE(groups.substr(0, 1), "!") << groups;
  EXPECT_EQ(groups.substr(groups.size() - 2), "\r\n");
  std::vector<std::string> names = ProgmanParseGroups(groups.data(), groups.size());
  EXPECT_NE(std::find(names.begin(), names.end(), g), names.end()) << groups;
  EXPECT_EQ(std::find(names.begin(), names.end(), "QvPeerSecond"), names.end()) << groups;
  // A group's description is refused: the replay of a group record then
  // shows the request error and leaves the group in place.
  EXPECT_EQ(RequestOrError(p, g), "!DDE: Error during request transaction (code: 16393)");
  // After a request, Wine's server side of DDEML sends an acknowledgement
  // too many, which a later transaction may take for its own answer: what
  // the next ones get depends on which answer is there first (both seen),
  // so nothing more is asserted on this conversation.
  RequestOrError(p, ProgmanGroupsItem);

  // A fresh conversation is in step again; the group goes.
  exec(ProgmanShowGroupCommand(g));
  qvtest::Conversation after;
  EXPECT_TRUE(after.Exec(ProgmanDeleteGroupCommand(g)));
}
