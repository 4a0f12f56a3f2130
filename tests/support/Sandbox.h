#pragma once
// A throw-away platform for one end-to-end run of the built binary: its own root directory with the
// embedded default, a host configuration and UI script the test edits, and readers for what the run
// left behind (standard output, exit status, dialog transcript, system log, files).
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Testing {

namespace fs = std::filesystem;
using nlohmann::json;

// The status Sandbox gives a run ended by a signal: endedBy + the signal's number.
constexpr int endedBy = 1000;
// The clock the dated tests fix (2026-01-01T00:00:00Z) and a day, in milliseconds; the export
// directory a run on that day makes.
constexpr long long now = 1767225600000;
constexpr long long day = 86400000;
inline const std::string exportName = "LogExport.2026-01-01";

struct LogLine {
    int level = 0;
    std::string text;
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err; // standard error (also passed on to the test's own)
    std::vector<json> transcript;
    std::vector<LogLine> log;
    long peakKiB = 0; // the run's peak resident memory (Sandbox::run only)

    // Transcript entries of one call name ("Dialog::show", "FSItem::create", ...).
    std::vector<json> calls(const std::string& name) const;
    // True when a log line of the level contains the text.
    bool logged(int level, const std::string& text) const;
    std::string logText() const;
};

// One exchange with a run on a terminal: wait until the screen shows `expect`, then type `send`.
struct TerminalStep {
    std::string expect;
    std::string send;
    // Done once `expect` shows, before typing (a change on the host while a question waits).
    std::function<void()> action = {};
};

// Runs started at once: the status of each, and the transcript and log they wrote together.
struct ManyResult {
    std::vector<int> statuses;
    RunResult shared;
};

class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // Runs the binary from the sandbox's working directory (a platform path below /host).
    RunResult run(const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}) const;
    // Runs the binary on a pseudo-terminal with the terminal dialogs, typing as the steps say; `out`
    // of the result holds everything the terminal showed. A step whose text never shows fails the test.
    RunResult runOnTerminal(const std::vector<std::string>& args, const std::vector<TerminalStep>& steps,
                            const std::map<std::string, std::string>& env = {}) const;
    // Runs the binary, sends it `signal` (`times` times, 50 ms apart) once `ready` says the run is
    // under way (asked every 10 ms, for at most 20 s), and waits for it to end. A status of endedBy + N
    // means it ended by signal N.
    RunResult runInterrupted(const std::vector<std::string>& args, int signal,
                             const std::function<bool()>& ready,
                             const std::map<std::string, std::string>& env = {}, int times = 1) const;
    // Starts `count` runs with the same arguments at once and waits for all of them.
    ManyResult runMany(const std::vector<std::string>& args, unsigned count) const;

    // A host directory of a node of the embedded default: "system", "boot", "stick".
    fs::path node(const std::string& name) const { return root / "nodes" / name; }
    // The working directory of runs, where test sources are put.
    fs::path work() const { return root / "work"; }
    void addFault(json rule) { config["faults"].push_back(std::move(rule)); }
    // Sets a fixed clock (milliseconds since the epoch, before the time-zone offset).
    void fixClock(long long ms) { config["clock"]["fixedMs"] = ms; }

    fs::path root;
    // The size of the terminal runOnTerminal gives a run.
    unsigned short terminalColumns = 80;
    unsigned short terminalRows = 24;
    // A program the binary is run under (for example strace and its arguments), or nothing.
    std::vector<std::string> launcher;
    json config;
    json script = json::object();

  private:
    std::vector<std::string> prepare(const std::map<std::string, std::string>& env) const;
    pid_t spawn(const std::vector<std::string>& args, std::vector<std::string> envText, int outFd,
                int errFd = -1) const;
    static std::vector<char*> pointers(std::vector<std::string>& texts);
    std::vector<std::string> commandLine(const std::vector<std::string>& args) const;
    [[noreturn]] static void execIn(const std::string& dir, std::vector<char*>& argv,
                                    std::vector<char*>& envp);
    RunResult collect() const;
};

std::string readFile(const fs::path& path);
// Compares a file with the expected bytes and reports sizes and the first difference, never the data.
::testing::AssertionResult hasContent(const fs::path& path, const std::string& expected);
void writeFile(const fs::path& path, const std::string& data);
// Bytes that differ from one offset to the next and from one seed to another, so that a block
// copied to the wrong place, or from the wrong file, shows.
std::string patternedBytes(size_t size, unsigned seed = 0);
// All regular files below a directory, relative, sorted.
std::vector<std::string> listFiles(const fs::path& directory);
long long modifiedMs(const fs::path& path);
// Waits until the clock file times are taken from has moved past the file's last change, so that a
// run started afterwards sees the file as older than itself, not as changed by a concurrent run.
void waitPastChange(const fs::path& path);
void setModifiedMs(const fs::path& path, long long ms);
// The text of a gzip file's bytes (all its members); empty when they are not a whole gzip file.
std::string gunzip(const std::string& data);
// The lines of a system-log store and the entries of a dialog transcript.
std::vector<LogLine> readLog(const fs::path& file);
std::vector<json> readTranscript(const fs::path& file);

} // namespace Testing
