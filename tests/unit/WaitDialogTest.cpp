// The wait dialog of the location search, in process: shown only when the search outlasts the
// show delay, never shown otherwise, always closed, and the delay thread always ends. Observed
// through the transcript of an in-memory dialog service and the system log the platform writes.
#include "UnitPlatform.h"
#include "common/DeterminePathDialog.h"
#include "common/Parameters.h"
#include "platform/Catalogue.h"
#include "platform/host/Host.h"
#include "platform/host/HostDialogs.h"
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include "support/memory/MemoryDialogs.h"
#include <gtest/gtest.h>

using namespace Applications::Commands::Scrivlet;
using Testing::json;
using Testing::LogLine;

namespace {

struct Outcome {
    std::vector<std::string> log; // wait-dialog lines, in the order they were logged
    std::vector<json> calls;      // Dialog calls of the transcript
    bool threadEnded = false;

    bool shown() const {
        for (const json& c : calls)
            if (c["call"] == "Dialog.show") return true;
        return false;
    }
    size_t count(const std::string& line) const { return std::count(log.begin(), log.end(), line); }
    std::string describe() const {
        std::string all;
        for (const std::string& l : log)
            all += "  log: " + l + "\n";
        for (const json& c : calls)
            all += "  call: " + c.dump() + "\n";
        return all;
    }
};

class WaitDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unitPlatform().config();
        catalogue = I18N::create("orvane.tool.scrivlet", "31", "3120", "en", 0);
        root = std::getenv("ORVANE_ROOT");
        transcript = std::getenv("ORVANE_UI_TRANSCRIPT");
        installService<Services::Skarnel::DialogService>([path = transcript.string()] {
            return Host::withDialogTranscript(std::make_unique<Services::Skarnel::MemoryDialogs>(), path);
        });
    }

    // Holds a wait dialog for `searchMs`, as the save engines hold one during their search.
    Outcome search(unsigned searchMs, const Parameters& parameters) {
        size_t logMark = Testing::readLog(root / "syslog" / "system.log").size();
        size_t callMark = Testing::readTranscript(transcript).size();
        {
            Ref<DeterminePathDialog> dialog = DeterminePathDialog::create(
                String::create("Searching"), String::create("Looking for drives"), parameters, *catalogue);
            created = static_cast<bool>(dialog);
            Thd::sleep(searchMs);
        }
        Outcome outcome;
        outcome.threadEnded = Thd::waitForAll(5000);
        std::vector<LogLine> log = Testing::readLog(root / "syslog" / "system.log");
        for (size_t i = logMark; i < log.size(); i++)
            if (log[i].text.find("wait dialog") != std::string::npos) outcome.log.push_back(log[i].text);
        std::vector<json> calls = Testing::readTranscript(transcript);
        for (size_t i = callMark; i < calls.size(); i++)
            if (calls[i]["call"].get<std::string>().rfind("Dialog", 0) == 0)
                outcome.calls.push_back(calls[i]);
        return outcome;
    }
    Outcome search(unsigned searchMs) { return search(searchMs, Parameters()); }

    Ref<I18N> catalogue;
    std::filesystem::path root;
    std::filesystem::path transcript;
    bool created = false;
};

const std::string closing = "Closing wait dialog";
const std::string showing = "Showing wait dialog";
const std::string signalled = "Not showing wait dialog (semaphore signalled)";
const std::string lostRace = "Not showing wait dialog (atomic CAS failed)";

TEST_F(WaitDialogTest, FastSearchNeverShowsAndWakesTheThreadAtOnce) {
    Outcome o = search(50);
    ASSERT_TRUE(o.threadEnded);
    EXPECT_EQ(o.log, (std::vector<std::string>{closing, signalled})) << o.describe();
    ASSERT_EQ(o.calls.size(), 2u) << o.describe();
    EXPECT_EQ(o.calls[0]["call"], "Dialog::create");
    EXPECT_EQ(o.calls[0]["name"], nullptr);
    EXPECT_EQ(o.calls[1]["call"], "Dialog.close");
    EXPECT_EQ(o.calls[1]["result"], 0);
}

TEST_F(WaitDialogTest, SlowSearchShowsThenClosesTheDialog) {
    Outcome o = search(DeterminePathDialog::showDelayMs + 400);
    ASSERT_TRUE(o.threadEnded) << "the show call must return once the dialog is closed";
    EXPECT_EQ(o.log, (std::vector<std::string>{showing, closing})) << o.describe();
    ASSERT_EQ(o.calls.size(), 3u) << o.describe();
    EXPECT_EQ(o.calls[1]["call"], "Dialog.show");
    EXPECT_EQ(o.calls[1]["severity"], 1);
    EXPECT_EQ(o.calls[1]["title"], "Searching");
    EXPECT_EQ(o.calls[1]["text"], "Looking for drives");
    EXPECT_EQ(o.calls[1]["buttons"], 0);
    EXPECT_EQ(o.calls[1]["default"], 0);
    EXPECT_EQ(o.calls[2]["call"], "Dialog.close");
    EXPECT_EQ(o.calls[2]["id"], o.calls[1]["id"]);
}

// Searches that end right at the delay: whichever side wins, the dialog is decided once, the
// thread ends, and a dialog is shown exactly when the thread logged that it shows it.
TEST_F(WaitDialogTest, SearchEndingAtTheDeadlineIsDecidedOnce) {
    int shownCount = 0, lostCount = 0, signalledCount = 0;
    for (int round = 0; round < 12; round++) {
        unsigned searchMs = DeterminePathDialog::showDelayMs - 6 + round;
        Outcome o = search(searchMs);
        SCOPED_TRACE("search of " + std::to_string(searchMs) + " ms\n" + o.describe());
        ASSERT_TRUE(o.threadEnded);
        EXPECT_EQ(o.count(closing), 1u);
        size_t decisions = o.count(showing) + o.count(lostRace) + o.count(signalled);
        EXPECT_EQ(decisions, 1u);
        EXPECT_EQ(o.shown(), o.count(showing) == 1);
        ASSERT_FALSE(o.calls.empty());
        EXPECT_EQ(o.calls.back()["call"], "Dialog.close");
        shownCount += o.count(showing);
        lostCount += o.count(lostRace);
        signalledCount += o.count(signalled);
    }
    RecordProperty("shown", shownCount);
    RecordProperty("lostRace", lostCount);
    RecordProperty("signalled", signalledCount);
}

struct Visibility {
    const char* name;
    bool silent;
    bool showProgress;
    bool created;
};
using Testing::caseName;
using Testing::PrintTo;

class WaitDialogVisibility : public WaitDialogTest, public ::testing::WithParamInterface<Visibility> {};

TEST_P(WaitDialogVisibility, SilentRunsStartNoThread) {
    Parameters p;
    p.silent = GetParam().silent;
    p.showProgress = GetParam().showProgress;
    Outcome o = search(10, p);
    EXPECT_EQ(created, GetParam().created);
    EXPECT_EQ(o.calls.empty(), !GetParam().created) << o.describe();
    EXPECT_EQ(o.log.empty(), !GetParam().created) << o.describe();
}

INSTANTIATE_TEST_SUITE_P(Rules, WaitDialogVisibility,
                         ::testing::Values(Visibility{"Default", false, false, true},
                                           Visibility{"Silent", true, false, false},
                                           Visibility{"SilentWithProgress", true, true, true},
                                           Visibility{"ShowProgress", false, true, true}),
                         caseName);

} // namespace
