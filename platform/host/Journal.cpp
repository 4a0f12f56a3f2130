#include "Journal.h"
#include "CutShortGuard.h"
#include "JournalText.h"
#include "LoadedLibrary.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>
#include <unistd.h>
#include <vector>

namespace Journal {
namespace {

// libsystemd, mapped when the journal is first used.
struct Systemd {
    decltype(&::sd_id128_get_boot) id128_get_boot;
    decltype(&::sd_id128_to_string) id128_to_string;
    decltype(&::sd_journal_add_match) journal_add_match;
    decltype(&::sd_journal_close) journal_close;
    decltype(&::sd_journal_get_cursor) journal_get_cursor;
    decltype(&::sd_journal_get_data) journal_get_data;
    decltype(&::sd_journal_get_realtime_usec) journal_get_realtime_usec;
    decltype(&::sd_journal_next) journal_next;
    decltype(&::sd_journal_open) journal_open;
    decltype(&::sd_journal_open_directory) journal_open_directory;
    decltype(&::sd_journal_previous) journal_previous;
    decltype(&::sd_journal_seek_cursor) journal_seek_cursor;
    decltype(&::sd_journal_seek_head) journal_seek_head;
    decltype(&::sd_journal_seek_tail) journal_seek_tail;
    decltype(&::sd_journal_send) journal_send;
    decltype(&::sd_journal_set_data_threshold) journal_set_data_threshold;
    decltype(&::sd_journal_test_cursor) journal_test_cursor;
    bool ok = false;
    std::string problem;
    Systemd() {
        static LoadedLibrary library("libsystemd.so.0");
        ok = library.bind(id128_get_boot, "sd_id128_get_boot") &&
             library.bind(id128_to_string, "sd_id128_to_string") &&
             library.bind(journal_add_match, "sd_journal_add_match") &&
             library.bind(journal_close, "sd_journal_close") &&
             library.bind(journal_get_cursor, "sd_journal_get_cursor") &&
             library.bind(journal_get_data, "sd_journal_get_data") &&
             library.bind(journal_get_realtime_usec, "sd_journal_get_realtime_usec") &&
             library.bind(journal_next, "sd_journal_next") && library.bind(journal_open, "sd_journal_open") &&
             library.bind(journal_open_directory, "sd_journal_open_directory") &&
             library.bind(journal_previous, "sd_journal_previous") &&
             library.bind(journal_seek_cursor, "sd_journal_seek_cursor") &&
             library.bind(journal_seek_head, "sd_journal_seek_head") &&
             library.bind(journal_seek_tail, "sd_journal_seek_tail") &&
             library.bind(journal_send, "sd_journal_send") &&
             library.bind(journal_set_data_threshold, "sd_journal_set_data_threshold") &&
             library.bind(journal_test_cursor, "sd_journal_test_cursor");
        problem = library.problem();
    }
};

const Systemd& systemd() {
    static const Systemd loaded;
    return loaded;
}

constexpr const char* journalSocket = "/run/systemd/journal/socket";

struct Closer {
    void operator()(sd_journal* j) const { systemd().journal_close(j); }
};
using Handle = std::unique_ptr<sd_journal, Closer>;

// What a user who may not read the journal is told to do.
constexpr const char* groupAdvice =
    "members of the systemd-journal or adm group may read it: run \"sudo usermod -aG systemd-journal "
    "$USER\", then log in again";

std::string reason(int negativeErrno, const char* what) {
    std::string text = std::string(what) + ": " + std::strerror(-negativeErrno);
    if (negativeErrno == -EACCES || negativeErrno == -EPERM) text += std::string(" (") + groupAdvice + ")";
    return text;
}

// A field's value, or nothing.
std::optional<std::string_view> field(sd_journal* j, const char* name) {
    const void* data = nullptr;
    size_t length = 0;
    if (systemd().journal_get_data(j, name, &data, &length) < 0) return std::nullopt;
    std::string_view whole(static_cast<const char*>(data), length);
    size_t prefix = std::strlen(name) + 1; // "NAME="
    if (whole.size() < prefix) return std::nullopt;
    return whole.substr(prefix);
}

// The directories whose files make the selection: its own, or this machine's persistent and
// volatile journals.
std::vector<std::string> journalDirectories(const Selection& s) {
    if (!s.directory.empty()) return {s.directory};
    std::ifstream idFile("/etc/machine-id");
    std::string machine;
    std::getline(idFile, machine);
    if (machine.empty()) return {};
    return {"/var/log/journal/" + machine, "/run/log/journal/" + machine};
}

// A journal whose files exist but may not be read is not an empty journal: the library leaves such
// files out without a word, and the log would look empty. The first one found is named.
std::optional<std::string> unreadableFile(const Selection& s) {
    for (const std::string& directory : journalDirectories(s)) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
            std::string name = entry.path().filename().string();
            bool journalFile = name.size() > 8 && (name.ends_with(".journal") || name.ends_with(".journal~"));
            if (!journalFile || !entry.is_regular_file(error)) continue;
            int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
                continue;
            }
            if (errno == EACCES || errno == EPERM) return entry.path().string();
        }
    }
    return std::nullopt;
}

