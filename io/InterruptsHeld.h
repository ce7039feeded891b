#pragma once

#include <pthread.h>
#include <signal.h>

// Holds SIGINT and SIGTERM back on the calling thread while it lives; a
// held signal is delivered when the guard goes, never lost. Threads started
// meanwhile inherit the held mask, so interrupts stay with the thread that
// does the work, and making a temporary file and remembering its name
// cannot be split by one.
class InterruptsHeld {
public:
    InterruptsHeld()
    {
        sigset_t interrupts;
        sigemptyset(&interrupts);
        sigaddset(&interrupts, SIGINT);
        sigaddset(&interrupts, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &interrupts, &before_);
    }
    ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t before_;
};
