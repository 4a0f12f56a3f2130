#include "SysLog.h"
#include "Filesystem.h"
#include "Host.h"
#include "Journal.h"
#include "Namespace.h"
#include "System.h"
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
#include <thread>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace {
std::string processName = "process";

std::string storeDir() {
    return Host::config().root + "/syslog";
}

long long maxStoreBytes() {
    return Host::config().syslog.value("maxBytes", 4LL << 20);
}

// Where the system log lives: the host's journal, or the program's own store of lines.
enum class Source { Store, Journal };

Journal::Selection journalSelection() {
    const auto& c = Host::config().syslog;
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

// Chosen once: `syslog.source` "journal", "store", or "auto" (the journal when it can be opened and
// holds entries, else the store).
const SourceChoice& sourceChoice() {
    static const SourceChoice choice = [] {
        SourceChoice c;
        std::string wanted = Host::config().syslog.value("source", "auto");
        if (wanted == "store") return c;
        bool readable = Journal::readable(journalSelection(), c.problem);
        if (wanted == "journal") {
            c.source = Source::Journal;
            c.unavailable = !readable;
        } else if (readable) {
            c.source = Source::Journal;
        }
        return c;
    }();
    return choice;
}

// The program's own lines go to the journal where the log is the journal and a journal is running.
bool writeToJournal() {
    static const bool journal =
        Host::config().syslog.value("source", "auto") != "store" && Journal::running();
    return journal;
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
void appendLine(const std::string& line) {
    std::error_code ec;
    std::filesystem::create_directories(storeDir(), ec);
    std::string path = SysLog::storePath();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (::write(fd, line.data(), line.size()) < 0) {
        // A log line that cannot be stored is dropped; there is nowhere else to report it.
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size > maxStoreBytes() && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        std::rename(path.c_str(), (path + ".1").c_str());
        flock(fd, LOCK_UN);
    }
    ::close(fd);
}

// One export of the store into a target: compressed into a replacement nobody can see, which takes
// the target's name only once it is complete and on its medium.
class HostExport : public SysLog::SysLogExport {
  public:
    HostExport(std::unique_ptr<Services::Filesystem::Client::Replacement> replacement,
               std::string platformPath)
        : m_replacement(std::move(replacement)), m_platformPath(std::move(platformPath)) {}
    void start() {
        Ref<HostExport> self(this);
        std::thread([self] { self->run(); }).detach();
    }
    bool status(unsigned& state, double& fraction) override {
        state = m_state.load();
        fraction = m_fraction.load();
        return true;
    }
    void cancel() override { m_cancelled = true; }

  private:
    void run() {
        int out = fcntl(m_replacement->descriptor(), F_DUPFD_CLOEXEC, 0);
        bool ok = out >= 0 && SysLog::compressLog(out, [this](double f) {
                      m_fraction = f;
                      if (auto code = Host::fault("SysLogExport::chunk", m_platformPath)) (void)code;
                      return !m_cancelled.load();
                  });
        if (ok && Host::fault("SysLogExport::run", m_platformPath)) ok = false;
        if (ok) ok = m_replacement->commit();
        // Nothing of an export that did not complete stays behind.
        m_replacement.reset();
        if (ok) m_fraction = 1.0;
        m_state = ok ? 1 : 3;
    }
    std::unique_ptr<Services::Filesystem::Client::Replacement> m_replacement;
    std::string m_platformPath;
    std::atomic<unsigned> m_state{0};
    std::atomic<double> m_fraction{0.0};
    std::atomic<bool> m_cancelled{false};
};

} // namespace

namespace SysLog {

void procName(const Ref<String>& name) {
    processName = stdString(name);
}

unsigned options() {
    unsigned mask = Host::parseNumber(Host::config().syslog.value("options", nlohmann::json(0)));
    const SourceChoice& choice = sourceChoice();
    if (!choice.unavailable) return mask;
    static bool told = false;
    if (!std::exchange(told, true))
        std::fprintf(stderr, "scrivletv2: the system log (the journal) is not available: %s\n",
                     choice.problem.c_str());
    return mask | journalUnavailable;
}

std::string storePath() {
    return storeDir() + "/system.log";
}

namespace {

// The store's two generations, oldest first, never read past what they held when the export began.
bool compressStore(gzFile out, const std::function<bool(double)>& progress) {
    std::string store = storePath();
    std::vector<std::string> parts = {store + ".1", store};
    uint64_t total = 0;
    for (const std::string& p : parts) {
        struct stat st {};
        if (stat(p.c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
    }
    std::vector<char> buffer(64 * 1024);
    uint64_t done = 0;
    bool ok = true;
    for (const std::string& p : parts) {
        FILE* in = std::fopen(p.c_str(), "rb");
        if (!in) continue;
        size_t n;
        while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            // Never read past what the store held when the export began: it grows while we log.
            if (done + n > total) n = static_cast<size_t>(total - done);
            if (n == 0 || gzwrite(out, buffer.data(), static_cast<unsigned>(n)) != static_cast<int>(n)) break;
            done += n;
            ok = progress(total ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
        }
        std::fclose(in);
    }
    return ok;
}

} // namespace

bool compressLog(int target, const std::function<bool(double)>& progress) {
    gzFile out = gzdopen(target, "wb6");
    if (!out) {
        ::close(target);
        return false;
    }
    bool ok;
    if (sourceChoice().source == Source::Journal) {
        std::string problem;
        auto write = [&](const char* data, size_t length) {
            return gzwrite(out, data, static_cast<unsigned>(length)) == static_cast<int>(length);
        };
        ok = Journal::exportText(journalSelection(), write, progress, problem);
    } else {
        ok = compressStore(out, progress);
    }
    return gzclose(out) == Z_OK && ok;
}

Ref<SysLogExport> exportLog(const Ref<String>& path) {
    if (auto code = Host::fault("SysLog::exportLog", stdString(path))) {
        Error::set(*code);
        return {};
    }
    using namespace Services::Filesystem::Client;
    // Runs exporting to the same name at once (a name reused on purpose, or one two runs found free
    // together) each put a whole log there; the last one to finish stays.
    Ref<Directory> directory = Directory::open(Service::parent(path, false), 0x33);
    if (!directory) return {};
    auto replacement = Replacement::create(directory, stdString(Service::name(path)));
    if (!replacement) return {};
    Ref<HostExport> job(new HostExport(std::move(replacement), stdString(path)));
    job->start();
    return job;
}

} // namespace SysLog

namespace SysLogFilter {
unsigned level() {
    return Host::config().syslog.value("level", 1u);
}
bool state(unsigned) {
    return Host::config().syslog.value("enabled", true);
}
unsigned id(unsigned) {
    return 0x5C71;
}
} // namespace SysLogFilter

SysLogStream& SysLogStream::stdOutPrinter() {
    thread_local SysLogStream stream;
    return stream;
}

SysLogStream& SysLogStream::setLevel(unsigned level) {
    m_level = level;
    return *this;
}

SysLogStream& SysLogStream::setTag(unsigned tag) {
    m_tag = tag;
    return *this;
}

SysLogStream& SysLogStream::operator<<(const char* text) {
    m_text += text ? text : "";
    return *this;
}

SysLogStream& SysLogStream::operator<<(const std::string& text) {
    m_text += text;
    return *this;
}

SysLogStream& SysLogStream::writeHex(uint64_t value) {
    m_code = static_cast<long long>(value);
    char digits[24];
    std::snprintf(digits, sizeof digits, "%llX", static_cast<unsigned long long>(value));
    m_text += digits;
    return *this;
}

SysLogStream& SysLogStream::writeDecimal(uint64_t value) {
    m_text += std::to_string(value);
    return *this;
}

void SysLogStream::end() {
    std::string line = timestamp() + " L" + std::to_string(m_level) + " " + processName + "[" +
                       std::to_string(getpid()) + "]: ";
    for (char c : m_text)
        line += (c == '\n') ? ' ' : c;
    line += '\n';
    std::string text = std::move(m_text);
    m_text.clear();
    long long code = std::exchange(m_code, -1);
    // The journal stamps its entries itself; the store keeps the line as it is written here.
    if (writeToJournal() && Journal::send(processName, m_level, text, code)) return;
    appendLine(line);
}