// False, saying why, when journal files of the selection are there but this user may not read them.
bool mayReadFiles(const Selection& s, std::string& problem) {
    auto file = unreadableFile(s);
    if (file) problem = "this user may not read the journal's files (" + *file + "); " + groupAdvice;
    return !file;
}

// Opens the selection and restricts it to its boot.
Handle open(const Selection& s, std::string& problem) {
    if (!systemd().ok) {
        problem = "libsystemd cannot be loaded: " + systemd().problem;
        return {};
    }
    sd_journal* raw = nullptr;
    int rc = s.directory.empty() ? systemd().journal_open(&raw, SD_JOURNAL_LOCAL_ONLY)
                                 : systemd().journal_open_directory(&raw, s.directory.c_str(), 0);
    if (rc < 0) {
        problem = reason(rc, "the journal cannot be opened");
        return {};
    }
    Handle j(raw);
    // Fields whole, however long (the library cuts them at 64 KiB unless told otherwise).
    systemd().journal_set_data_threshold(j.get(), 0);
    std::string boot = s.boot;
    if (boot == "current") {
        sd_id128_t id;
        if ((rc = systemd().id128_get_boot(&id)) < 0) {
            problem = reason(rc, "this boot has no id");
            return {};
        }
        char text[SD_ID128_STRING_MAX];
        boot = systemd().id128_to_string(id, text);
    } else if (boot == "latest") {
        boot.clear();
        if (systemd().journal_seek_tail(j.get()) >= 0 && systemd().journal_previous(j.get()) > 0)
            if (auto id = field(j.get(), "_BOOT_ID")) boot = std::string(*id);
    }
    if (boot != "all" && !boot.empty()) {
        std::string match = "_BOOT_ID=" + boot;
        if ((rc = systemd().journal_add_match(j.get(), match.c_str(), 0)) < 0) {
            problem = reason(rc, "the boot cannot be chosen");
            return {};
        }
    }
    systemd().journal_seek_head(j.get());
    return j;
}

bool entryTime(sd_journal* j, uint64_t& usec) {
    return systemd().journal_get_realtime_usec(j, &usec) >= 0;
}

// The times of the first and the last selected entry, for the fraction done.
bool span(sd_journal* j, uint64_t& first, uint64_t& last) {
    bool ok = systemd().journal_seek_tail(j) >= 0 && systemd().journal_previous(j) > 0 &&
              entryTime(j, last) && systemd().journal_seek_head(j) >= 0 && systemd().journal_next(j) > 0 &&
              entryTime(j, first);
    systemd().journal_seek_head(j);
    return ok;
}

// The entry as journalctl -o short-iso prints it (nothing for an entry it does not show).
std::optional<std::string> line(sd_journal* j, uint64_t usec) {
    EntryFields entry;
    entry.realtimeUsec = usec;
    entry.message = field(j, "MESSAGE");
    entry.hostname = field(j, "_HOSTNAME");
    entry.identifier = field(j, "SYSLOG_IDENTIFIER");
    entry.command = field(j, "_COMM");
    entry.pid = field(j, "_PID");
    entry.syslogPid = field(j, "SYSLOG_PID");
    entry.sourceRealtime = field(j, "_SOURCE_REALTIME_TIMESTAMP");
    return shortIsoText(entry);
}

// sd-journal keeps the windows of the files it has mapped; a long export opens the journal anew
// now and then, at the same entry, so that they go and memory stays bounded.
constexpr int entriesPerOpening = 8192;

// Moves to the entry at `cursor`; false when the journal does not hold it (any more).
bool placeAt(sd_journal* j, const char* cursor) {
    return systemd().journal_seek_cursor(j, cursor) >= 0 && systemd().journal_next(j) > 0 &&
           systemd().journal_test_cursor(j, cursor) > 0;
}

bool reopenAtSamePlace(const Selection& s, Handle& j, std::string& problem) {
    char* cursor = nullptr;
    if (systemd().journal_get_cursor(j.get(), &cursor) < 0) return true; // stays open as it is
    Handle fresh = open(s, problem);
    bool placed = fresh && placeAt(fresh.get(), cursor);
    std::free(cursor);
    if (!placed) {
        if (problem.empty()) problem = "the journal changed under the export";
        return false;
    }
    j = std::move(fresh);
    return true;
}

