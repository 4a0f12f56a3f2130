#include "Log.h"

namespace Applications::Commands::Scrivlet {

SysLogStream& writeCode(SysLogStream& stream, uint32_t value) {
    return writeCode(stream, uint64_t{value});
}

SysLogStream& writeCode(SysLogStream& stream, uint64_t value) {
    return stream.writeHex(value) << "h (" << std::to_string(value) << ")";
}

SysLogStream& writeString(SysLogStream& stream, const Ref<String>& value) {
    return value ? stream << value->str() : stream;
}

LogLine::LogLine(unsigned level) {
    if (SysLogFilter::level() > level || !SysLogFilter::state(0)) return;
    m_stream = &SysLogStream::stdOutPrinter();
    m_stream->setLevel(level).setTag(SysLogFilter::id(0));
}

LogLine::~LogLine() {
    if (m_stream) m_stream->end();
}

LogLine& LogLine::operator<<(const char* text) {
    if (m_stream) *m_stream << text;
    return *this;
}

LogLine& LogLine::operator<<(const Ref<String>& text) {
    if (m_stream) writeString(*m_stream, text);
    return *this;
}

LogLine& LogLine::operator<<(Code code) {
    if (m_stream) writeCode(*m_stream, code.value);
    return *this;
}

} // namespace Applications::Commands::Scrivlet
