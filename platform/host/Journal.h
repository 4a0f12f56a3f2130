#pragma once
// The host's journal as the system log: reading the entries of a boot in the short-iso form
// `journalctl -o short-iso` prints, and sending the program's own lines to it.
#include <cstddef>
#include <functional>
#include <string>

namespace Journal {

// Which entries: the journal files of `directory` (the system's journal when empty), and the boot:
// "current" (this boot, the default), "latest" (the boot of the newest entry), "all", or a boot id.
struct Selection {
    std::string directory;
    std::string boot = "current";
};

// Whether the selection can be opened and holds at least one entry; `problem` says why not.
bool readable(const Selection& selection, std::string& problem);

// Where an export ended: the last entry written and its boot.
struct Position {
    std::string cursor, boot;
};

// Writes the selected entries as text through `write` (false: stop, failed), reporting the
// fraction done; `progress` answering false cancels. Memory stays bounded: one entry at a time.
// With `after`, only the entries after that position (false, with nothing written, when the
// journal no longer holds it); `reached` is given where this export ended.
bool exportText(const Selection& selection, const std::function<bool(const char*, size_t)>& write,
                const std::function<bool(double)>& progress, std::string& problem,
                const Position* after = nullptr, Position* reached = nullptr);

// Whether the selection still holds the entry at `position`.
bool holds(const Selection& selection, const Position& position);

// Whether a journal service is there to take the program's lines.
bool running();
// Sends one line: MESSAGE, PRIORITY from the level, SYSLOG_IDENTIFIER, and the numeric code (when
// the line carries one) as ERROR_CODE. False when the journal did not take it.
bool send(const std::string& identifier, unsigned level, const std::string& message, long long code);

} // namespace Journal
