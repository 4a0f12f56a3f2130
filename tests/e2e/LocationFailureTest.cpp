// Platform directories and the directory hierarchy when a step fails: the lines the run logs, and
// where the file ends up, through modes "file" and "log".
#include "support/NamedCase.h"
#include "support/Sandbox.h"
#include <gtest/gtest.h>

using namespace Testing;

namespace {

struct LocationCase {
    const char* name;
    std::vector<json> faults;
    json sysInfo;
    std::vector<LogLine> logged;     // lines the run must have written
    std::vector<std::string> absent; // texts no log line may contain
    std::vector<std::string> files;  // what the system node holds afterwards
};
using Testing::PrintTo;

class PlatformLocations : public ::testing::TestWithParam<LocationCase> {};

TEST_P(PlatformLocations, LoggedAndWritten) {
    const LocationCase& c = GetParam();
    Sandbox box;
    for (const json& f : c.faults)
        box.addFault(f);
    for (auto& [key, value] : c.sysInfo.items())
        box.config["sysInfo"][key] = value;
    writeFile(box.work() / "x.txt", "hello\n");

    RunResult r = box.run({"x.txt"});

    EXPECT_EQ(r.status, 0) << r.logText();
    for (const LogLine& line : c.logged)
        EXPECT_TRUE(r.logged(line.level, line.text)) << "L" << line.level << " " << line.text << "\n"
                                                     << r.logText();
    for (const std::string& text : c.absent)
        EXPECT_EQ(r.logText().find(text), std::string::npos) << text;
    EXPECT_EQ(listFiles(box.node("system")), c.files);
}

const std::string first = "Screenshots/x.txt", second = "Service/Screenshots/x.txt";

json fault(const char* op, const char* path, unsigned error) {
    return {{"op", op}, {"path", path}, {"error", error}};
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PlatformLocations,
    ::testing::Values(
        LocationCase{"NoNodeForTheFirstIsLogged",
                     {fault("PlatformEnvironment::getPathNode", "8", 0x20)},
                     json::object(),
                     {{3, "Failed to determine node of main platform path 8h (8); error: 20h (32)"},
                      {4, "Main directory not available"}},
                     {},
                     {second}},
        LocationCase{"NoNodeForTheAlternateIsSilent",
                     {fault("PlatformEnvironment::getPathNode", "10", 0x20)},
                     json::object(),
                     {},
                     {"Failed to determine node", "Main directory not available"},
                     {first}},
        LocationCase{
            "MountFailsOnce",
            {{{"op", "Entry::create"}, {"path", "/devices/orvane/system"}, {"error", 0x25}, {"times", 1}}},
            json::object(),
            {{3, "Failed to mount main platform directory node /devices/orvane/system; error: 25h (37)"},
             {4, "Failed to access platform directory for 8h (8)"}},
            {},
            {second}},
        LocationCase{
            "NoPathAfterMounting",
            {fault("PlatformEnvironment::getPath", "10", 0x20)},
            json::object(),
            {{3, "Failed to determine path to main platform directory from node /devices/orvane/system "
                 "mounted as /system; error: 20h (32)"},
             {4, "Failed to access platform directory for Ah (10)"}},
            {},
            {first}},
        LocationCase{"HostPathNotEnsuredIsLoggedOnly",
                     {fault("PlatformEnvironment::ensureHostPathHierarchy", "/system/Screenshots", 0x25)},
                     {{"0x20012", 0}},
                     {{3, "Failed to ensure accessibility of host path /system/Screenshots"}},
                     {},
                     {first, second}},
        LocationCase{"HostPathUnavailableIsNotLogged",
                     {fault("PlatformEnvironment::ensureHostPathHierarchy", "*", 0x10002)},
                     {{"0x20012", 0}},
                     {},
                     {"Failed to ensure accessibility"},
                     {first, second}},
        LocationCase{"DirectoryThatCannotBeCreated",
                     {fault("Directory::createDirectory", "/system/Service", 0x22)},
                     json::object(),
                     {{4, "Failed to create directory /system/Service; error: 22h (34)"},
                      {1, "Usable entries of 2h (2) available: 1h (1)"}},
                     {},
                     {first}},
        LocationCase{"ParentThatCannotBeOpened",
                     {fault("Directory::open", "/system/Service", 0x22)},
                     json::object(),
                     {{4, "Failed to open directory /system/Service; error: 22h (34)"}},
                     {},
                     {first}}),
    [](const ::testing::TestParamInfo<LocationCase>& info) { return std::string(info.param.name); });

TEST(LogLocations, AHierarchyThatFailsIsNamedWithItsMountPoint) {
    Sandbox box;
    box.addFault(fault("Directory::createDirectory", "/system/Service", 0x22));
    RunResult r = box.run({"-m", "log", "mine.log"});
    EXPECT_EQ(r.status, 0) << r.logText();
    EXPECT_TRUE(r.logged(4, "Failed to ensure folder hierarchy /system/Service/Logs on /system"))
        << r.logText();
    EXPECT_EQ(listFiles(box.node("system")), std::vector<std::string>{"Logs/mine.log"});
}

TEST(ProductHierarchy, AWindowsHostUsesItsOwnProductDirectory) {
    Sandbox box;
    box.config["sysInfo"]["0x20002"] = 1;
    for (const char* id : {"7", "9"})
        box.addFault(fault("PlatformEnvironment::getPathNode", id, 0x20));
    box.script["select"] = json::array({{{"drive", "STICK"}}});
    RunResult r = box.run({"-m", "log", "--dont-force-boot", "mine.log"});
    EXPECT_EQ(r.status, 0) << r.logText();
    EXPECT_EQ(listFiles(box.node("stick")), std::vector<std::string>{"Varek/Logs/mine.log"});
}

} // namespace