// The text an entry adds: between the boots of an "all" export the marker journalctl writes there,
// then the entry's line. An entry journalctl does not show still marks its boot, as there.
std::string entryText(sd_journal* j, uint64_t usec, std::string& previousBoot) {
    std::string text;
    auto boot = field(j, "_BOOT_ID");
    std::string bootId = boot ? std::string(*boot) : std::string();
    if (!previousBoot.empty() && bootId != previousBoot) text = "-- Boot " + bootId + " --\n";
    previousBoot = bootId;
    if (std::optional<std::string> shown = line(j, usec)) text += *shown;
    return text;
}

// Where the export has got to, for the next one to go on from: the entry's cursor and its boot.
void noteReached(sd_journal* j, const std::string& boot, Position* reached) {
    if (!reached) return;
    char* cursor = nullptr;
    if (systemd().journal_get_cursor(j, &cursor) >= 0) *reached = {cursor, boot};
    std::free(cursor);
}

// Whether the walk through the journal read all of it: no file cut short under it, no error, and,
// for a whole export, something written.
bool endedWhole(const CutShortGuard& guard, int rc, bool whole, bool wroteAny, std::string& problem) {
    if (guard.struck()) {
        problem = "a journal file was cut short while it was read (rotated or vacuumed)";
        return false;
    }
    if (rc < 0) {
        problem = reason(rc, "the journal cannot be read");
        return false;
    }
    // A whole export that found nothing read no log: a journal found holding entries lost them (its
    // files cut short or removed), or holds none for the boot.
    if (whole && !wroteAny) {
        problem = "the journal holds no entries for this boot";
        return false;
    }
    return true;
}

} // namespace

bool readable(const Selection& s, std::string& problem) {
    if (!mayReadFiles(s, problem)) return false;
    CutShortGuard guard;
    Handle j = open(s, problem);
    if (!j) return false;
    int rc = systemd().journal_next(j.get());
    if (rc > 0 && !guard.struck()) return true;
    // A first entry that cannot be had is read as a whole export that wrote nothing.
    return endedWhole(guard, rc, true, false, problem);
}

bool exportText(const Selection& s, const std::function<bool(const char*, size_t)>& write,
                const std::function<bool(double)>& progress, std::string& problem, const Position* after,
                Position* reached) {
    // Asked once: the reopenings of a long export look at the same files.
    if (!mayReadFiles(s, problem)) return false;
    CutShortGuard guard;
    Handle j = open(s, problem);
    if (!j) return false;
    uint64_t first = 0, last = 0;
    bool timed = span(j.get(), first, last) && last > first;
    std::string previousBoot;
    if (after) {
        const char* cursor = after->cursor.c_str();
        if (!placeAt(j.get(), cursor)) {
            problem = "the journal no longer holds where the last export ended";
            return false;
        }
        previousBoot = after->boot;
        if (reached) *reached = *after;
    }
    int rc;
    int sinceOpened = 0;
    bool wroteAny = false;
    while ((rc = systemd().journal_next(j.get())) > 0) {
        // What is read from a file cut short is zeros, not the journal: the export fails.
        if (guard.struck()) break;
        if (++sinceOpened > entriesPerOpening && !reopenAtSamePlace(s, j, problem)) return false;
        if (sinceOpened > entriesPerOpening) sinceOpened = 1;
        uint64_t usec = 0;
        if (!entryTime(j.get(), usec)) continue;
        std::string text = entryText(j.get(), usec, previousBoot);
        wroteAny = wroteAny || !text.empty();
        if (!text.empty() && !write(text.data(), text.size())) {
            problem = "the text could not be written";
            return false;
        }
        noteReached(j.get(), previousBoot, reached);
        double fraction = timed ? static_cast<double>(usec - first) / static_cast<double>(last - first) : 0;
        if (!progress(fraction)) {
            problem = "cancelled";
            return false;
        }
    }
    return endedWhole(guard, rc, !after, wroteAny, problem);
}

bool holds(const Selection& s, const Position& position) {
    CutShortGuard guard;
    std::string problem;
    Handle j = open(s, problem);
    const char* cursor = position.cursor.c_str();
    bool held = j && !position.cursor.empty() && placeAt(j.get(), cursor);
    return held && !guard.struck();
}

bool running() {
    struct stat st {};
    return stat(journalSocket, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool send(const std::string& identifier, unsigned level, const std::string& message, long long code) {
    if (!systemd().ok) return false;
    int priority = level >= 4 ? LOG_ERR : level == 3 ? LOG_WARNING : LOG_DEBUG;
    std::string codeField = "ERROR_CODE=" + std::to_string(code);
    int rc = code >= 0 ? systemd().journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%d", priority,
                                                "SYSLOG_IDENTIFIER=%s", identifier.c_str(), "%s",
                                                codeField.c_str(), nullptr)
                       : systemd().journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%d", priority,
                                                "SYSLOG_IDENTIFIER=%s", identifier.c_str(), nullptr);
    return rc >= 0;
}

} // namespace Journal
