// Inputs that used to crash or hang a run, and the promise that a saved file is on its medium
// before the run says so.
#include "support/Sandbox.h"
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Testing;

namespace {

struct Robustness : ::testing::Test {
    Sandbox box;
    fs::path first() const { return box.node("system") / "Screenshots"; }
    void SetUp() override { writeFile(box.work() / "x.txt", "source bytes"); }
    // A run that ends by itself within 20 s; one still running then is killed and fails the test.
    RunResult runBounded(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}) {
        RunResult r = box.runInterrupted(
            args, SIGKILL, [] { return false; }, env);
        EXPECT_NE(r.status, endedBy + SIGKILL) << "the run hung";
        return r;
    }
    static size_t count(const std::string& text, const std::string& part) {
        size_t found = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            found++;
        return found;
    }
};

// Without a semaphore the wait dialog is not made, and the save goes on without it.
TEST_F(Robustness, SavesGoOnWithoutAWaitDialogWhenNoSemaphoreCanBeMade) {
    box.addFault({{"op", "Sem::create"}});
    writeFile(box.work() / "shot.png", "png");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"x.txt"}, {"-m", "screenshot", "shot.png"}, {"-m", "log"}}) {
        RunResult r = box.run(args);
        EXPECT_EQ(r.status, 0) << args[0] << "\n" << r.logText();
        EXPECT_TRUE(r.calls("Dialog.show").empty());
    }
    EXPECT_TRUE(hasContent(first() / "x.txt", "source bytes"));
    EXPECT_EQ(listFiles(box.node("system") / "Logs").size(), 1u);
}

// A UI script or catalogue that cannot be read is reported once, and the run goes on.
TEST_F(Robustness, UnreadableScriptAndCatalogueAreReportedAndIgnored) {
    fs::path directory = box.root / "a-directory";
    fs::create_directories(directory);
    writeFile(box.root / "binary.json", std::string("\x00\xff\x13\x37", 4));

    RunResult script = box.run({"--silent", "x.txt"}, {{"ORVANE_UI_SCRIPT", directory.string()}});
    EXPECT_EQ(script.status, 0) << script.logText();
    EXPECT_EQ(count(script.err, "UI script " + directory.string() + " ignored: not a regular file"), 1u)
        << script.err;

    box.config["language"] = "de";
    fs::remove(box.root / "catalogues" / "orvane.tool.scrivlet.de.json");
    fs::create_directories(box.root / "catalogues" / "orvane.tool.scrivlet.de.json");
    RunResult catalogue = box.run({"--silent", "--add-index", "x.txt"});
    EXPECT_EQ(catalogue.status, 0) << catalogue.logText();
    EXPECT_EQ(count(catalogue.err, "scrivletv2: catalogue "), 1u) << catalogue.err;
}

