#include "UploadProgress.h"
#include "common/Log.h"

namespace Applications::Commands::Scrivlet {

namespace {
void logPercentage(double fraction) {
    LogLine(LogLevel::Trace) << "Upload progress: " << Code{static_cast<uint64_t>(fraction * 100)};
}
} // namespace

void UploadFileProgress::progress(int, double fraction) {
    logPercentage(fraction);
    if (!m_progress) return;
    m_progress->beginUpdate();
    m_progress->setValue(static_cast<uint64_t>(fraction * 100));
    m_progress->endUpdate();
}

bool UploadFileProgress::abandon() {
    return m_progress && m_progress->cancelled(true);
}

void UploadSyslogProgress::progress(int, double fraction) {
    logPercentage(fraction);
    if (!m_progress) return;
    m_progress->beginUpdate();
    if (fraction > 0.5) m_progress->setText(m_catalogue->lookup("UPLOADING LOG...", 93));
    m_progress->setValue(static_cast<uint64_t>(fraction * 200));
    m_progress->endUpdate();
}

bool UploadSyslogProgress::abandon() {
    return m_progress && m_progress->cancelled(true);
}

} // namespace Applications::Commands::Scrivlet
