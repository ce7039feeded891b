#include "app/Interrupt.h"

#include "io/FileReplacement.h"

#include <signal.h>
#include <unistd.h>

namespace {

// Where to end the line the report or the progress left open, so the
// shell's prompt starts on a line of its own: -1 when neither output is a
// terminal.
volatile sig_atomic_t lineEnd = -1;

// Where an interrupt asks the work to stop instead of ending the program;
// null while every interrupt ends it at once. A lock-free atomic, so the
// handler may set it.
std::atomic<std::atomic<bool>*> stopFlag{nullptr};
// The signal that set the flag; 0 when none has.
volatile sig_atomic_t pendingSignal = 0;

// Only async-signal-safe calls: the program may be anywhere, even inside
// the allocator.
[[noreturn]] void endNow(int signal)
{
    removeTemporaryFiles();
    if (lineEnd >= 0) {
        const char feed = '\n';
        [[maybe_unused]] const ssize_t ignored = ::write(lineEnd, &feed, 1);
    }
    // Die of the signal itself, so a calling shell or script sees an
    // interrupted child (and a loop over files stops) rather than an exit.
    struct sigaction plain = {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    ::sigaction(signal, &plain, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    // Only if the signal could not end the process after all.
    // cppcheck-suppress unreachableCode
    ::_exit(128 + signal);
}

extern "C" void stopNow(int signal)
{
    std::atomic<bool>* flag = stopFlag.load();
    if (flag == nullptr)
        endNow(signal);
    if (pendingSignal == 0)
        pendingSignal = signal;
    flag->store(true);
}

}  // namespace

InterruptsStopWork::InterruptsStopWork(std::atomic<bool>& flag)
{
    stopFlag.store(&flag);
}

InterruptsStopWork::~InterruptsStopWork()
{
    stopFlag.store(nullptr);
}

void endIfInterrupted()
{
    if (pendingSignal != 0)
        endNow(pendingSignal);
}

void stopCleanlyOnInterrupt()
{
    lineEnd = ::isatty(STDERR_FILENO) ? STDERR_FILENO : ::isatty(STDOUT_FILENO) ? STDOUT_FILENO : -1;
    struct sigaction action = {};
    action.sa_handler = stopNow;
    sigemptyset(&action.sa_mask);
    // One clean-up is enough when both arrive together.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction before = {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}
