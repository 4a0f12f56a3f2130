#pragma once
// Text on its way to a terminal: a name can hold any byte, and a control character in it would
// move the cursor, change colours or the window's title, or forge a question. Such characters are
// shown as escapes instead, as `ls -b` shows them ("\e", "\a", "\x01"); the name itself is never
// changed, only what is shown of it.
#include <string>
#include <string_view>

namespace Ui {

// C0 and C1 control characters, DEL and bytes that are not UTF-8 made visible; line feeds kept
// when `keepLineFeeds` (a message's own line breaks), made visible otherwise.
std::string visibleText(std::string_view text, bool keepLineFeeds = true);

} // namespace Ui
