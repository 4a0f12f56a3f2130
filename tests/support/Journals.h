#pragma once
// Journal files made as the system makes them: systemd-journal-remote fed the journal's export
// format; and what journalctl prints for them, the text a saved journal must match.
#include <filesystem>
#include <string>

namespace Testing {

constexpr const char* journalRemote = "/lib/systemd/systemd-journal-remote";
constexpr const char* noJournalRemote =
    "needs systemd-journal-remote (apt-get install systemd-journal-remote)";
// The time of the first entry the tests write, in microseconds since the epoch.
constexpr long long firstEntryUsec = 1765000000000000;

bool canMakeJournals();
// One field of an entry in the export format's binary form: its name, its length as 64 bits
// little-endian, its bytes (any bytes, line breaks included).
std::string exportField(const std::string& name, const std::string& value);
// A journal file `name`.journal in `directory` from entries in the export format (each ended by an
// empty line).
void writeJournal(const std::filesystem::path& directory, const std::string& entries,
                  const std::string& name = "test");
// What `TZ=UTC journalctl -o short-iso` prints for the files in `directory`: one boot, or "all".
std::string journalctl(const std::filesystem::path& directory, const std::string& boot);

} // namespace Testing
