#pragma once

// Runs programs as child processes for end-to-end tests: an empty standard
// input, standard output and standard error each into a file of its own
// (so a program never waits on a test that is not reading), and a time
// limit, so a hang fails the test instead of stalling the whole suite.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A program started for a test. It is killed at the end of the scope if it
// is still running then.
class TestProcess {
public:
    // args[0] is the program's path; environment holds NAME=value entries
    // and is all the program sees.
    TestProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment);
    ~TestProcess();

    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    // False when the program could not be run at all.
    bool started() const { return pid > 0; }

    bool running();

    // True once the program has ended within the given time; exitCode is
    // its exit status, or 128 plus the signal that ended it.
    bool waitForExit(double seconds, int& exitCode);

    // Kills the program if it still runs and waits for it.
    void kill();

    // Sends signalNumber to the program if it still runs, as a user or the
    // system would, and leaves it to end by itself.
    void send(int signalNumber);

    // The signal that ended the program, 0 when none did.
    int signal() const;

    // Everything the program has written so far to its standard output and
    // to its standard error.
    std::string output() const;
    std::string errors() const;

private:
    pid_t pid = -1;
    bool ended = false;
    int status = 0;
    std::string outputFile;
    std::string errorFile;
};

// This process's environment, for a child that inherits it unchanged.
std::vector<std::string> inheritedEnvironment();

// This process's environment without any display; then DISPLAY=display
// when display is not empty, and the entries of extra.
std::vector<std::string> displayEnvironment(const std::string& display, const std::vector<std::string>& extra = {});

struct ProgramResult {
    bool started = false;   // false: the program could not be run at all
    bool timedOut = false;  // killed by us after the limit
    int exitCode = -1;      // valid when it exited by itself
    int signal = 0;         // the signal that ended it, 0 when none did
    std::string out;
    std::string err;

    bool exitedWith(int code) const { return started && !timedOut && signal == 0 && exitCode == code; }
};

// Runs program with args in this process's environment to its end, or
// kills it once limit has passed.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args, std::chrono::seconds limit);
