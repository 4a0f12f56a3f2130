// The help lines as the terminal printer receives them, attribute markers included.
#include "app/HelpScreen.h"
#include "common/Parameters.h"
#include "platform/SysLog.h"
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

} // namespace
