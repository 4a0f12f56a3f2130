// Predetermined names and the reuse-name registry, through mode "log": the names the files get on
// disk and the registry lines the runs leave.
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <functional>
#include <gtest/gtest.h>

using namespace Testing;

namespace {

// 2026-01-02 12:00 UTC.
constexpr long long fixedNow = 1767355200000LL;

struct NameCase {
    const char* name;
    std::function<void(Sandbox&)> setUp;
    std::vector<std::string> options;
    std::string file; // the name the log gets in the first platform log directory
};
using Testing::PrintTo;

class PredeterminedNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PredeterminedNames, LogFileName) {
    const NameCase& c = GetParam();
    Sandbox box;
    box.fixClock(fixedNow);
    c.setUp(box);
    std::vector<std::string> args{"-m", "log"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult r = box.run(args);
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(box.node("system") / "Logs"), std::vector<std::string>{c.file});
}

void sysInfo(Sandbox& b, json values) {
    for (auto& [key, value] : values.items())
        b.config["sysInfo"][key] = value;
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, PredeterminedNames,
    ::testing::Values(
        NameCase{"LinuxHostWithHostPaths",
                 [](Sandbox&) {},
                 {"--date=20260102"},
                 "Orvane-20260102-ORV.LX64-2.0-user-001.log"},
        NameCase{
            "EmptyDateIsToday", [](Sandbox&) {}, {"--date="}, "Orvane-20260102-ORV.LX64-2.0-user-001.log"},
        NameCase{
            "DateIsNotValidated", [](Sandbox&) {}, {"--date=2024"}, "Orvane-2024-ORV.LX64-2.0-user-001.log"},
        NameCase{
            "EmptySuffixIsUser", [](Sandbox&) {}, {"--suffix="}, "Orvane-20260102-ORV.LX64-2.0-user-001.log"},
        NameCase{"Suffix", [](Sandbox&) {}, {"--suffix=desk"}, "Orvane-20260102-ORV.LX64-2.0-desk-001.log"},
        NameCase{"WindowsHost",
                 [](Sandbox& b) {
                     sysInfo(b, {{"0x20002", 1}});
                 },
                 {},
                 "Orvane-20260102-ORV.WX64-2.0-user-001.log"},
        NameCase{"NoProductDescription",
                 [](Sandbox& b) { b.config.erase("product"); },
                 {},
                 "Orvane-20260102-user-001.log"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

struct Registry : ::testing::Test {
    Sandbox box;
    fs::path file() const { return box.root / "fs" / "users" / "system" / "temp" / "scrivlet-files"; }
    fs::path logs() const { return box.node("system") / "Logs"; }
    RunResult log(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"-m", "log", "--date=20260102"};
        args.insert(args.end(), extra.begin(), extra.end());
        return box.run(args);
    }
};

const std::string indexed = "Orvane-20260102-ORV.LX64-2.0-user-001.log";

TEST_F(Registry, FirstRequestRecordsOneLinePerLocationAndTheSecondReusesIt) {
    RunResult first = log({"--reuse-name"});
    ASSERT_EQ(first.status, 0) << first.logText();
    std::string recorded = "\"/devices/orvane/system/Logs\"=\"" + indexed + "\"\n" +
                           "\"/devices/orvane/system/Service/Logs\"=\"" + indexed + "\"\n";
    EXPECT_EQ(readFile(file()), recorded);

    RunResult second = log({"--reuse-name"});
    ASSERT_EQ(second.status, 0) << second.logText();
    EXPECT_TRUE(second.logged(1, "Reusing filename " + indexed)) << second.logText();
    EXPECT_EQ(readFile(file()), recorded) << "a reused name is not recorded again";
    EXPECT_EQ(listFiles(logs()), std::vector<std::string>{indexed});
}

TEST_F(Registry, AGivenLogNameIsRecordedWithoutAnIndex) {
    RunResult r = box.run({"-m", "log", "--reuse-name", "given.log"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(logs()), std::vector<std::string>{"given.log"});
    EXPECT_EQ(readFile(file()), "\"/devices/orvane/system/Logs\"=\"given.log\"\n"
                                "\"/devices/orvane/system/Service/Logs\"=\"given.log\"\n");
}

// Names read back are used below the directory they were recorded for, so only file names count.
TEST_F(Registry, RecordedNamesThatAreNotFileNamesAreIgnored) {
    fs::path outside = box.root / "outside";
    fs::create_directories(outside);
    std::string before = "\"/devices/orvane/system/Logs\"=\"" + (outside / "evil.log").string() +
                         "\"\n"
                         "\"/devices/orvane/system/Logs\"=\"..\"\n"
                         "\"/devices/orvane/system/Service/Logs\"=\"../../../../outside/evil.log\"\n";
    writeFile(file(), before);
    waitPastChange(file());
    RunResult r = log({"--reuse-name"});
    ASSERT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(r.logged(3, "Ignoring recorded name ..")) << r.logText();
    EXPECT_TRUE(listFiles(outside).empty());
    EXPECT_EQ(listFiles(logs()), std::vector<std::string>{indexed});
    EXPECT_EQ(listFiles(box.node("system") / "Service" / "Logs"), std::vector<std::string>{indexed});
    // Determined afresh and recorded after the ignored lines, where the next run finds it.
    EXPECT_EQ(readFile(file()), before + "\"/devices/orvane/system/Logs\"=\"" + indexed + "\"\n" +
                                    "\"/devices/orvane/system/Service/Logs\"=\"" + indexed + "\"\n");
    RunResult again = log({"--reuse-name"});
    EXPECT_TRUE(again.logged(1, "Reusing filename " + indexed)) << again.logText();
}

} // namespace
