#include "MemorySysLog.h"
#include "platform/Filesystem.h"

namespace {

class FinishedExport : public SysLog::SysLogExport {
  public:
    explicit FinishedExport(bool ok) : m_ok(ok) {}
    bool status(unsigned& state, double& fraction) override {
        state = m_ok ? done : failed;
        fraction = m_ok ? 1.0 : 0.0;
        return true;
    }
    void cancel() override {}

  private:
    static constexpr unsigned done = 1, failed = 3;
    bool m_ok;
};

} // namespace

void MemorySysLog::setProcessName(const std::string& name) {
    std::lock_guard lock(m_mutex);
    m_processName = name;
}

void MemorySysLog::write(unsigned level, const std::string& text, long long code) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back({level, text, code});
}

Ref<SysLog::SysLogExport> MemorySysLog::exportLog(const Ref<String>& path) {
    using namespace Services::Filesystem::Client;
    Ref<File> file = File::open(path, OpenMode::Destination);
    if (!file) return {};
    std::string text;
    for (const Line& line : lines())
        text += "L" + std::to_string(line.level) + " " + line.text + "\n";
    // A failing export stops half way, leaving what it wrote.
    if (failExports) text.resize(text.size() / 2);
    bool written = file->writeBytes(text.data(), text.size()) == text.size();
    return Ref<SysLog::SysLogExport>(new FinishedExport(written && !failExports));
}

std::vector<MemorySysLog::Line> MemorySysLog::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool MemorySysLog::logged(const std::string& text, unsigned level) const {
    for (const Line& line : lines())
        if (line.level >= level && line.text.find(text) != std::string::npos) return true;
    return false;
}

std::string MemorySysLog::processName() const {
    std::lock_guard lock(m_mutex);
    return m_processName;
}
