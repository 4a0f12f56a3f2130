#include "Sandbox.h"
#include "platform/host/Host.h"
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

extern char** environ;

namespace Testing {

std::vector<json> RunResult::calls(const std::string& name) const {
    std::vector<json> found;
    for (const json& entry : transcript)
        if (entry.value("call", "") == name) found.push_back(entry);
    return found;
}

bool RunResult::logged(int level, const std::string& text) const {
    return std::any_of(log.begin(), log.end(), [&](const LogLine& l) {
        return l.level == level && l.text.find(text) != std::string::npos;
    });
}

std::string RunResult::logText() const {
    std::string all;
    for (const LogLine& l : log)
        all += "L" + std::to_string(l.level) + " " + l.text + "\n";
    return all;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

::testing::AssertionResult hasContent(const fs::path& path, const std::string& expected) {
    if (!fs::exists(path)) return ::testing::AssertionFailure() << path << " does not exist";
    std::string actual = readFile(path);
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        at++;
    return ::testing::AssertionFailure() << path << " holds " << actual.size() << " bytes, expected "
                                         << expected.size() << "; first difference at byte " << at;
}

std::string gunzip(const std::string& data) {
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buffer[65536];
    int rc;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
        // A gzip file may hold several members, read as one stream.
        if (rc == Z_STREAM_END && z.avail_in > 0 && inflateReset(&z) == Z_OK) rc = Z_OK;
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : std::string();
}

void writeFile(const fs::path& path, const std::string& data) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::string patternedBytes(size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++)
        data[i] = static_cast<char>((i * 131 + seed * 17 + i / 7) & 0xFF);
    return data;
}

std::vector<std::string> listFiles(const fs::path& directory) {
    std::vector<std::string> files;
    if (!fs::exists(directory)) return files;
    for (const auto& e : fs::recursive_directory_iterator(directory))
        if (e.is_regular_file()) files.push_back(fs::relative(e.path(), directory).string());
    std::sort(files.begin(), files.end());
    return files;
}

long long modifiedMs(const fs::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec * 1000LL + st.st_mtim.tv_nsec / 1000000;
}

void waitPastChange(const fs::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (now.tv_sec > st.st_ctim.tv_sec ||
            (now.tv_sec == st.st_ctim.tv_sec && now.tv_nsec > st.st_ctim.tv_nsec))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void setModifiedMs(const fs::path& path, long long ms) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ms / 1000;
    times[0].tv_nsec = times[1].tv_nsec = (ms % 1000) * 1000000;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "scrivlet-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    Host::writeEmbeddedDefault(root.string());
    config = json::parse(readFile(root / "host.json"));
    if (!config.contains("faults")) config["faults"] = json::array();
    // Runs see only the drives of the configuration, never the machine's own removable drives, and
    // their system log is the platform's store, never the machine's journal.
    config["hostDrives"]["enabled"] = false;
    config["syslog"]["source"] = "store";
    fs::create_directories(work());
}

Sandbox::~Sandbox() {
    if (!std::getenv("SCRIVLET_KEEP_SANDBOX")) {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
}

std::vector<LogLine> readLog(const fs::path& file) {
    std::vector<LogLine> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        // "<time> L<level> scrivlet[<pid>]: <text>"
        size_t level = line.find(" L");
        size_t colon = line.find("]: ");
        if (level == std::string::npos || colon == std::string::npos) continue;
        lines.push_back({std::atoi(line.c_str() + level + 2), line.substr(colon + 3)});
    }
    return lines;
}

std::vector<json> readTranscript(const fs::path& file) {
    std::vector<json> entries;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) entries.push_back(json::parse(line));
    return entries;
}

namespace {

// Returns once the clock file times are stamped with has moved on from now. A run takes a file
// changed in the very tick it started in for another run's (it cannot tell the order within a
// tick); a person never starts the next run within those few milliseconds, a test would.
void waitForTheNextTick() {
    timespec start{}, now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &start);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (now.tv_sec == start.tv_sec && now.tv_nsec == start.tv_nsec);
}

// Waits for a child and maps its end to a status: the exit status, or 1000 + the signal. The next
// run starts in a later tick of the file clock than this one's last change.
int waitFor(pid_t child, long* peakKiB = nullptr) {
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    if (peakKiB) *peakKiB = usage.ru_maxrss;
    waitForTheNextTick();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

} // namespace

std::vector<std::string> Sandbox::prepare(const std::map<std::string, std::string>& env) const {
    writeFile(root / "host.json", config.dump(2));
    writeFile(root / "script.json", script.dump(2));
    fs::remove(root / "transcript.jsonl");
    fs::remove(root / "syslog" / "system.log");

    std::map<std::string, std::string> environment;
    for (char** e = environ; *e; e++) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        // The run sees only the store settings its test gives it, never the developer's own.
        bool storeSetting = entry.rfind("ORVANE_", 0) == 0 || entry.rfind("AWS_", 0) == 0;
        if (eq == std::string::npos || storeSetting) continue;
        environment[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    environment["ORVANE_ROOT"] = root.string();
    environment["HOME"] = (root / "home").string();
    environment["ORVANE_UI"] = "script";
    environment["ORVANE_UI_SCRIPT"] = (root / "script.json").string();
    environment["ORVANE_UI_TRANSCRIPT"] = (root / "transcript.jsonl").string();
    for (const auto& [key, value] : env)
        environment[key] = value;
    std::vector<std::string> envText;
    for (const auto& [key, value] : environment)
        envText.push_back(key + "=" + value);
    return envText;
}

std::vector<char*> Sandbox::pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& t : texts)
        list.push_back(t.data());
    list.push_back(nullptr);
    return list;
}

