#pragma once
// Private-key blocks in a log ("-----BEGIN ... PRIVATE KEY-----" to "-----END ... PRIVATE KEY-----"):
// where their label, their first line and their last line stand, so that a block is redacted
// whole, as one value, whatever lines it spans.
#include <cstddef>
#include <string>
#include <string_view>

namespace Redaction::KeyBlocks {

// Where the label ("PRIVATE KEY-----") first stands in `text`, or npos.
size_t findLabel(std::string_view text);
// Where the label last stands in `text`, or npos.
size_t findLastLabel(std::string_view text);
// Where a block's first line begins in `line`, or npos.
size_t beginsIn(std::string_view line);
// Where a block's last line ends in `text`, or npos.
size_t endsIn(std::string_view text);
// A line of a block without the spaces and tabs it is indented with.
std::string trimmed(std::string_view text);
// Where a chunk of `text` may end: after its last line feed, or before a block still open there
// (unless it has grown to `largestBlock`, past any key); 0 when neither is possible yet.
size_t chunkEnd(std::string_view text, size_t largestBlock);

} // namespace Redaction::KeyBlocks
