#include "RedactedLog.h"
#include "GzipWriter.h"
#include "Host.h"
#include "TemporaryFile.h"
#include "WholeTransfers.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Host {
namespace {

using SysLog::GzipWriter;

constexpr mode_t userOnlyDirectory = 0700, userOnlyFile = 0600;

// A value on one line of the mapping: backslashes, tabs and line feeds escaped.
std::string escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string mappingText(const Redaction::Redactor& redactor) {
    std::string text =
        "# placeholder\tvalue: what the placeholders of the logs this run redacted stand for.\n"
        "# Kept on this machine; never saved with a log nor sent.\n";
    for (const Redaction::Redactor::Mapping& mapping : redactor.mappings())
        text += mapping.placeholder + "\t" + escaped(mapping.value) + "\n";
    return text;
}

// The run's mapping file: "<root>/privacy/redaction-<UTC time>-<pid>.tsv".
std::string mappingFileName(const std::string& root) {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
    return root + "/privacy/redaction-" + stamp + "-" + std::to_string(getpid()) + ".tsv";
}

// The mapping written whole beside the last one and then put in its place, readable by the user
// alone from the moment it exists, and on the medium.
bool keepMapping(RedactionState& state, std::string& problem) {
    if (state.mappingFile.empty()) state.mappingFile = mappingFileName(state.config.root);
    std::string directory = state.mappingFile.substr(0, state.mappingFile.rfind('/'));
    if (::mkdir(directory.c_str(), userOnlyDirectory) != 0 && errno != EEXIST) {
        problem = directory + ": " + std::strerror(errno);
        return false;
    }
    std::string partial = state.mappingFile + ".partial";
    std::string text = mappingText(*state.redactor);
    int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, userOnlyFile);
    bool ok =
        fd >= 0 && fchmod(fd, userOnlyFile) == 0 && writeAll(fd, text.data(), text.size()) && fsync(fd) == 0;
    int error = errno;
    if (fd >= 0) ::close(fd);
    if (ok && std::rename(partial.c_str(), state.mappingFile.c_str()) == 0) {
        // The new name on the medium too.
        int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool synced = dir >= 0 && fsync(dir) == 0;
        error = errno;
        if (dir >= 0) ::close(dir);
        if (synced) return true;
        problem = directory + ": " + std::strerror(error);
        return false;
    }
    error = ok ? errno : error;
    ::unlink(partial.c_str());
    problem = state.mappingFile + ": " + std::strerror(error);
    return false;
}

bool makeRedactor(RedactionState& state) {
    if (state.redactor) return true;
    Redaction::Rules rules = state.config.privacy.rules;
    Redaction::addHostFacts(rules);
    std::string problem;
    state.redactor = Redaction::Redactor::create(rules, problem);
    if (!state.redactor)
        std::fprintf(stderr, "scrivletv2: the log cannot be redacted: %s\n", problem.c_str());
    return state.redactor != nullptr;
}

} // namespace

bool compressRedacted(RedactionState& state, int target,
                      const std::function<bool(const TextSink&)>& produce) {
    // The body first, into a file of its own: the first line counts what it replaced.
    int body = anonymousTemporaryFile();
    int bodyForWriter = body >= 0 ? fcntl(body, F_DUPFD_CLOEXEC, 0) : -1;
    int head = fcntl(target, F_DUPFD_CLOEXEC, 0);
    bool ok = bodyForWriter >= 0 && head >= 0 && makeRedactor(state);
    if (ok) {
        state.redactor->resetCounts();
        // Redacted in chunks of whole lines on the compressing threads, several at once.
        Redaction::Redactor& redactor = *state.redactor;
        GzipWriter out(bodyForWriter, {[&redactor](std::string& text) { redactor.redactChunk(text); },
                                       Redaction::Redactor::chunkEnd});
        bodyForWriter = -1;
        ok = produce([&out](const char* data, size_t length) { return out.write(data, length); });
        ok = out.finish() && ok;
    }
    std::string problem;
    if (ok && !keepMapping(state, problem)) {
        std::fprintf(stderr, "scrivletv2: the mapping of the redacted log cannot be kept: %s\n",
                     problem.c_str());
        ok = false;
    }
    if (ok) {
        GzipWriter first(head);
        head = -1;
        std::string line = Redaction::summaryLine(state.redactor->counts());
        struct stat st {};
        ok = first.write(line.data(), line.size()) && first.finish() && fstat(body, &st) == 0 &&
             copyAll(body, target, static_cast<uint64_t>(st.st_size));
    }
    if (ok && !state.toldWhere) {
        state.toldWhere = true;
        std::fprintf(stderr,
                     "scrivletv2: the log was redacted; what its placeholders stand for is in %s (yours "
                     "alone to read, never sent)\n",
                     state.mappingFile.c_str());
    }
    for (int fd : {body, bodyForWriter, head, target})
        if (fd >= 0) ::close(fd);
    return ok;
}

} // namespace Host