std::vector<std::string> Sandbox::commandLine(const std::vector<std::string>& args) const {
    std::vector<std::string> argText(launcher);
    argText.push_back(SCRIVLET_BINARY);
    argText.insert(argText.end(), args.begin(), args.end());
    return argText;
}

// Runs in the forked child, on what was built before the fork (no allocation after it).
void Sandbox::execIn(const std::string& dir, std::vector<char*>& argv, std::vector<char*>& envp) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    // A run that hangs is ended, and shows as killed by SIGALRM (status 1014).
    alarm(120);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

pid_t Sandbox::spawn(const std::vector<std::string>& args, std::vector<std::string> envText, int outFd,
                     int errFd) const {
    std::vector<std::string> argText = commandLine(args);
    std::vector<char*> envp = pointers(envText), argv = pointers(argText);
    std::string dir = work().string();

    pid_t child = fork();
    if (child == 0) {
        // Whatever the test runner ignores, the run starts as a shell would start it.
        for (int handled : {SIGINT, SIGTERM, SIGHUP})
            signal(handled, SIG_DFL);
        // No controlling terminal, wherever the tests are run from: terminal runs have their own.
        setsid();
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(outFd >= 0 ? outFd : devNull, 1);
        if (errFd >= 0) dup2(errFd, 2);
        execIn(dir, argv, envp);
    }
    return child;
}

RunResult Sandbox::collect() const {
    RunResult result;
    result.transcript = readTranscript(root / "transcript.jsonl");
    result.log = readLog(root / "syslog" / "system.log");
    return result;
}

RunResult Sandbox::run(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) const {
    std::vector<std::string> envText = prepare(env);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    fs::path errPath = root / "stderr.txt";
    int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t child = spawn(args, envText, pipeFds[1], errFd);
    close(pipeFds[1]);
    if (errFd >= 0) close(errFd);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, n);
    close(pipeFds[0]);
    long peakKiB = 0;
    int status = waitFor(child, &peakKiB);
    RunResult result = collect();
    result.peakKiB = peakKiB;
    result.out = std::move(out);
    result.err = readFile(errPath);
    // Sanitizer reports and warnings of the run stay visible in the test's output.
    if (!result.err.empty()) std::fputs(result.err.c_str(), stderr);
    result.status = status;
    return result;
}

RunResult Sandbox::runInterrupted(const std::vector<std::string>& args, int signal,
                                  const std::function<bool()>& ready,
                                  const std::map<std::string, std::string>& env, int times) const {
    std::vector<std::string> envText = prepare(env);
    fs::path outPath = root / "stdout.txt", errPath = root / "stderr.txt";
    int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t child = spawn(args, envText, outFd, errFd);
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
    constexpr auto pollInterval = std::chrono::milliseconds(10);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Looks whether the run has ended, leaving it to be collected below.
    auto ended = [child] {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid != 0;
    };
    while (!ready() && std::chrono::steady_clock::now() < deadline && !ended())
        std::this_thread::sleep_for(pollInterval);
    for (int sent = 0; sent < times; sent++) {
        if (sent > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(child, signal);
    }
    int status = waitFor(child);
    RunResult result = collect();
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    if (!result.err.empty()) std::fputs(result.err.c_str(), stderr);
    result.status = status;
    return result;
}

namespace {

// Reads what the terminal shows into `screen` until `done` says so, the run ends or `seconds` pass.
template <typename Done> bool readScreen(int master, std::string& screen, Done done, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) return done(); // the run ended and closed the terminal
        screen.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

RunResult Sandbox::runOnTerminal(const std::vector<std::string>& args, const std::vector<TerminalStep>& steps,
                                 const std::map<std::string, std::string>& env) const {
    std::map<std::string, std::string> terminalEnv{{"ORVANE_UI", "terminal"}, {"TERM", "dumb"}};
    terminalEnv.insert(env.begin(), env.end());
    std::vector<std::string> envText = prepare(terminalEnv);
    std::vector<std::string> argText = commandLine(args);
    std::vector<char*> envp = pointers(envText), argv = pointers(argText);
    std::string dir = work().string();

    int master = -1;
    struct winsize size {};
    size.ws_col = terminalColumns;
    size.ws_row = terminalRows;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) throw std::runtime_error("forkpty failed");
    if (child == 0) execIn(dir, argv, envp);
    std::string screen;
    size_t seen = 0;
    for (const TerminalStep& step : steps) {
        size_t found = std::string::npos;
        auto shown = [&] { return (found = screen.find(step.expect, seen)) != std::string::npos; };
        if (!readScreen(master, screen, shown, 20)) {
            ADD_FAILURE() << "the terminal never showed \"" << step.expect << "\"; it showed:\n" << screen;
            kill(child, SIGKILL);
            break;
        }
        seen = found + step.expect.size();
        if (step.action) step.action();
        if (write(master, step.send.data(), step.send.size()) != static_cast<ssize_t>(step.send.size()))
            ADD_FAILURE() << "could not type on the terminal";
    }
    readScreen(
        master, screen, [] { return false; }, 20);
    close(master);
    int status = waitFor(child);
    RunResult result = collect();
    result.out = std::move(screen);
    result.status = status;
    return result;
}

ManyResult Sandbox::runMany(const std::vector<std::string>& args, unsigned count) const {
    std::vector<std::string> envText = prepare({});
    std::vector<pid_t> children;
    for (unsigned i = 0; i < count; i++)
        children.push_back(spawn(args, envText, -1));
    ManyResult result;
    for (pid_t child : children)
        result.statuses.push_back(waitFor(child));
    result.shared = collect();
    return result;
}

} // namespace Testing
