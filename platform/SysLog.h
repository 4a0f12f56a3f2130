#pragma once
// The system log of the hosted platform: a store of lines under the platform root, with a level
// filter, and an asynchronous compressed export.
#include "String.h"
#include <cstdint>
#include <functional>
#include <string>

namespace SysLog {
void procName(const Ref<String>& name);
// Bits 1 and 2 set: the system log is not available.
unsigned options();
// The bit options() adds when the journal was chosen as the system log and cannot be read.
inline constexpr unsigned journalUnavailable = 1;

class SysLogExport : public Object {
  public:
    // State 0 running, 1 done, 3 failed; fraction from 0 to 1.
    virtual bool status(unsigned& state, double& fraction) = 0;
    virtual void cancel() = 0;
};
// Starts a gzip-compressed export of the log to a platform path.
Ref<SysLogExport> exportLog(const Ref<String>& path);
} // namespace SysLog

using SysLog::SysLogExport;

namespace SysLogFilter {
unsigned level();
bool state(unsigned index);
unsigned id(unsigned index);
} // namespace SysLogFilter

// One log line being composed; `end` appends it to the store as one write.
class SysLogStream {
  public:
    static SysLogStream& stdOutPrinter();
    // One whole line of text at a level, through this thread's printer.
    static void writeLine(unsigned level, const std::string& text);
    SysLogStream& setLevel(unsigned level);
    SysLogStream& setTag(unsigned tag);
    SysLogStream& operator<<(const char* text);
    SysLogStream& operator<<(std::string_view text);
    SysLogStream& writeHex(uint64_t value);
    void end();

  private:
    unsigned m_level = 1;
    unsigned m_tag = 0;
    long long m_code = -1; // the last number written in hexadecimal: the line's code
    std::string m_text;
};
