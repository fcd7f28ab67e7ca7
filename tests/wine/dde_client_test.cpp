// TDDE against our own Program Manager (qvprogman.exe). Under Wine, DDE
// between processes needs a display, so the DdeClient tests run with one;
// our server, started once Wine's desktop serves "PROGMAN", is the first to
// answer the broadcast initiate, and every conversation is checked to be
// with our server's process.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/exceptions.h"
#include "dde/dde.h"
#include "dde/progman.h"
#include "tests/wine/dde_testserver.h"

using qvtest::TestProgman;

// A conversation that the test has made sure is with server.
struct Conversation : qvtest::Conversation {
  explicit Conversation(const TestProgman& server) {
    EXPECT_TRUE(server.Serves(conv)) << "the conversation is not with our Program Manager";
  }
};

namespace {

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "<no exception>";
}

}  // namespace

// Run without a display: Wine's desktop, which answers "PROGMAN" when there
// is one, is not there.
TEST(DdeNoDisplay, NoServerRunning) {
  TDDE dde;
  EXPECT_NE(dde.Instance(), 0u);
  HSZ service = dde.CreateStringHandle("PROGMAN");
  EXPECT_NE(service, nullptr);
  // DMLERR_NO_CONV_ESTABLISHED
  EXPECT_EQ(MessageOf([&] { dde.Connect(service, service); }),
            "DDE: Unable to establish DDE connection (code: 16394)");
  dde.FreeStringHandle(service);
  EXPECT_EQ(service, nullptr);
}

TEST(DdeClient, FailedInitialisationRaisesAndLeavesOtherInstancesAlone) {
  TestProgman server("init");
  ASSERT_TRUE(server.Start());
  Conversation c(server);
  TDDE::FailNextInitialize = true;
  std::string msg = MessageOf([] { TDDE broken; });
  EXPECT_EQ(msg, "DDE: Unable to initialize DDE (code: 16390)");  // DMLERR_INVALIDPARAMETER
  EXPECT_FALSE(TDDE::FailNextInitialize);
  // Nothing was uninitialised on the failed object's account: the working
  // instance still talks to the server, and a new one initialises.
  EXPECT_TRUE(c.Exec(ProgmanCreateGroupCommand("StillThere"), false));
  TDDE again;
  EXPECT_NE(again.Instance(), 0u);
  EXPECT_NE(again.Instance(), c.dde.Instance());
}

TEST(DdeClient, EveryCommandAgainstOurServer) {
  TestProgman server("cmds");
  ASSERT_TRUE(server.Start());
  {
    Conversation c(server);
    EXPECT_TRUE(c.Exec(ProgmanCreateGroupCommand("Quorvel Tools"), false));
    EXPECT_TRUE(c.Exec(ProgmanShowGroupCommand("Quorvel Tools"), false));
    // Every shape of AddItem the icon step sends.
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("C:\\QV\\APP.EXE", "", "Plain", "", 0, ""), false));
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("\"C:\\Program Files\\QV\\app.exe\"", "/x /y",
                                             "Full", "C:\\Program Files\\QV\\app.ico", 3,
                                             "\"C:\\Program Files\\QV\""),
                       false));
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("C:\\QV\\B.EXE", "-a", "Args", "", 0, ""), false));
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("C:\\QV\\C.EXE", "", "Icon", "C:\\QV\\C.DLL", -2, ""),
                       false));
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("C:\\QV\\D.EXE", "", "Dir", "", 0, "C:\\QV"), false));
    // ReplaceItem of an existing item, then the item that takes its place.
    EXPECT_TRUE(c.Exec(ProgmanReplaceItemCommand("Args"), true));
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("C:\\QV\\B2.EXE", "", "Args", "", 0, ""), false));
    // ReplaceItem of a missing one is refused; the icon step ignores that.
    EXPECT_FALSE(c.Exec(ProgmanReplaceItemCommand("Nothing"), true));
    EXPECT_TRUE(c.Exec(ProgmanCreateGroupCommand("Second"), false));
    EXPECT_TRUE(c.Exec(ProgmanAddItemCommand("X.EXE", "", "X", "", 0, ""), false));

    EXPECT_EQ(c.Request(ProgmanGroupsItem), "Quorvel Tools\r\nSecond\r\n");
    std::string desc = c.Request("Quorvel Tools");
    EXPECT_EQ(desc.rfind("\"Quorvel Tools\",", 0), 0u) << desc;
    EXPECT_FALSE(ProgmanGroupIsEmpty(desc.data(), desc.size()));
    // The data handle of a request is the caller's; UnaccessData frees it.
    HSZ item = c.dde.CreateStringHandle(ProgmanGroupsItem);
    HDDEDATA data = nullptr;
    const BYTE* bytes = nullptr;
    DWORD size = 0;
    c.dde.Request(c.conv, item, CF_TEXT, data, bytes, size);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size).substr(0, 13), "Quorvel Tools");
    c.dde.UnaccessData(data);
    EXPECT_EQ(data, nullptr);
    c.dde.FreeStringHandle(item);
    EXPECT_EQ(item, nullptr);
    std::vector<std::string> groups;
    std::string list = c.Request("GROUPS");
    groups = ProgmanParseGroups(list.data(), list.size());
    EXPECT_EQ(groups, (std::vector<std::string>{"Quorvel Tools", "Second"}));
  }
  ASSERT_EQ(server.ItemCount("Quorvel Tools"), 5);
  PmItem it;
  ASSERT_TRUE(server.FindItem("Quorvel Tools", "Full", it));
  EXPECT_EQ(it.CommandLine, "\"C:\\Program Files\\QV\\app.exe\" /x /y");
  EXPECT_EQ(it.IconPath, "C:\\Program Files\\QV\\app.ico");
  EXPECT_EQ(it.IconIndex, "3");
  EXPECT_EQ(it.DefDir, "C:\\Program Files\\QV");
  ASSERT_TRUE(server.FindItem("Quorvel Tools", "Icon", it));
  EXPECT_EQ(it.IconIndex, "-2");
  ASSERT_TRUE(server.FindItem("Quorvel Tools", "Args", it));
  EXPECT_EQ(it.CommandLine, "C:\\QV\\B2.EXE");
  // The replacement took the old item's place (third of five).
  EXPECT_EQ(server.Snapshot().FindGroup("Quorvel Tools")->Items[2].Name, "Args");

  {
    Conversation c(server);
    EXPECT_TRUE(c.Exec(ProgmanShowGroupCommand("Quorvel Tools"), true));
    EXPECT_TRUE(c.Exec(ProgmanDeleteItemCommand("Plain"), false));
    EXPECT_TRUE(c.Exec(ProgmanDeleteGroupCommand("Second"), false));
  }
  EXPECT_EQ(server.ItemCount("Quorvel Tools"), 4);
  EXPECT_FALSE(server.HasGroup("Second"));
  EXPECT_TRUE(server.Stop());
}

