// Splitting, replacing, number conversion and the two placeholder styles of the formatters.
#include "platform/Text.h"
#include "common/StringFormatter.h"
#include "platform/Filesystem.h"
#include "platform/Formatter.h"
#include "support/NamedCase.h"
#include "support/memory/MemoryFilesystem.h"
#include <cstring>
#include <gtest/gtest.h>

using namespace Applications::Commands::Scrivlet;

namespace {

std::vector<std::string> texts(const std::vector<Ref<String>>& parts) {
    std::vector<std::string> out;
    for (const Ref<String>& p : parts)
        out.push_back(stdString(p));
    return out;
}

// A String keeps its text in its own allocation: every piece made from one is a whole text of its
// own, ended for the C calls that take it, the empty ones included (an empty view has no data).
TEST(String, EveryPieceIsAWholeEndedText) {
    Ref<String> path = String::create("/media/STICK/a.txt");
    std::vector<std::pair<Ref<String>, std::string>> pieces{
        {path->substring(0, 12), "/media/STICK"},
        {path->substring(13), "a.txt"},
        {path->substring(99), ""},
        {String::create(std::string_view()), ""},
        {path->concat(std::string_view()), "/media/STICK/a.txt"},
        {String::create("")->concat('/'), "/"}};
    for (const auto& [piece, expected] : pieces) {
        EXPECT_EQ(piece->str(), expected);
        EXPECT_EQ(std::strlen(piece->c_str()), expected.size()) << expected;
    }
}

struct SplitCase {
    const char* name;
    const char* text;
    char separator;
    unsigned limit;
    bool quotes;
    std::vector<std::string> parts;
};
using Testing::caseName;
using Testing::PrintTo;

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Parts) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(texts(StringUtil::split(String::create(c.text), c.separator, c.limit, c.quotes)), c.parts);
}

INSTANTIATE_TEST_SUITE_P(
    StringUtil, SplitTest,
    ::testing::Values(SplitCase{"Blanks", "a b c", ' ', 0, false, {"a", "b", "c"}},
                      SplitCase{"LimitKeepsTheRest", "boot.node=/x=y", '=', 2, false, {"boot.node", "/x=y"}},
                      SplitCase{"NoSeparator", "boot.node", '=', 2, false, {"boot.node"}},
                      SplitCase{"EmptyPart", "a  b", ' ', 0, false, {"a", "", "b"}},
                      SplitCase{"QuotedSeparator", "\"k=v\"=\"w\"", '=', 2, true, {"k=v", "w"}},
                      SplitCase{"EscapedSeparator", "k\\=v=w", '=', 2, true, {"k=v", "w"}},
                      SplitCase{"UnquotedOnlyInsideQuotes", "\"a=b\"", '=', 2, true, {"a=b"}}),
    caseName);

TEST(StringUtil, ReplaceWorksInOnePassFromTheLeft) {
    Ref<String> out = StringUtil::replace(String::create("a/b:c"), {String::create("/"), String::create(":")},
                                          {String::create(":/"), String::create("::")}, 0);
    EXPECT_EQ(out->str(), "a:/b::c");
    EXPECT_EQ(
        StringUtil::replace(String::create("{file} and {file}"), "{file}", String::create("x"), 0)->str(),
        "x and x");
}

TEST(StringUtil, ValueOfTakesTheFirstPartThatHasTheKeyAndAValue) {
    auto value = [](const char* line) {
        return stdString(StringUtil::valueOf(String::create(line), "boot.node"));
    };
    EXPECT_EQ(value("quiet boot.node boot.node=/a boot.node=/b"), "/a");
    EXPECT_EQ(value("boot.nodes=/x boot.node=/a=b"), "/a=b");
    EXPECT_EQ(value("quiet boot.node"), "");
    EXPECT_FALSE(StringUtil::valueOf(String::create("xboot.node=/a"), "boot.node"));
}

TEST(StrConv, RadixAndDigits) {
    EXPECT_EQ(StrConv::str(0x8443, 16, 8)->str(), "00008443");
    EXPECT_EQ(StrConv::str(0x50008484, 16, 8)->str(), "50008484");
    EXPECT_EQ(StrConv::str(7, 10, 3)->str(), "007");
    EXPECT_EQ(StrConv::str(1234, 10, 3)->str(), "1234");
    uint64_t v = 0;
    EXPECT_TRUE(StrConv::num(String::create("4711"), v));
    EXPECT_EQ(v, 4711u);
    EXPECT_FALSE(StrConv::num(String::create("12x"), v));
    EXPECT_FALSE(StrConv::num(String::create(""), v));
}

TEST(Formatter, BracePlaceholdersAreFilledInOrder) {
    EXPECT_EQ(formatMessage(String::create("Could not create file: {1}; error: 0x{2} ({3})"),
                            String::create("f"), 0x60000020)
                  ->str(),
              "Could not create file: f; error: 0x60000020 (1610612768)");
    EXPECT_EQ(formatCode(String::create("0x{1} ({2})"), 0x2A)->str(), "0x2A (42)");
}

TEST(Formatter, AValueHoldingItsOwnPlaceholderIsInsertedOnce) {
    EXPECT_EQ(formatMessage(String::create("{1} and {1}"), String::create("<{1}>"))->str(),
              "<{1}> and <{1}>");
}

TEST(Formatter, TenthPlaceholderIsNotTheFirstFollowedByZero) {
    Ref<StringFormatter> f = StringFormatter::create(String::create("{10}|{1}0"));
    for (int i = 1; i <= 10; i++)
        f->arg(String::create(std::string(1, static_cast<char>('a' + i - 1))));
    EXPECT_EQ(f->result()->str(), "j|a0");
}

TEST(Formatter, PlatformFormatterPercentMode) {
    using Libraries::IO::Characters::StringFormatter;
    Ref<StringFormatter> f = StringFormatter::create(String::create("UPLOADED LOG AS #%1"), 0);
    f->arg(String::create("K7QM2XPA"));
    EXPECT_EQ(f->result()->str(), "UPLOADED LOG AS #K7QM2XPA");
    Ref<StringFormatter> g = StringFormatter::create(String::create("ERROR: 0x{1} ({2})"), 1);
    g->arg(StrConv::str(0x50008442, 16, 8)).arg(0x50008442, 10);
    EXPECT_EQ(g->result()->str(), "ERROR: 0x50008442 (1342211138)");
}

} // namespace

namespace {

// Lines read back exactly as written, wherever the reader's chunks happen to end.
TEST(CharReaderTest, ReadsEveryLineWhateverItsLengthAndPlace) {
    constexpr size_t chunk = 64 * 1024; // the reader's own chunk, so that lines straddle its ends
    std::vector<std::string> lines = {"first",
                                      std::string(chunk - 7, 'a'),
                                      "",
                                      "straddles the chunk end",
                                      std::string(3 * chunk + 11, 'b'),
                                      "last, with no line feed"};
    std::string data;
    for (const std::string& line : lines)
        data += line + "\n";
    data.pop_back();
    Services::Filesystem::Client::MemoryFilesystem files;
    files.addFile("/lines", data);
    Ref<Services::Filesystem::Client::File> stream =
        files.openFile(String::create("/lines"), Services::Filesystem::Client::OpenMode::Read);
    ASSERT_TRUE(stream);
    Ref<CharReader> reader = CharReader::create(stream, 2);
    for (const std::string& expected : lines) {
        Ref<String> line = reader->readLine();
        ASSERT_TRUE(line) << "missing a line of " << expected.size() << " bytes";
        EXPECT_EQ(line->str(), expected);
    }
    EXPECT_FALSE(reader->readLine());
}

} // namespace
