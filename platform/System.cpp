// The system core's calls: what is made and what the system answers comes from the installed
// SystemService; semaphores and atomics are the same on every host.
#include "System.h"
#include "Commandline.h"
#include "SystemService.h"
#include <chrono>
#include <cstdlib>
#include <thread>

namespace Sys {
long long info(unsigned key, unsigned index) {
    return service<SystemService>().info(key, index);
}

Ref<String> bootParameter() {
    return String::create(service<SystemService>().bootParameters());
}
} // namespace Sys

Ref<Thd> Thd::create(const Ref<Exec>& exec, unsigned, unsigned, unsigned, const char* name) {
    if (!exec) {
        Error::set(Errors::InvalidPath);
        return {};
    }
    return service<SystemService>().createThread(exec, name ? name : "");
}

bool Thd::waitForAll(unsigned timeoutMs) {
    return service<SystemService>().waitForThreads(timeoutMs);
}

void Thd::sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Ref<Sem> Sem::create(unsigned count) {
    return service<SystemService>().createSemaphore(count);
}

bool Sem::wait(unsigned timeoutMs) {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_count > 0; }))
        return false;
    m_count--;
    return true;
}

void Sem::signal() {
    {
        std::lock_guard lock(m_mutex);
        m_count++;
    }
    m_cv.notify_one();
}

bool Atomic::cas(volatile uint64_t* word, uint64_t expected, uint64_t desired) {
    return __atomic_compare_exchange_n(word, &expected, desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

Ref<ShMem> ShMem::create(size_t bytes) {
    return service<SystemService>().createSharedMemory(bytes);
}

ShMem::~ShMem() {
    std::free(m_data);
}

bool Libraries::Commandline::initCommandline(unsigned, const Ref<Object>&, const Ref<Object>&, Callback,
                                             void*) {
    return service<SystemService>().initCommandline();
}
