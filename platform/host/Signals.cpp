#include "Signals.h"
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <termios.h>

namespace Signals {
namespace {

constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP};

// Lock-free, so the handler may touch it.
std::atomic<int> pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

void restoreDefault(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// The terminal to give its settings back to; written only while no progress is drawn.
std::atomic<bool> terminalHeld{false};
int terminalFd = -1;
struct termios terminalSettings {};

void onSignal(int signal) {
    int none = 0;
    if (pending.compare_exchange_strong(none, signal)) return;
    // Asked twice: the user wants out now. tcsetattr may be called here.
    if (terminalHeld.load()) tcsetattr(terminalFd, TCSANOW, &terminalSettings);
    restoreDefault(signal);
    raise(signal);
}

} // namespace

void install() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // System calls on files go on where they were; waits that must notice (the terminal's prompts)
    // poll for the flag themselves.
    action.sa_flags = SA_RESTART;
    for (int signal : handled) {
        struct sigaction previous {};
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

void restoreTerminalOnAbruptEnd(int fd, const struct termios* settings) {
    terminalHeld = false;
    if (!settings) return;
    terminalFd = fd;
    terminalSettings = *settings;
    terminalHeld = true;
}

int received() {
    return pending.load();
}

void endByReceived() {
    int signal = pending.load();
    std::fflush(nullptr);
    restoreDefault(signal);
    raise(signal);
    // Only reached if the signal's default action does not end the process.
    std::_Exit(128 + signal);
}

} // namespace Signals
