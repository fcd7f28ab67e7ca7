// The Program Manager command texts and reply scanning, and the command
// interpreter of our Program Manager server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "dde/progman.h"
#include "tools/progman/pmstate.h"

TEST(ProgmanText, Commands) {
  EXPECT_EQ(ProgmanCreateGroupCommand("G 1"), "[CreateGroup(\"G 1\")]");
  EXPECT_EQ(ProgmanShowGroupCommand("G"), "[ShowGroup(\"G\",1)]");
  EXPECT_EQ(ProgmanReplaceItemCommand("N"), "[ReplaceItem(\"N\")]");
  EXPECT_EQ(ProgmanDeleteItemCommand("N"), "[DeleteItem(\"N\")]");
  EXPECT_EQ(ProgmanDeleteGroupCommand("G"), "[DeleteGroup(\"G\")]");
}

TEST(ProgmanText, AddItemShapes) {
  EXPECT_EQ(ProgmanAddItemCommand("C", "", "N", "", 0, ""), "[AddItem(C,\"N\",,)]");
  EXPECT_EQ(ProgmanAddItemCommand("C", "A", "N", "I", 7, "W"), "[AddItem(C A,\"N\",I,7,,,W)]");
  EXPECT_EQ(ProgmanAddItemCommand("C", "A", "N", "", 7, ""), "[AddItem(C A,\"N\",,)]");
  EXPECT_EQ(ProgmanAddItemCommand("C", "", "N", "I", -1, ""), "[AddItem(C,\"N\",I,-1)]");
  EXPECT_EQ(ProgmanAddItemCommand("C", "", "N", "", 0, "W"), "[AddItem(C,\"N\",,,,,W)]");
}

TEST(ProgmanText, GroupList) {
  auto parse = [](const std::string& s) { return ProgmanParseGroups(s.data(), s.size()); };
  using V = std::vector<std::string>;
  EXPECT_EQ(parse("A\r\nB C\r\n"), (V{"A", "B C"}));
  EXPECT_EQ(parse("A\r\nB"), (V{"A", "B"}));
  EXPECT_EQ(parse(""), V{});
  EXPECT_EQ(parse("A\r"), V{"A"});  // a CR at the very end: nothing read past it
  EXPECT_EQ(parse(std::string("A\r\nB\r\n\0C\r\n", 11)), (V{"A", "B"}));
  // Not NUL-terminated: only size bytes count.
  const char raw[] = {'X', '\r', '\n', 'Y', 'Z'};
  EXPECT_EQ(ProgmanParseGroups(raw, 4), (V{"X", "Y"}));
  EXPECT_EQ(ProgmanParseGroups(nullptr, 0), V{});
}

TEST(ProgmanText, GroupDescription) {
  auto empty = [](const std::string& s) { return ProgmanGroupIsEmpty(s.data(), s.size()); };
  EXPECT_TRUE(empty("\"G\",C:\\G.GRP,0,1,0,0,0,0,0\r\n"));
  EXPECT_FALSE(empty("\"G\",C:\\G.GRP,2,1,0,0,0,0,0\r\n\"a\",...\r\n"));
  EXPECT_FALSE(empty("\"G\",C:\\G.GRP,10\r\n"));
  // Commas inside the name come before the second quote and do not count.
  EXPECT_TRUE(empty("\"A,B\",C:\\AB.GRP,0"));
  // A count that ends the data is not read past.
  EXPECT_FALSE(empty("\"G\",C:\\G.GRP,"));
  const char* bad[] = {"", "G,C:\\G.GRP,0", "\"G,C:\\G.GRP,0", "\"G\"C:\\G.GRP0", "\"G\",C:\\G.GRP"};
  for (const char* b : bad) {
    try {
      ProgmanGroupIsEmpty(b, std::strlen(b));
      ADD_FAILURE() << "no error for " << b;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "An error occured while trying to request data from Progman using DDE.");
    }
  }
  // The scan stops at size even without a NUL.
  const char raw[] = {'"', 'G', '"', ',', 'P', ',', '0'};
  size_t at = 0;
  EXPECT_FALSE(ProgmanFindItemCount(raw, 5, at));
  ASSERT_TRUE(ProgmanFindItemCount(raw, 7, at));
  EXPECT_EQ(at, 6u);
}

TEST(ProgmanServerState, SplitParams) {
  std::vector<std::string> p;
  ASSERT_TRUE(PmState::SplitParams("\"a,b\", c ,\"\",\"X\" /y,", p));
  EXPECT_EQ(p, (std::vector<std::string>{"a,b", "c", "", "\"X\" /y", ""}));
  ASSERT_TRUE(PmState::SplitParams("  ", p));
  EXPECT_TRUE(p.empty());
  EXPECT_FALSE(PmState::SplitParams("\"open", p));
}

TEST(ProgmanServerState, CommandsAndRefusals) {
  PmState st("C:\\WIN");
  EXPECT_FALSE(st.Execute("[AddItem(A.EXE)]"));  // no active group
  EXPECT_TRUE(st.Execute("[CreateGroup(\"My Group\")]"));
  EXPECT_EQ(st.ActiveGroup(), "My Group");
  EXPECT_TRUE(st.Execute("[AddItem(\"C:\\P Q\\A.EXE\" -x)]"));
  EXPECT_EQ(st.FindGroup("my group")->Items.at(0).Name, "A");  // named after the program
  EXPECT_TRUE(st.Execute(" [ CreateGroup(\"Two\",C:\\T.GRP) ] [AddItem(B.EXE,\"B\",,)] "));
  EXPECT_FALSE(st.Execute("[ShowGroup(\"Two\",9)]"));
  EXPECT_FALSE(st.Execute("[ShowGroup(\"Two\")]"));
  EXPECT_FALSE(st.Execute("[DeleteItem(\"B\",\"extra\")]"));
  EXPECT_FALSE(st.Execute("[AddItem(,\"empty command\")]"));
  EXPECT_FALSE(st.Execute("[AddItem(X,\"N\",I,0,1,2,D,H,M,TEN)]"));
  EXPECT_FALSE(st.Execute("junk"));
  EXPECT_FALSE(st.Execute("[]"));
  std::string reply;
  ASSERT_TRUE(st.Request("Two", reply));
  EXPECT_EQ(reply.substr(0, reply.find("\r\n")), "\"Two\",C:\\T.GRP,1,1,0,0,0,0,0");
  ASSERT_TRUE(st.Request("My Group", reply));
  EXPECT_EQ(reply.substr(0, reply.find("\r\n")), "\"My Group\",C:\\WIN\\MYGROUP.GRP,1,1,0,0,0,0,0");
  EXPECT_FALSE(st.Request("Three", reply));
  EXPECT_TRUE(st.Execute("[DeleteGroup(\"Two\")]"));
  EXPECT_EQ(st.ActiveGroup(), "");
  EXPECT_FALSE(st.Execute("[DeleteItem(\"A\")]"));  // the active group went away

  // Save and Load keep everything.
  PmState back;
  back.Load(st.Save());
  ASSERT_EQ(back.Groups().size(), 1u);
  EXPECT_EQ(back.Groups()[0].Items.at(0).CommandLine, "\"C:\\P Q\\A.EXE\" -x");
  EXPECT_EQ(back.Save(), st.Save());
}
