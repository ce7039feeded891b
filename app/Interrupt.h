#pragma once

#include <atomic>

// Makes SIGINT and SIGTERM end the program at once, whatever it is doing,
// with exit code 130 or 143 as shells report them, after removing every
// temporary file a write in progress holds: the target of that write stays
// as it was. A signal the program was started with ignored (a background
// job of a script) stays ignored.
void stopCleanlyOnInterrupt();

// While it lives, SIGINT and SIGTERM set flag instead of ending the
// program: the work under way (reading, estimating normals, triangulating)
// looks at the flag through its progress object and stops early. The
// caller then calls endIfInterrupted. One at a time.
class InterruptsStopWork {
public:
    explicit InterruptsStopWork(std::atomic<bool>& flag);
    ~InterruptsStopWork();

    InterruptsStopWork(const InterruptsStopWork&) = delete;
    InterruptsStopWork& operator=(const InterruptsStopWork&) = delete;
};

// When an interrupt has set the flag of an InterruptsStopWork, ends the
// program as stopCleanlyOnInterrupt would have at the moment it came.
// Returns otherwise.
void endIfInterrupted();
