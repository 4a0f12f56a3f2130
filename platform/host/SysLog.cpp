#include "GzipWriter.h"
#include "Host.h"
#include "HostPlatform.h"
#include "HostServices.h"
#include "Journal.h"
#include "LogExportJob.h"
#include "Namespace.h"
#include "RedactedLog.h"
#include "WholeTransfers.h"
#include "platform/SysLogService.h"
#include "platform/System.h"
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::string storeDir(const Host::Config& config) {
    return config.root + "/syslog";
}

// The current store file.
std::string storePath(const Host::Config& config) {
    return storeDir(config) + "/system.log";
}

long long maxStoreBytes(const Host::Config& config) {
    return config.syslog.value("maxBytes", 4LL << 20);
}

// Where the system log lives: the host's journal, or the program's own store of lines.
enum class Source { Store, Journal };

Journal::Selection journalSelection(const Host::Config& config) {
    const auto& c = config.syslog;
    Journal::Selection s;
    s.directory = c.value("journal", "");
    s.boot = c.value("boot", "current");
    return s;
}

struct SourceChoice {
    Source source = Source::Store;
    bool unavailable = false; // the journal was asked for and cannot be read
    std::string problem;
};

// `syslog.source` "journal", "store", or "auto" (the journal when it can be opened and holds
// entries, else the store).
SourceChoice chooseSource(const Host::Config& config) {
    SourceChoice c;
    std::string wanted = config.syslog.value("source", "auto");
    if (wanted == "store") return c;
    bool readable = Journal::readable(journalSelection(config), c.problem);
    if (wanted == "journal") {
        c.source = Source::Journal;
        c.unavailable = !readable;
    } else if (readable) {
        c.source = Source::Journal;
    }
    return c;
}

// The program's own lines go to the journal where the log is the journal and a journal is running.
bool chooseJournalForLines(const Host::Config& config) {
    return config.syslog.value("source", "auto") != "store" && Journal::running();
}

std::string timestamp() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03ldZ", text, ms);
    return out;
}

// Appends one line with a single write, so lines of concurrent processes never interleave; the
// store is rotated to one older generation when it passes its size bound.
void appendLine(const Host::Config& config, const std::string& line) {
    std::error_code ec;
    std::filesystem::create_directories(storeDir(config), ec);
    std::string path = storePath(config);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (::write(fd, line.data(), line.size()) < 0) {
        // A log line that cannot be stored is dropped; there is nowhere else to report it.
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size > maxStoreBytes(config) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        std::rename(path.c_str(), (path + ".1").c_str());
        flock(fd, LOCK_UN);
    }
    ::close(fd);
}

using SysLog::GzipWriter;

// Where an export of the store ended: each generation's identity and the bytes it covered.
struct Generation {
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t size = 0;
    bool exists = false;
};
struct StoreCoverage {
    Generation older, current;
};

Generation generation(const std::string& path) {
    Generation g;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return g;
    g = {st.st_dev, st.st_ino, static_cast<uint64_t>(st.st_size), true};
    return g;
}

StoreCoverage storeNow(const Host::Config& config) {
    return {generation(storePath(config) + ".1"), generation(storePath(config))};
}

bool sameFile(const Generation& a, const Generation& b) {
    return a.exists == b.exists && (!a.exists || (a.device == b.device && a.inode == b.inode));
}

// The bytes of the last complete export of this run and what they covered: a later export of a
// store that has only grown since (or of a journal still holding the last entry exported) is those
// bytes and a member for what came after. A log save to two locations so compresses the log once.
struct PreviousExport {
    int fd = -1;
    uint64_t length = 0;
    StoreCoverage covered; // of the store
    bool journal = false;
    Journal::Position position; // of the journal
};
} // namespace

