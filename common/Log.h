#pragma once
// Log lines in the program's fixed form: pieces of text, Strings, and codes written as
// hexadecimal digits, "h (", decimal digits, ")".
#include "platform/String.h"
#include "platform/SysLog.h"
#include <cstdint>

namespace Applications::Commands::Scrivlet {

SysLogStream& writeCode(SysLogStream& stream, uint32_t value);
SysLogStream& writeCode(SysLogStream& stream, uint64_t value);
SysLogStream& writeString(SysLogStream& stream, const Ref<String>& value);

struct Code {
    uint64_t value;
};

// The levels in use: trace notes, problems after which the run goes on (fallbacks, retries,
// removals that failed), and failures.
namespace LogLevel {
inline constexpr unsigned Trace = 1;
inline constexpr unsigned Problem = 3;
inline constexpr unsigned Failure = 4;
} // namespace LogLevel

// One log line of a level; it is composed only when the filter admits the level, and ends (is
// written) when the LogLine goes out of scope.
class LogLine {
  public:
    explicit LogLine(unsigned level);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    LogLine& operator<<(const char* text);
    LogLine& operator<<(const Ref<String>& text);
    LogLine& operator<<(Code code);

  private:
    SysLogStream* m_stream = nullptr;
};

} // namespace Applications::Commands::Scrivlet
