// Text on its way to a terminal: control characters and bytes that are not UTF-8 shown as escapes.
#include "platform/host/VisibleText.h"
#include <gtest/gtest.h>

namespace {

using Ui::visibleText;

TEST(VisibleText, ControlCharactersBecomeEscapes) {
    EXPECT_EQ(visibleText("\x1b]2;PWNED\x07\x1b[2J\x1b[31mevil.txt"), "\\e]2;PWNED\\a\\e[2J\\e[31mevil.txt");
    EXPECT_EQ(visibleText(std::string("a\0b\x7f\r\t", 6)), "a\\x00b\\x7f\\r\\t");
    // A message's own line breaks stay; a one-line text shows them.
    EXPECT_EQ(visibleText("one\ntwo"), "one\ntwo");
    EXPECT_EQ(visibleText("one\ntwo", false), "one\\ntwo");
}

TEST(VisibleText, UnicodeStaysButC1ControlsAndBrokenBytesDoNot) {
    const std::string shown = "SYSTEM:/\u200BLogs/\u200BOrvane\u2011x \u00e4\U0001F600";
    EXPECT_EQ(visibleText(shown), shown);
    // U+009B is the one-character form of ESC [.
    EXPECT_EQ(visibleText("a\u009B31mb"), "a\\u009b31mb");
    // A lone 0x9B byte, a cut sequence, an overlong slash and an encoded surrogate.
    EXPECT_EQ(visibleText("\x9b"
                          "31m"),
              "\\x9b31m");
    EXPECT_EQ(visibleText("\xe2\x82"), "\\xe2\\x82");
    EXPECT_EQ(visibleText("\xc0\xaf"), "\\xc0\\xaf");
    EXPECT_EQ(visibleText("\xed\xa0\x80"), "\\xed\\xa0\\x80");
}

} // namespace