namespace Host {

// The system log's part of the run's state (HostPlatform holds it).
struct LogRunState {
    explicit LogRunState(const Config& c) : config(c), redaction(c) {}
    const Config& config;
    // Where the log is, and where the program's own lines go: chosen at the first need, once.
    const SourceChoice& source() {
        std::call_once(m_sourceChosen, [this] { m_source = chooseSource(config); });
        return m_source;
    }
    bool linesToJournal() {
        std::call_once(m_linesChosen, [this] { m_linesToJournal = chooseJournalForLines(config); });
        return m_linesToJournal;
    }
    std::string processName = "process";
    std::atomic<bool> toldUnavailable{false};
    // The last complete export, guarded by the mutex (runs of the export thread and the caller's).
    std::mutex previousMutex;
    PreviousExport previous;
    RedactionState redaction; // guarded by the same mutex

  private:
    std::once_flag m_sourceChosen, m_linesChosen;
    SourceChoice m_source;
    bool m_linesToJournal = false;
};

void LogRunStateDeleter::operator()(LogRunState* state) const {
    if (state && state->previous.fd >= 0) ::close(state->previous.fd);
    delete state;
}

std::unique_ptr<LogRunState, LogRunStateDeleter> makeLogRunState(const Config& config) {
    return std::unique_ptr<LogRunState, LogRunStateDeleter>(new LogRunState(config));
}

} // namespace Host

namespace {

bool continues(const PreviousExport& before, const StoreCoverage& now) {
    return before.fd >= 0 && !before.journal && sameFile(before.covered.older, now.older) &&
           before.covered.older.size == now.older.size && sameFile(before.covered.current, now.current) &&
           before.covered.current.size <= now.current.size;
}

// A descriptor to read the target's bytes back later, whatever the target was opened for.
int readableCopy(int target) {
    std::string self = "/proc/self/fd/" + std::to_string(target);
    return ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
}

// Compresses the store from `from` (none: from the start) to what `to` says it held, oldest
// generation first; it grows while we log, and is never read past that.
bool compressStore(const Host::Config& config, const Host::TextSink& write, const StoreCoverage* from,
                   const StoreCoverage& to, const std::function<bool(double)>& progress) {
    struct Part {
        std::string path;
        uint64_t start, end;
    };
    std::vector<Part> parts{{storePath(config) + ".1", from ? from->older.size : 0, to.older.size},
                            {storePath(config), from ? from->current.size : 0, to.current.size}};
    uint64_t total = to.older.size + to.current.size;
    uint64_t done = from ? from->older.size + from->current.size : 0;
    std::vector<char> buffer(GzipWriter::chunkBytes);
    for (const Part& part : parts) {
        if (part.start >= part.end) continue;
        int in = ::open(part.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) continue;
        bool ok = true;
        for (uint64_t at = part.start; ok && at < part.end;) {
            size_t wanted = static_cast<size_t>(std::min<uint64_t>(buffer.size(), part.end - at));
            ssize_t n = pread(in, buffer.data(), wanted, static_cast<off_t>(at));
            if (n <= 0) break;
            at += static_cast<uint64_t>(n);
            done += static_cast<uint64_t>(n);
            ok = write(buffer.data(), static_cast<size_t>(n)) &&
                 progress(total ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
        }
        ::close(in);
        if (!ok) return false;
    }
    return true;
}

bool compressJournal(const Host::Config& config, const Host::TextSink& write, const Journal::Position* after,
                     Journal::Position& reached, const std::function<bool(double)>& progress) {
    std::string problem;
    bool cancelled = false;
    auto going = [&](double fraction) { return !(cancelled = !progress(fraction)); };
    if (Journal::exportText(journalSelection(config), write, going, problem, after, &reached)) return true;
    // The user learns why the log could not be had, as when it is not available at all.
    if (!cancelled)
        std::fprintf(stderr, "scrivletv2: the system log (the journal) cannot be read: %s\n",
                     problem.c_str());
    return false;
}

} // namespace

namespace Host {
namespace {

// The log compressed into the target; a second export of a store or journal that only grew since
// the previous one copies that one's bytes and compresses only what came after.
bool compressInto(LogRunState& state, int target, const std::function<bool(double)>& progress) {
    const Config& config = state.config;
    std::lock_guard lock(state.previousMutex);
    bool journal = state.source().source == Source::Journal;
    // A redacted log is made whole each time: its first line counts what this one replaced.
    if (config.privacy.redact)
        return compressRedacted(state.redaction, target, [&](const TextSink& write) {
            Journal::Position reached;
            return journal ? compressJournal(config, write, nullptr, reached, progress)
                           : compressStore(config, write, nullptr, storeNow(config), progress);
        });
    PreviousExport& previous = state.previous;
    StoreCoverage now = journal ? StoreCoverage{} : storeNow(config);
    bool resumable = journal ? previous.fd >= 0 && previous.journal &&
                                   Journal::holds(journalSelection(config), previous.position)
                             : continues(previous, now);
    bool reuse = resumable && copyAll(previous.fd, target, previous.length);
    if (!reuse && (ftruncate(target, 0) != 0 || lseek(target, 0, SEEK_SET) != 0)) {
        ::close(target);
        return false;
    }
    int kept = readableCopy(target);
    GzipWriter out(target);
    auto write = [&out](const char* data, size_t length) { return out.write(data, length); };
    Journal::Position reached;
    bool ok = journal
                  ? compressJournal(config, write, reuse ? &previous.position : nullptr, reached, progress)
                  : compressStore(config, write, reuse ? &previous.covered : nullptr, now, progress);
    ok = out.finish(reuse) && ok;
    struct stat st {};
    if (!ok || kept < 0 || fstat(kept, &st) != 0 || st.st_size == 0) {
        if (kept >= 0) ::close(kept);
        return ok;
    }
    if (previous.fd >= 0) ::close(previous.fd);
    previous = {kept, static_cast<uint64_t>(st.st_size), now, journal, reached};
    return true;
}

class HostLogExporter : public LogExporter {
  public:
    explicit HostLogExporter(HostPlatform& platform) : m_platform(platform) {}
    Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) override {
        return startLogExport(m_platform, path, storeDir(m_platform.config()));
    }
    bool compressLog(int target, const std::function<bool(double)>& progress, const std::string&) override {
        return compressInto(m_platform.logState(), target, progress);
    }
    bool finishExport(const std::string&) override { return true; }