// A host configuration that cannot be used ends the run at once with the status of an unusable
// platform, saying where the parser stopped, instead of going on and failing for another reason.
TEST_F(Robustness, AnUnusableHostConfigurationEndsTheRunSayingWhy) {
    fs::path directory = box.root / "a-directory";
    fs::create_directories(directory);
    writeFile(box.root / "binary.json", std::string("\x00\xff\x13\x37", 4));
    writeFile(box.root / "comma.json", "{\n  \"ui\": {\"type\": 2,}\n}\n");
    writeFile(box.root / "types.json", "{\"nodes\": 5}");
    // A number no whole number type holds (converting it was undefined behaviour; found by fuzzing).
    writeFile(box.root / "huge.json", "{\"clock\": {\"fixedMs\": 444444444444444446000000}}");
    writeFile(box.root / "pattern.json",
              R"({"privacy": {"patterns": [{"kind": "ticket", "regex": "TCK-("}]}})");
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {directory, "not a regular file"},
        {box.root / "binary.json", "parse error at line 1, column 1"},
        {box.root / "comma.json", "parse error at line 2, column 20"},
        {box.root / "types.json", "a setting has the wrong type"},
        {box.root / "huge.json", "clock.fixedMs must be a whole number"},
        {box.root / "pattern.json", "privacy.patterns: TCK-(: missing )"}};
    for (const auto& [config, reason] : cases) {
        RunResult r = box.run({"--silent", "x.txt"}, {{"ORVANE_CONFIG", config.string()}});
        EXPECT_EQ(r.status, 78) << config << r.err;
        EXPECT_NE(r.err.find("host configuration " + config.string() + " cannot be used: " + reason),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(listFiles(first()).empty());
    }
}

// A switch in the environment that is neither yes nor no is the environment's fault, and is named
// as such: the configuration file is fine.
TEST_F(Robustness, AnUnusableEnvironmentSwitchIsNamedNotTheFile) {
    RunResult r = box.run({"--silent", "x.txt"}, {{"ORVANE_REDACT", "maybe"}});
    EXPECT_EQ(r.status, 78) << r.err;
    EXPECT_NE(r.err.find("the environment variable ORVANE_REDACT is \"maybe\"; set it to 1 or 0"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("host configuration"), std::string::npos) << r.err;
    EXPECT_TRUE(listFiles(first()).empty());
}

TEST_F(Robustness, AnUnusablePlatformRootIsNamedWithItsOwnStatus) {
    writeFile(box.root / "plain-file", "not a directory");
    std::string unusable = (box.root / "plain-file" / "root").string();
    RunResult r = box.run({"x.txt"}, {{"ORVANE_ROOT", unusable}, {"ORVANE_CONFIG", ""}});
    EXPECT_EQ(r.status, 78) << r.err;
    EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find("ORVANE_ROOT " + unusable), std::string::npos) << r.err;
}

// Sources that are not regular files are refused at once: they never block and never "save" an
// empty copy.
TEST_F(Robustness, SourcesThatAreNotRegularFilesAreRefusedAtOnce) {
    ASSERT_EQ(mkfifo((box.work() / "pipe").c_str(), 0644), 0);
    for (const char* source : {"pipe", "/host/dev/zero", "/host/dev/null"}) {
        RunResult r = runBounded({"--silent", source});
        EXPECT_EQ(r.status, 67) << source << "\n" << r.logText();
        EXPECT_TRUE(r.logged(4, "Exit code 8443h")) << source;
        EXPECT_TRUE(listFiles(first()).empty()) << source;
    }
    RunResult shown = runBounded({"pipe"});
    ASSERT_FALSE(shown.calls("Dialog::show").empty());
    EXPECT_NE(shown.calls("Dialog::show")[0]["text"].get<std::string>().find("error: 0x28h (40)"),
              std::string::npos)
        << shown.calls("Dialog::show")[0]["text"];
}

// Watched with strace: the copy's filesystem is flushed before the success message is shown.
TEST_F(Robustness, TheCopyIsOnItsMediumBeforeTheSuccessMessage) {
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed (apt-get install strace)";
    fs::path trace = box.root / "trace.txt";
    box.launcher = {
        "/usr/bin/strace", "-f", "-qq", "-s", "200", "-e", "trace=syncfs,fsync,fdatasync,write", "-o",
        trace.string()};
    // LeakSanitizer cannot work under a tracer; the rest of the sanitized build still checks.
    RunResult r = box.run({"x.txt"}, {{"ASAN_OPTIONS", "exitcode=97:detect_leaks=0"}});
    ASSERT_EQ(r.status, 0) << r.logText();
    std::string calls = readFile(trace);
    size_t flushed = calls.find("syncfs(");
    size_t said = calls.find("File saved as");
    ASSERT_NE(said, std::string::npos) << calls;
    ASSERT_NE(flushed, std::string::npos) << "nothing was flushed:\n" << calls;
    EXPECT_LT(flushed, said) << calls;
}

// A source cut short under the copy is the source's failure (0xC...), whether the kernel copies
// the data or the program reads and writes it.
TEST_F(Robustness, ASourceThatShrinksIsAReadErrorEitherWayTheDataMoves) {
    for (bool mapped : {true, false}) {
        Sandbox box;
        fs::path source = box.work() / "big.bin";
        writeFile(source, std::string(4 << 20, 's'));
        box.addFault({{"op", "File::write"}, {"path", "/system/*"}, {"delayMs", 20}, {"error", 0}});
        if (!mapped) box.addFault({{"op", "File::map"}});
        fs::path target = box.node("system") / "Screenshots" / "big.bin";
        std::thread shrink([&] {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            auto started = [&] {
                std::error_code ec;
                auto size = fs::file_size(target, ec);
                return !ec && size > 0;
            };
            while (std::chrono::steady_clock::now() < deadline && !started())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            fs::resize_file(source, 100000);
        });
        RunResult r = box.run({"big.bin"});
        shrink.join();
        EXPECT_EQ(r.status, 67) << r.logText();
        auto shown = r.calls("Dialog::show");
        ASSERT_FALSE(shown.empty()) << r.logText();
        std::string text = shown[0]["text"];
        EXPECT_EQ(text.rfind("Error reading from file ", 0), 0u) << (mapped ? "mapped: " : "read: ") << text;
        EXPECT_NE(text.find(": 0xC0"), std::string::npos) << text;
    }
}

// A file the kernel makes up as it is read says its size is 0: it is refused as a special file,
// not saved as an empty copy.
TEST_F(Robustness, AGeneratedFileIsRefusedNotSavedEmpty) {
    RunResult r = box.run({"/proc/self/status", "status.txt"});
    EXPECT_EQ(r.status, 67) << r.logText();
    EXPECT_EQ(r.calls("Dialog::show").at(0)["text"],
              "Could not open source file: /proc/self/status; error: 0x28h (40)");
    EXPECT_TRUE(listFiles(first()).empty());
}

} // namespace
