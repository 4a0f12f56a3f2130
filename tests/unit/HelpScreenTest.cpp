// The help lines as the terminal printer receives them, attribute markers included.
#include "app/HelpScreen.h"
#include "common/Parameters.h"
#include "platform/SysLog.h"
#include "platform/host/HostServices.h"
#include "support/memory/MemoryConsole.h"
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

// Writes the UTF-16 lines in the reference notation: the marker sequences as [H], [P], [O], [V], [E].
std::string notation(const std::u16string& line) {
    static const std::pair<std::u16string, const char*> markers[] = {
        {u"\uEFFC\u0FFF\uF000\u0FF0\u0008", "[H]"},
        {u"\uEFFD\u0FF0\u000F", "[P]"},
        {u"\uEFFD\u00FF\u0F00", "[O]"},
        {u"\uEFFD\u00F0\u0F0F", "[V]"},
        {u"\uEFFE", "[E]"},
    };
    std::string out;
    for (size_t i = 0; i < line.size();) {
        bool matched = false;
        for (const auto& [units, name] : markers) {
            if (line.compare(i, units.size(), units) == 0) {
                out += name;
                i += units.size();
                matched = true;
                break;
            }
        }
        if (matched) continue;
        char16_t c = line[i++];
        if (c == u'\u2026')
            out += "\xE2\x80\xA6";
        else if (c < 0x80)
            out += static_cast<char>(c);
        else
            out += "?";
    }
    return out;
}

TEST(HelpScreen, LinesAndMarkersMatchTheReference) {
    size_t count = 0;
    const std::u16string* lines = Applications::Commands::Scrivlet::helpLines(count);
    ASSERT_EQ(count, 56u);
    std::ifstream in(std::filesystem::path(SCRIVLET_GOLDEN_DIR) / "help-markers.txt");
    std::vector<std::string> reference;
    for (std::string l; std::getline(in, l);)
        reference.push_back(l);
    std::vector<std::string> printed;
    for (size_t i = 0; i < count; i++) {
        printed.push_back(notation(lines[i]));
        // Blank lines after lines 1, 20 and 22 come from a second end of line.
        if (i == 0 || i == 19 || i == 21) printed.push_back("");
    }
    EXPECT_EQ(printed, reference);
}

// What the console receives: on a console that shows colours, the header is bold and underlined,
// the program's name cyan, each coloured span and each line ends with a reset; elsewhere the same
// text has no escape sequence at all. Every line ends with a line feed, three with a blank line.
class PrintedHelp : public ::testing::TestWithParam<bool> {
  protected:
    void TearDown() override { Host::installConsole(); }
};

TEST_P(PrintedHelp, ColoursOnlyWhereTheConsoleShowsThem) {
    bool colour = GetParam();
    auto console = std::make_unique<MemoryConsole>(colour);
    MemoryConsole* printed = console.get();
    installService<ConsoleService>(std::move(console));
    Applications::Commands::Scrivlet::printHelpScreen();
    const std::string& text = printed->text();
    std::string firstLine = text.substr(0, text.find('\n'));
    if (colour) {
        EXPECT_EQ(firstLine.rfind("\x1b[1;4mUSAGE: \x1b[1;36mscrivletv2 \x1b[1;33m-m\x1b[0m", 0), 0u)
            << firstLine;
        EXPECT_EQ(firstLine.substr(firstLine.size() - 4), "\x1b[0m");
    } else {
        EXPECT_EQ(text.find('\x1b'), std::string::npos);
        EXPECT_EQ(firstLine.rfind("USAGE: scrivletv2 -m <mode> [options", 0), 0u) << firstLine;
    }
    size_t count = 0;
    Applications::Commands::Scrivlet::helpLines(count);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), count + 3);
    EXPECT_EQ(text.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(Console, PrintedHelp, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InColour" : "Plain"; });

} // namespace
