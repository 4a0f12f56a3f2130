// The system log's calls: lines are composed here and kept, filtered and exported by the installed
// SysLogService.
#include "SysLog.h"
#include "ServiceSlot.h"
#include "SysLogService.h"
#include <cstdio>
#include <utility>

namespace {
ServiceSlot<SysLogService>& installed() {
    return slotFor<SysLogService>("system log service");
}
// The tag the program's lines carry.
constexpr unsigned programTag = 0x5C71;
} // namespace

void installSysLogService(SysLogServiceFactory factory) {
    installed().install(std::move(factory));
}

void installSysLogService(std::unique_ptr<SysLogService> service) {
    installed().install(std::move(service));
}

SysLogService& sysLogService() {
    return installed().get();
}

namespace SysLog {
void procName(const Ref<String>& name) {
    sysLogService().setProcessName(stdString(name));
}
unsigned options() {
    return sysLogService().options();
}
Ref<SysLogExport> exportLog(const Ref<String>& path) {
    return sysLogService().exportLog(path);
}
} // namespace SysLog

namespace SysLogFilter {
unsigned level() {
    return sysLogService().level();
}
bool state(unsigned) {
    return sysLogService().enabled();
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

SysLogStream& SysLogStream::operator<<(const std::string& text) {
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
    sysLogService().write(m_level, text, std::exchange(m_code, -1));
}
