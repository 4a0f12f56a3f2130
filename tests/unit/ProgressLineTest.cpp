// The terminal's progress line: what it says, and that it never outgrows the terminal.
#include "platform/host/ProgressLine.h"
#include <gtest/gtest.h>

namespace {

using Ui::progressLine;

TEST(ProgressLine, ACopyShowsBytesRateAndTimeLeft) {
    constexpr uint64_t mib = 1 << 20;
    std::string line = progressLine({16 * mib, 64 * mib, 4.0, "Saving file: big.bin"}, 200);
    EXPECT_EQ(line,
              "[#####               ]  25%  16.0 MiB / 64.0 MiB  4.0 MiB/s  0:12 left  Saving file: big.bin");
}

TEST(ProgressLine, StepsShowOnlyThePercentage) {
    EXPECT_EQ(progressLine({500, 1000, 10.0, "Exporting"}, 200),
              "[##########          ]  50%  0:10 left  Exporting");
    // Too early for a time left.
    EXPECT_EQ(progressLine({1, 100, 0.2, ""}, 200), "[                    ]   1%  -:-- left");
    // A value past the maximum is drawn as complete.
    EXPECT_EQ(progressLine({150, 100, 3.0, ""}, 200), "[####################] 100%  0:00 left");
}

TEST(ProgressLine, IsClippedToTheWidthNeverInsideACharacter) {
    std::string text = "Saving file: Ärger\u2011ü.bin";
    for (unsigned width = 1; width < 80; width++) {
        std::string line = progressLine({3 << 20, 8 << 20, 2.0, text}, width);
        size_t characters = 0;
        for (unsigned char c : line)
            characters += (c & 0xC0) != 0x80;
        EXPECT_LE(characters, width);
        // Whole UTF-8 sequences only: the last byte does not start a sequence cut short.
        if (!line.empty()) {
            EXPECT_LT(static_cast<unsigned char>(line.back()), 0xC0) << width;
        }
    }
}

// A short line gives up the path first (from its start: the end names the file), then the bar;
// bytes, rate and time left go last.
TEST(ProgressLine, NarrowLinesKeepTheFiguresLongest) {
    constexpr uint64_t mib = 1 << 20;
    const Ui::ProgressState copy{3 * mib, 8 * mib, 2.0, "Saving file: SYSTEM:/Screenshots/a-long-name.bin"};
    const std::string figures = " 37%  3.0 MiB / 8.0 MiB  1.5 MiB/s  0:03 left";
    std::string wide = progressLine(copy, 100);
    EXPECT_EQ(wide.rfind("[#######             ] " + figures + "  \u2026", 0), 0u) << wide;
    EXPECT_TRUE(wide.ends_with("/Screenshots/a-long-name.bin")) << wide;
    EXPECT_EQ(wide.size() - 2, 100u) << "the line fills the width (the ellipsis is three bytes)";
    EXPECT_EQ(progressLine(copy, 80), "[#######             ] " + figures);
    EXPECT_EQ(progressLine(copy, 60), "[####        ] " + figures);
    EXPECT_EQ(progressLine(copy, 50), figures);
}

TEST(ProgressLine, LongTimesShowHours) {
    EXPECT_NE(progressLine({1, 1000, 10.0, ""}, 200).find("2:46:30 left"), std::string::npos);
}

} // namespace
