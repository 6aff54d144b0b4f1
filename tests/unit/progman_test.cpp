// The Program Manager conversation: order of link operations and commands,
// its silence on every failure, the busy-pointer counter, and the group,
// title and command line composed for the update client.
#include <gtest/gtest.h>

#include <algorithm>

#include "setup/progman.h"
#include "test_support.h"

using fakes::Installer;

namespace {

struct Conversation : Installer {
    setup::Context ctx{state, os, forms};

    void Perform() {
        setup::PerformDDE(ctx, *window, "Vantrel - Ver 1.30", "C:\\VANTREL\\TVKUPDT.EXE ", "Vantrel - Live Update",
                          1);
    }
    std::vector<std::string> DdeJournal() const {
        std::vector<std::string> dde;
        for (const auto& e : journal)
            if (e.rfind("dde ", 0) == 0 || e.rfind("pointer", 0) == 0) dde.push_back(e);
        return dde;
    }
};

TEST(ProgmanTest, SendsThreeCommandsInOrderAndClosesTheLink) {
    Conversation c;
    c.Perform();
    const std::vector<std::string> expected = {
        "pointer 11",
        "dde connect PROGMAN|PROGMAN",
        "dde execute [CreateGroup(Vantrel - Ver 1.30)]",
        "dde execute [ReplaceItem(Vantrel - Live Update)]",
        "dde execute [AddItem(C:\\VANTREL\\TVKUPDT.EXE ,Vantrel - Live Update,,,)]",
        "dde disconnect",
        "pointer 0",
    };
    EXPECT_EQ(c.DdeJournal(), expected);
    EXPECT_EQ(c.forms.yields, 10);
    for (uint32_t t : c.forms.dde.timeouts) EXPECT_EQ(t, 10000u);
    EXPECT_EQ(c.window->Label1.LinkMode(), 0);
    EXPECT_EQ(c.window->Label1.LinkTopic(), "");
    EXPECT_EQ(c.forms.Err().Number(), 0);
    EXPECT_EQ(c.state.BusyNesting, 0);
}

TEST(ProgmanTest, RefusedReplaceItemStillSendsAddItem) {
    Conversation c;
    c.forms.dde.refusedPrefixes = {"[ReplaceItem(", "[CreateGroup("};
    c.Perform();
    ASSERT_EQ(c.forms.dde.executed.size(), 3u);
    EXPECT_EQ(c.forms.dde.executed[2].rfind("[AddItem(", 0), 0u);
    EXPECT_EQ(c.forms.Err().Number(), 0);
}

TEST(ProgmanTest, NoServerIsSilent) {
    Conversation c;
    c.forms.dde.serverPresent = false;
    c.Perform();
    EXPECT_TRUE(c.forms.dde.executed.empty());  // no link: each command fails before reaching a server
    EXPECT_TRUE(c.forms.messages.empty());
    EXPECT_EQ(c.forms.Err().Number(), 0);
    EXPECT_EQ(c.forms.pointers.back(), 0);
    EXPECT_EQ(c.window->Label1.LinkMode(), 0);
}

TEST(ProgmanTest, UnansweredCommandsTimeOutAndAreSkipped) {
    Conversation c;
    c.forms.dde.neverAnswers = true;
    c.Perform();
    EXPECT_EQ(c.forms.dde.executed.size(), 3u);
    EXPECT_EQ(c.forms.Err().Number(), 0);
}

TEST(ProgmanTest, FailingTopicAssignmentIsRetriedTwentyTimesWithYields) {
    Conversation c;
    // An open link makes every topic assignment fail.
    c.window->Label1.SetLinkTopic("OTHER|TOPIC");
    c.window->Label1.SetLinkMode(2);
    c.journal.clear();
    c.Perform();
    EXPECT_EQ(c.forms.yields, 20 + 10);
    // The link that stayed open carries the commands; the conversation closes it.
    EXPECT_EQ(c.forms.dde.executed.size(), 3u);
    EXPECT_EQ(c.window->Label1.LinkMode(), 0);
    EXPECT_EQ(c.forms.Err().Number(), 0);
}

TEST(ProgmanTest, CommandsCarryTextsVerbatim) {
    Conversation c;
    setup::PerformDDE(c.ctx, *c.window, "A,(B)", "X", "T)]", 1);
    EXPECT_EQ(c.forms.dde.executed[0], "[CreateGroup(A,(B))]");
    EXPECT_EQ(c.forms.dde.executed[1], "[ReplaceItem(T)])]");
    EXPECT_EQ(c.forms.dde.executed[2], "[AddItem(X,T)],,,)]");
}

TEST(BusyPointerTest, CountsNestedRequests) {
    Conversation c;
    setup::SetBusyPointer(c.ctx, 0);
    EXPECT_EQ(c.state.BusyNesting, 0);
    setup::SetBusyPointer(c.ctx, 11);
    setup::SetBusyPointer(c.ctx, 11);
    setup::SetBusyPointer(c.ctx, 0);
    EXPECT_EQ(c.state.BusyNesting, 1);
    EXPECT_EQ(c.forms.pointers, (std::vector<int>{0, 11, 11, 11}));
    c.state.BusyNesting = 32767;
    EXPECT_THROW(setup::SetBusyPointer(c.ctx, 11), platform::RuntimeError);
}

TEST(ProgramItemTest, ComposesGroupTitleAndShortCommandLine) {
    Conversation c;
    ASSERT_FALSE(c.Load());
    c.os.shortNames["C:\\Vantrel\\TvkUpdt.exe"] = "C:\\VANTREL\\TVKUPDT.EXE";
    c.window->CreateProgramManagerIcon();
    ASSERT_EQ(c.forms.dde.executed.size(), 3u);
    EXPECT_EQ(c.forms.dde.executed[0], "[CreateGroup(Vantrel - Ver 1.30)]");
    EXPECT_EQ(c.forms.dde.executed[1], "[ReplaceItem(Vantrel - Live Update)]");
    EXPECT_EQ(c.forms.dde.executed[2], "[AddItem(C:\\VANTREL\\TVKUPDT.EXE ,Vantrel - Live Update,,,)]");
}

TEST(ProgramItemTest, MissingClientKeepsLongUnquotedPath) {
    Conversation c;
    c.os.settings["Vantrel\\Setup\\CS_Path"] = "C:\\Program Files\\Vantrel\\";
    c.os.SetIni("C:\\Program Files\\Vantrel\\\\Sys\\TOVASK.INI", "Tovask", "Ver", "1.31");
    ASSERT_FALSE(c.Load());
    c.window->CreateProgramManagerIcon();
    ASSERT_EQ(c.forms.dde.executed.size(), 3u);
    EXPECT_EQ(c.forms.dde.executed[0], "[CreateGroup(Vantrel - Ver 1.31)]");
    EXPECT_EQ(c.forms.dde.executed[2],
              "[AddItem(C:\\Program Files\\Vantrel\\\\TvkUpdt.exe ,Vantrel - Live Update,,,)]");
}

TEST(ProgramItemTest, EmptyProductPathGivesRootedClientName) {
    Conversation c;
    ASSERT_FALSE(c.Load());
    c.state.ProductPath.clear();
    c.window->CreateProgramManagerIcon();
    EXPECT_EQ(c.forms.dde.executed[2], "[AddItem(\\TvkUpdt.exe ,Vantrel - Live Update,,,)]");
}

}  // namespace
