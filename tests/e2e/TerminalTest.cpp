// The terminal dialogs, driven through a pseudo-terminal as a person would: read what the run shows,
// type the answer, and check what it did.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct Terminal : ::testing::Test {
    Sandbox box;
    Terminal() { writeFile(box.work() / "x.txt", "hello\n"); }
    // No platform directory: every save goes through the drive-selection dialog.
    void withoutPlatformDirectories() {
        for (const char* id : {"8", "10"})
            box.addFault({{"op", "PlatformEnvironment::getPathNode"}, {"path", id}, {"error", 0x20}});
    }
};

TEST_F(Terminal, MessageWaitsForEnter) {
    writeFile(box.node("system") / "Screenshots" / "x.txt", "old");
    writeFile(box.node("system") / "Service" / "Screenshots" / "x.txt", "old");
    RunResult r = box.runOnTerminal({"x.txt"}, {{"Press Enter to continue.", "\n"}});
    EXPECT_EQ(r.status, 67);
    EXPECT_NE(r.out.find("[ERROR] Error"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File already exists: /system/Service/Screenshots/x.txt"), std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(box.node("system") / "Screenshots" / "x.txt"), "old");
}

// The drive and name questions: what is typed, what is asked again, and what ends on the stick.
struct PromptCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<TerminalStep> steps;
    int status;
    std::vector<std::string> onStick; // every file the stick holds afterwards
};
using Testing::PrintTo;
const std::vector<std::string> renaming{"--allow-rename", "--dont-force-boot", "x.txt"};
const TerminalStep driveTwo{"Drive number (Enter to cancel): ", "2\n"};
const TerminalStep done{"Press Enter to continue.", "\n"};

class TerminalPrompts : public Terminal, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(TerminalPrompts, AskAgainUntilTheAnswerCanBeUsed) {
    withoutPlatformDirectories();
    writeFile(box.node("stick") / "taken.txt", "old");
    RunResult r = box.runOnTerminal(GetParam().args, GetParam().steps);
    EXPECT_EQ(r.status, GetParam().status) << r.out;
    std::vector<std::string> expected = GetParam().onStick;
    expected.push_back("taken.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFiles(box.node("stick")), expected);
    EXPECT_EQ(readFile(box.node("stick") / "taken.txt"), "old");
    for (const std::string& name : GetParam().onStick)
        EXPECT_TRUE(hasContent(box.node("stick") / name, "hello\n")) << name;
    EXPECT_FALSE(fs::exists(box.root / "nodes" / "outside.txt"));
    if (GetParam().status == 7) {
        EXPECT_TRUE(r.calls("Dialog::show").empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Terminal, TerminalPrompts,
    ::testing::Values(
        PromptCase{"ChosenDrive",
                   {"--dont-force-boot", "x.txt"},
                   {{"Select drive in which to store the file", ""},
                    {"1) BOOT  (/boot)", ""},
                    {"2) STICK  (/media/STICK)", ""},
                    driveTwo,
                    {"[INFO] Information", ""},
                    done},
                   0,
                   {"Orvane/Screenshots/x.txt"}},
        PromptCase{"EnterWithoutAChoiceCloses",
                   {"--dont-force-boot", "x.txt"},
                   {{"Drive number (Enter to cancel): ", "\n"}},
                   7,
                   {}},
        PromptCase{"InvalidDriveNumber",
                   {"--dont-force-boot", "x.txt"},
                   {{"Drive number (Enter to cancel): ", "9\n"},
                    {"There is no drive \"9\": type a number from 1 to 2, or Enter to cancel.", ""},
                    {"Drive number (Enter to cancel): ", "two\n"},
                    driveTwo,
                    done},
                   0,
                   {"Orvane/Screenshots/x.txt"}},
        // A typed name is a file name on the chosen drive: a path is refused.
        PromptCase{"TypedPath",
                   renaming,
                   {driveTwo,
                    {"File name [x.txt]: ", "../../outside.txt\n"},
                    {"no \"/\"", ""},
                    {"File name [x.txt]: ", "..\n"},
                    {"File name [x.txt]: ", "typed.txt\n"},
                    done},
                   0,
                   {"typed.txt"}},
        // A typed name that exists is never overwritten.
        PromptCase{"TypedNameThatExists",
                   renaming,
                   {driveTwo,
                    {"File name [x.txt]: ", "taken.txt\n"},
                    {"A file named \"taken.txt\" exists there already.", ""},
                    {"Another file name (Enter to cancel): ", "fresh.txt\n"},
                    done},
                   0,
                   {"fresh.txt"}},
        // Longer than a filesystem takes: refused where it is typed.
        PromptCase{"TooLongName",
                   renaming,
                   {driveTwo,
                    {"File name [x.txt]: ", std::string(304, 'n') + "\n"},
                    {"at most 255 bytes", ""},
                    {"File name [x.txt]: ", "short.txt\n"},
                    done},
                   0,
                   {"short.txt"}},
        // Ctrl-D at a prompt closes the dialog: nothing is saved under the offered name.
        PromptCase{"EndOfInputAtTheName", renaming, {driveTwo, {"File name [x.txt]: ", "\x04"}}, 7, {}}),
    caseName);

// A file of the export that cannot be read asks, during the copy, whether to go on: the answer is
// typed as at any prompt, seen as it is typed and ended by Enter; "no" stops and undoes the export.
TEST_F(Terminal, QuestionDuringTheCopyIsEchoedAndTakesNo) {
    box.addFault({{"op", "File::read"}, {"path", "/boot/Orvane/Logs/service.log"}, {"error", 0x25}});
    std::vector<std::string> before = listFiles(box.node("boot"));
    RunResult r = box.runOnTerminal({"-m", "export"}, {{"Enter when done: ", "\n"},
                                                       {"Drive number (Enter to cancel): ", "2\n"},
                                                       {"Continue? [Y/n] ", "no\n"}});
    EXPECT_EQ(r.status, 66) << r.out;
    EXPECT_NE(r.out.find("[FAILED] Copy failed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Continue? [Y/n] no\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(listFiles(box.node("boot")), before);
    EXPECT_TRUE(listFiles(box.node("stick")).empty()) << r.out;
}

// An export of many small files moves the bar once per file; the terminal sees a new line for each
// new percentage and otherwise a few a second, not one per file.
TEST_F(Terminal, ExportOfManySmallFilesDrawsTheBarFarLessOftenThanPerFile) {
    constexpr int files = 1500;
    fs::path logs = box.node("boot") / "Orvane" / "Logs";
    for (int i = 0; i < files; i++)
        writeFile(logs / ("small-" + std::to_string(i) + ".log"), "line\n");
    RunResult r = box.runOnTerminal({"-m", "export"}, {{"Enter when done: ", "\n"},
                                                       {"Drive number (Enter to cancel): ", "2\n"},
                                                       {"Press Enter to continue.", "\n"}});
    EXPECT_EQ(r.status, 0) << r.out.substr(0, 2000);
    size_t draws = 0;
    for (size_t at = r.out.find("\r["); at != std::string::npos; at = r.out.find("\r[", at + 1))
        draws++;
    EXPECT_GT(draws, 0u);
    EXPECT_LT(draws, files / 3) << "bar lines drawn";
    EXPECT_NE(r.out.find("100%"), std::string::npos) << "the bar reaches its end";
}

TEST_F(Terminal, HelpIsColouredOnATerminalUnlessNoColorIsSet) {
    RunResult coloured = box.runOnTerminal({"-h"}, {}, {{"NO_COLOR", ""}});
    EXPECT_EQ(coloured.status, 1);
    EXPECT_NE(
        coloured.out.find("\x1b[1;4mUSAGE: \x1b[1;36mscrivletv2 \x1b[1;33m-m\x1b[0m \x1b[32m<mode>\x1b[0m"),
        std::string::npos)
        << coloured.out;

    RunResult plain = box.runOnTerminal({"-h"}, {}, {{"NO_COLOR", "1"}});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out.find("\x1b["), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("USAGE: scrivletv2 -m <mode> [options\u2026]"), std::string::npos) << plain.out;
}

// Every line the terminal shows, with the progress line's redraws ("\r") as lines of their own and
// its erase-to-end-of-line left out.
std::vector<std::string> screenLines(std::string screen) {
    for (size_t at; (at = screen.find("\x1b[K")) != std::string::npos;)
        screen.erase(at, 3);
    std::vector<std::string> lines;
    std::string line;
    for (char c : screen) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

size_t characters(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

// The progress line tells bytes, rate and time left, and never wraps in a narrow terminal; keys
// typed during the copy are not echoed, and "User aborted" stands on a line of its own.
TEST_F(Terminal, ProgressLineFitsTheTerminalAndKeysAreNotEchoed) {
    box.terminalColumns = 60;
    writeFile(box.work() / "big.bin", std::string(3 << 20, 'b'));
    box.addFault({{"op", "File::write"}, {"path", "/system/*"}, {"delayMs", 30}, {"error", 0}});
    RunResult r = box.runOnTerminal({"big.bin"}, {{"(press c to cancel)", "xyz"}, {"MiB / 6.0 MiB", "c"}});
    EXPECT_EQ(r.status, 66) << r.out;
    std::vector<std::string> lines = screenLines(r.out);
    size_t bars = 0;
    for (const std::string& line : lines) {
        if (line.rfind("[", 0) != 0 || line.find("%") == std::string::npos) continue;
        bars++;
        EXPECT_LT(characters(line), 60u) << line;
        EXPECT_NE(line.find(" left"), std::string::npos) << line;
    }
    EXPECT_GT(bars, 0u) << r.out;
    EXPECT_EQ(r.out.find("xyz"), std::string::npos) << "typed keys were echoed:\n" << r.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "User aborted"), lines.end()) << r.out;
}

// The export dialog lists its periods, numbers only the rows that can be changed, and says why an
// answer was not taken.
TEST_F(Terminal, TheExportDialogListsPeriodsAndNumbersOnlyWhatCanChange) {
    fs::remove_all(box.node("boot") / "Orvane" / "Analyze");
    RunResult r = box.runOnTerminal({"-m", "export"}, {{"Enter when done: ", "7\n"},
                                                       {"There is no row \"7\"", ""},
                                                       {"Enter when done: ", "d 9\n"},
                                                       {"There is no period", ""},
                                                       {"Enter when done: ", "d 2\n"},
                                                       {"2) 1 WEEK [chosen]", ""},
                                                       {"Enter when done: ", "\n"},
                                                       {"Drive number (Enter to cancel): ", "\n"}});
    EXPECT_EQ(r.status, 7) << r.out;
    EXPECT_NE(r.out.find("Periods: 1) 1 DAY  2) 1 WEEK  3) 1 MONTH  4) 3 MONTHS [chosen]  5) 1 YEAR"),
              std::string::npos)
        << r.out;
    // Logs, Screenshots and the clearing group can change; the empty Analyze row cannot.
    EXPECT_NE(r.out.find("Analyze (unavailable)"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" 4 "), std::string::npos) << r.out;
}

// A name can hold any byte: on the terminal its control characters are shown, never obeyed
// (no title set, no screen cleared, no colour), in the progress line and in the message alike;
// the file keeps its real name.
TEST_F(Terminal, ControlCharactersInANameAreShownNotObeyed) {
    const std::string name = "x\x1b]2;PWNED\x07\x1b[2J\x1b[31mevil.txt";
    const std::string shown = "x\\e]2;PWNED\\a\\e[2J\\e[31mevil.txt";
    writeFile(box.work() / name, "hello\n");
    RunResult r = box.runOnTerminal({name}, {{"Press Enter to continue.", "\n"}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("\x1b]2;"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\x1b[2J"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\x1b[31m"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File saved as SYSTEM:/Screenshots/" + shown), std::string::npos) << r.out;
    EXPECT_TRUE(hasContent(box.node("system") / "Screenshots" / name, "hello\n"));
}

// Arrow and function keys begin with Esc but are not the Esc key: the copy goes on, and Esc
// alone still cancels it.
TEST_F(Terminal, ArrowAndFunctionKeysDoNotCancelButEscDoes) {
    writeFile(box.work() / "big.bin", std::string(2 << 20, 'b'));
    box.addFault({{"op", "File::write"}, {"path", "/system/*"}, {"delayMs", 30}, {"error", 0}});
    RunResult keys = box.runOnTerminal({"big.bin"}, {{"(press c to cancel)", "\x1b[A\x1b[B\x1bOP\x1b[15~"},
                                                     {"Press Enter to continue.", "\n"}});
    EXPECT_EQ(keys.status, 0) << keys.out;
    EXPECT_TRUE(
        hasContent(box.node("system") / "Service" / "Screenshots" / "big.bin", std::string(2 << 20, 'b')));

    RunResult esc = box.runOnTerminal({"--add-index", "big.bin"}, {{"(press c to cancel)", "\x1b"}});
    EXPECT_EQ(esc.status, 66) << esc.out;
}

// The export dialog says beside CLEAR DATA, in plain words, what it deletes and how to keep the
// files; doing what it says keeps an old log on the boot drive.
TEST_F(Terminal, TheExportDialogSaysWhatClearingDeletesAndHowToKeepTheFiles) {
    box.fixClock(now);
    fs::path old = box.node("boot") / "Orvane" / "Logs" / "old.log";
    writeFile(old, "old log\n");
    setModifiedMs(old, now - 100 * day);
    box.terminalColumns = 200; // the sentence on one line
    RunResult shown = box.runOnTerminal(
        {"-m", "export"},
        {{"to keep them).", ""}, {"Enter when done: ", "\n"}, {"Drive number (Enter to cancel): ", "\n"}});
    size_t at = shown.out.find("deleted from the boot drive after the export (checked now: type ");
    ASSERT_NE(at, std::string::npos) << shown.out;
    std::string number = shown.out.substr(at + 64, shown.out.find(' ', at + 64) - at - 64);

    RunResult kept = box.runOnTerminal({"-m", "export"}, {{"Enter when done: ", number + "\n"},
                                                          {"Enter when done: ", "\n"},
                                                          {"Drive number (Enter to cancel): ", "2\n"},
                                                          {"Press Enter to continue.", "\n"}});
    EXPECT_EQ(kept.status, 0) << kept.out;
    EXPECT_TRUE(fs::exists(old)) << kept.out;
    EXPECT_TRUE(fs::exists(box.node("stick") / exportName / "Logs" / "old.log")) << kept.out;
}

// Ctrl-C during a copy ends the run by SIGINT, and "User aborted" stands on a line of its own, not
// on the progress line.
TEST_F(Terminal, AnInterruptionSaysUserAbortedOnItsOwnLine) {
    writeFile(box.work() / "big.bin", std::string(3 << 20, 'b'));
    box.addFault({{"op", "File::write"}, {"path", "/system/*"}, {"delayMs", 30}, {"error", 0}});
    RunResult r = box.runOnTerminal({"big.bin"}, {{"MiB / 6.0 MiB", "\x03"}});
    EXPECT_EQ(r.status, endedBy + SIGINT) << r.out;
    std::vector<std::string> lines = screenLines(r.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "User aborted"), lines.end()) << r.out;
}

} // namespace