TEST(DdeClient, RefusedCommands) {
  TestProgman server("refuse");
  ASSERT_TRUE(server.Start());
  Conversation c(server);
  const char* refused[] = {
      "[NoSuchCommand(\"x\")]",
      "[ShowGroup(\"Missing\",1)]",
      "[DeleteGroup(\"Missing\")]",
      "[AddItem(C:\\A.EXE,\"No active group\",,)]",
      "[CreateGroup(\"Unclosed)]",
      "[CreateGroup(\"G\")",
      "CreateGroup(\"G\")",
      "[ShowGroup(\"G\",one)]",
      "",
  };
  for (const char* cmd : refused) {
    EXPECT_FALSE(c.Exec(cmd, true)) << cmd;
    EXPECT_EQ(MessageOf([&] { c.Exec(cmd, false); }), "DDE: Command was not successful") << cmd;
  }
  ASSERT_TRUE(c.Exec("[CreateGroup(\"G\")]", false));
  EXPECT_FALSE(c.Exec("[DeleteItem(\"Missing\")]", true));
  EXPECT_FALSE(c.Exec("[AddItem(C:\\A.EXE,\"N\",ICON,notanumber)]", true));
  // A refusal does not poison the next command.
  EXPECT_TRUE(c.Exec("[AddItem(C:\\A.EXE,\"N\",,)]", false));
  EXPECT_EQ(server.ItemCount("G"), 1);
  // Requests for what does not exist are refused too.
  EXPECT_EQ(MessageOf([&] { c.Request("Missing"); }),
            "DDE: Error during request transaction (code: 16393)");
}

TEST(DdeClient, ServerGoneAway) {
  TestProgman server("gone");
  ASSERT_TRUE(server.Start());
  Conversation c(server);
  ASSERT_TRUE(c.Exec("[CreateGroup(\"G\")]", false));
  ASSERT_TRUE(server.Stop());
  std::string msg = MessageOf([&] { c.Exec("[ShowGroup(\"G\",1)]", true); });
  EXPECT_EQ(msg.rfind("DDE: Error during execute transaction (code: ", 0), 0u) << msg;
  EXPECT_EQ(msg.find("code: 0)"), std::string::npos) << msg;
  // Allowing failure covers only a refusal, not a lost conversation. Wine
  // reports DMLERR_POSTMSG_FAILED: the server's window is gone.
  EXPECT_EQ(msg, "DDE: Error during execute transaction (code: 16396)");
  std::string req = MessageOf([&] { c.Request("GROUPS"); });
  EXPECT_EQ(req.rfind("DDE: Error during request transaction (code: ", 0), 0u) << req;
}

TEST(DdeClient, StatePersistsAcrossServerRuns) {
  TestProgman server("persist");
  ASSERT_TRUE(server.Start(
      "[Groups]\r\nCount=1\r\n1=Seeded\r\n[Group1]\r\nName=Seeded\r\nFile=C:\\S.GRP\r\n"
      "Items=1\r\nName1=One\r\nCommand1=ONE.EXE\r\n"));
  {
    Conversation c(server);
    std::string desc = c.Request("Seeded");
    EXPECT_EQ(desc.substr(0, desc.find("\r\n")), "\"Seeded\",C:\\S.GRP,1,1,0,0,0,0,0");
    EXPECT_TRUE(c.Exec("[ShowGroup(\"Seeded\",1)][DeleteItem(\"One\")]", false));
    desc = c.Request("Seeded");
    EXPECT_TRUE(ProgmanGroupIsEmpty(desc.data(), desc.size())) << desc;
  }
  ASSERT_TRUE(server.Stop());
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(server.ItemCount("Seeded"), 0);
}

// Execute waits 7500 ms for Program Manager's answer: a slow answer within
// that time still counts, a later one is an error with DDEML's time-out code.
TEST(DdeClient, ExecuteTimeOut) {
  {
    TestProgman server("slow");
    ASSERT_TRUE(server.Start("", 5500));
    Conversation c(server);
    EXPECT_TRUE(c.Exec("[CreateGroup(\"Slow\")]", false));
  }
  TestProgman server("tooslow");
  ASSERT_TRUE(server.Start("", 8500));
  Conversation c(server);
  const DWORD start = GetTickCount();
  EXPECT_EQ(MessageOf([&] { c.Exec("[CreateGroup(\"TooSlow\")]", true); }),
            "DDE: Error during execute transaction (code: 16389)");  // DMLERR_EXECACKTIMEOUT
  EXPECT_GE(GetTickCount() - start, 7000u);
}
