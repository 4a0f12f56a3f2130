// One export of the system log to a file, on a thread of its own.
#include "LogExportJob.h"
#include "HostFiles.h"
#include "HostFilesystem.h"
#include "HostPlatform.h"
#include "HostServices.h"
#include "Replacement.h"
#include "RunResults.h"
#include "Signals.h"
#include "platform/Filesystem.h"
#include "platform/System.h"
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace Host {
namespace {

// One export of the store into a target: compressed into a replacement nobody can see, which takes
// the target's name only once it is complete and on its medium.
class HostExport : public SysLog::SysLogExport {
  public:
    HostExport(std::unique_ptr<Replacement> replacement, std::string platformPath, LogExporter& exporter,
               RunNotes& notes)
        : m_replacement(std::move(replacement)), m_platformPath(std::move(platformPath)),
          m_exporter(exporter), m_notes(notes) {}
    void start() {
        Ref<HostExport> self(this);
        std::thread([self] { self->run(); }).detach();
    }
    bool status(unsigned& state, double& fraction) override {
        state = m_state.load();
        fraction = m_fraction.load();
        return true;
    }
    void cancel() override {
        std::lock_guard lock(m_commitMutex);
        m_cancelled = true;
    }
    // Waits until the export has ended or `limit` has passed; true when it has ended.
    bool awaitEnd(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_endMutex);
        return m_ended.wait_for(lock, limit, [this] { return m_state.load() != running; });
    }

  private:
    void run() {
        int out = fcntl(m_replacement->descriptor(), F_DUPFD_CLOEXEC, 0);
        // An interruption stops the export at once, whether or not anyone asks to cancel it: a
        // save without a progress dialog has nobody to ask.
        bool ok = out >= 0 && m_exporter.compressLog(
                                  out,
                                  [this](double f) {
                                      m_fraction = f;
                                      return !m_cancelled.load() && Signals::received() == 0;
                                  },
                                  m_platformPath);
        if (ok) ok = m_exporter.finishExport(m_platformPath);
        if (!ok && Signals::received() != 0) awaitCancel();
        {
            // A cancel comes either before, and the copy never takes its name, or after the name is
            // taken, so that the caller's removal of what it cancelled finds the file.
            std::lock_guard lock(m_commitMutex);
            ok = ok && !m_cancelled.load() && m_replacement->commit();
        }
        if (!ok && !m_cancelled.load() && Signals::received() == 0) noteAFullMedium();
        // Nothing of an export that did not complete stays behind.
        m_replacement.reset();
        if (ok) m_fraction = 1.0;
        {
            std::lock_guard lock(m_endMutex);
            m_state = ok ? done : failed;
        }
        m_ended.notify_all();
    }
    // A log that did not fit on its medium: the failure here that a person can act on, told under
    // the message that follows ("Could not store file ...").
    void noteAFullMedium() {
        struct statvfs medium {};
        if (fstatvfs(m_replacement->descriptor(), &medium) == 0 && medium.f_bavail == 0)
            m_notes.noteFailureCause(m_platformPath + ": " + std::strerror(ENOSPC));
    }
    // Stopped by an interruption: a caller that follows the export with a progress dialog hears of
    // it there and cancels (its own path: "User aborted"), so give it a few of its polls to do so
    // before the export ends as failed.
    void awaitCancel() {
        for (auto waited = std::chrono::milliseconds(0); waited < cancelGrace && !m_cancelled.load();
             waited += cancelCheck)
            std::this_thread::sleep_for(cancelCheck);
    }
    static constexpr std::chrono::milliseconds cancelGrace{400}, cancelCheck{10};
    static constexpr unsigned running = 0, done = 1, failed = 3;
    std::unique_ptr<Replacement> m_replacement;
    std::string m_platformPath;
    LogExporter& m_exporter; // the run's, with the fault rules around it when there are any
    RunNotes& m_notes;
    std::mutex m_commitMutex; // orders a cancel and the copy taking its name
    std::mutex m_endMutex;    // with m_ended: the end of the export, awaited
    std::condition_variable m_ended;
    std::atomic<unsigned> m_state{running};
    std::atomic<double> m_fraction{0.0};
    std::atomic<bool> m_cancelled{false};
};

// How long the start of an export waits for one that ends at once.
constexpr std::chrono::milliseconds quickExport{20};

} // namespace

Ref<SysLog::SysLogExport> startLogExport(HostPlatform& platform, const Ref<String>& path,
                                         const std::string& storeDirectory) {
    using namespace Services::Filesystem::Client;
    // After an interruption nothing new is begun.
    if (Signals::received() != 0) {
        Error::set(Errors::Cancelled);
        return {};
    }
    // A name found free is taken only if still free: of runs that found the same free name, the
    // first to finish keeps it and the others' exports fail. A name chosen again on purpose (a
    // reused or a given name) is replaced.
    // The host's own file service opens the directory (the export writes through its descriptor),
    // under none of the decorators a run may have around the installed one.
    HostFilesystem files(platform);
    Ref<String> parent = Service::parent(path, false);
    Ref<Directory> opened = files.openDirectory(parent, DirectoryMode::ReadWrite);
    if (!opened) {
        if (Error::get() == Errors::NotWritable)
            platform.notes().noteFailureCause(
                stdString(parent) + ": may not be written to (a read-only drive, or no permission)");
        return {};
    }
    auto replacement = Replacement::create(static_cast<const HostDirectory&>(*opened),
                                           stdString(Service::name(path)), files.foundFree(path));
    if (!replacement) return {};
    // A directory or a mount point is never replaced by a file (nor written beneath its mount).
    if (Directory::open(path, DirectoryMode::ReadOnly)) {
        Error::set(Errors::AlreadyExists);
        return {};
    }
    // The log is never exported into its own store, where it would replace what it is made of.
    if (replacement->isIn(storeDirectory)) {
        Error::set(Errors::InvalidPath);
        return {};
    }
    Ref<HostExport> job(
        new HostExport(std::move(replacement), stdString(path), platform.logs(), platform.notes()));
    job->start();
    // The caller asks for the status at once and, while the export runs, again every 200 ms: an
    // export done in a moment (a small log, or a second location given the first one's bytes) is
    // given that moment, so its first status is final. Not after an interruption: the caller hears
    // of it only by asking whether to cancel, which it does only while an export runs.
    if (Signals::received() == 0) job->awaitEnd(quickExport);
    return job;
}

} // namespace Host
