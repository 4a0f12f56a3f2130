// The system log's calls: lines are composed here and kept, filtered and exported by the installed
// SysLogService.
#include "SysLog.h"
#include "SysLogService.h"
#include <cstdio>
#include <utility>

namespace {
// The tag the program's lines carry.
constexpr unsigned programTag = 0x5C71;
} // namespace

namespace SysLog {
void procName(const Ref<String>& name) {
    service<SysLogService>().setProcessName(stdString(name));
}
unsigned options() {
    return service<SysLogService>().options();
}
Ref<SysLogExport> exportLog(const Ref<String>& path) {
    return service<SysLogService>().exportLog(path);
}
} // namespace SysLog

namespace SysLogFilter {
unsigned level() {
    return service<SysLogService>().level();
}
bool state(unsigned) {
    return service<SysLogService>().enabled();
}
unsigned id(unsigned) {
    return programTag;
}
} // namespace SysLogFilter

SysLogStream& SysLogStream::stdOutPrinter() {
    thread_local SysLogStream stream;
    return stream;
}

void SysLogStream::writeLine(unsigned level, const std::string& text) {
    SysLogStream& line = stdOutPrinter();
    line.setLevel(level) << text;
    line.end();
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

SysLogStream& SysLogStream::operator<<(std::string_view text) {
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

void SysLogStream::end() {
    std::string text = std::move(m_text);
    m_text.clear();
    service<SysLogService>().write(m_level, text, std::exchange(m_code, -1));
}