  private:
    HostPlatform& m_platform;
};

} // namespace

std::unique_ptr<LogExporter> makeHostLogExporter(HostPlatform& platform) {
    return std::make_unique<HostLogExporter>(platform);
}

namespace {

// The program's lines go to the journal or to the store (with the time, level, process name and
// id in front, on one line); options, level and filter come from the configuration.
class HostSysLog : public SysLogService {
  public:
    explicit HostSysLog(HostPlatform& platform) : m_platform(platform) {}
    void setProcessName(const std::string& name) override { m_platform.logState().processName = name; }
    unsigned options() override {
        unsigned mask = parseNumber(m_platform.config().syslog.value("options", nlohmann::json(0)));
        const SourceChoice& choice = m_platform.logState().source();
        if (!choice.unavailable) return mask;
        if (!m_platform.logState().toldUnavailable.exchange(true))
            std::fprintf(stderr, "scrivletv2: the system log (the journal) is not available: %s\n",
                         choice.problem.c_str());
        return mask | SysLog::journalUnavailable;
    }
    unsigned level() override { return m_platform.config().syslog.value("level", 1u); }
    bool enabled() override { return m_platform.config().syslog.value("enabled", true); }
    void write(unsigned level, const std::string& text, long long code) override {
        const std::string& process = m_platform.logState().processName;
        // The journal stamps its entries itself; the store keeps the line as it is written here.
        if (m_platform.logState().linesToJournal() && Journal::send(process, level, text, code)) return;
        std::string line = timestamp() + " L" + std::to_string(level) + " " + process + "[" +
                           std::to_string(getpid()) + "]: ";
        for (char c : text)
            line += (c == '\n') ? ' ' : c;
        line += '\n';
        appendLine(m_platform.config(), line);
    }
    Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) override {
        return m_platform.logs().exportLog(path);
    }

  private:
    HostPlatform& m_platform;
};

} // namespace

void installSysLog(HostPlatform& platform) {
    installService<SysLogService>([&platform] { return std::make_unique<HostSysLog>(platform); });
}

} // namespace Host
