#pragma once
// One journal entry as `journalctl -o short-iso` (systemd 252) prints it, byte for byte:
//
//   2026-12-07T13:38:25+0000 host identifier[pid]: message
//
// The time is the sender's (_SOURCE_REALTIME_TIMESTAMP) when it has one, else the journal's; the
// identifier is SYSLOG_IDENTIFIER, else _COMM, else "unknown"; the pid _PID, else SYSLOG_PID. A
// field is shown only when it is printable UTF-8 and shorter than 300 bytes. In the message,
// carriage returns that end a line are dropped, tabs become eight spaces and colour sequences (ESC [ digits
// and ; m) and BEL-ended titles (ESC ] ... BEL) are dropped; a message that is then still not printable UTF-8
// is shown as its size
// ("[20B blob data]", "[1.5K blob data]"). The lines of a message after its first are indented
// under its start. An entry without a message is not shown.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Journal {

struct EntryFields {
    uint64_t realtimeUsec = 0; // when the journal received it
    std::optional<std::string_view> message, hostname, identifier, command, pid, syslogPid, sourceRealtime;
};

// The entry's text with its final line feed, or nothing for an entry that is not shown.
std::optional<std::string> shortIsoText(const EntryFields& entry);

// The pieces, for their own tests.
bool isPrintableUtf8(std::string_view text);
// Line-ending carriage returns dropped, tabs as eight spaces, colour and title sequences dropped.
std::string withoutTabsAndColours(std::string_view text);
// "1023B", "1.0K", "1023.9K", "1.0M": the size as journalctl writes a blob's.
std::string blobSize(uint64_t bytes);

} // namespace Journal
