#include "CutShortGuard.h"
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace Journal {
namespace {

std::atomic<unsigned long> faults{0};
std::atomic<uintptr_t> pageSize{0};
std::mutex installMutex;
unsigned guards = 0;
struct sigaction previous {};

void onBusError(int signal, siginfo_t* info, void*) {
    uintptr_t page = pageSize.load();
    auto address = reinterpret_cast<uintptr_t>(info->si_addr) & ~(page - 1);
    // A missing page of a mapped file (BUS_ADRERR) gets zeros; anything else is not ours to mend.
    bool mended = info->si_code == BUS_ADRERR && page != 0 &&
                  mmap(reinterpret_cast<void*>(address), page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
    if (mended) {
        faults.fetch_add(1);
        return;
    }
    // Returning re-runs the access, which now ends the process as it would have.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
}

} // namespace

CutShortGuard::CutShortGuard() : m_faultsBefore(faults.load()) {
    std::lock_guard lock(installMutex);
    if (guards++ > 0) return;
    pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previous);
}

CutShortGuard::~CutShortGuard() {
    std::lock_guard lock(installMutex);
    if (--guards == 0) sigaction(SIGBUS, &previous, nullptr);
}

bool CutShortGuard::struck() const {
    return faults.load() != m_faultsBefore;
}

} // namespace Journal
