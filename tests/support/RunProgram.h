#pragma once

// Runs a program as a child process for end-to-end tests: captures its
// standard output and standard error, gives it an empty standard input, and
// kills it when it overruns a time limit, so a hang fails the test instead
// of stalling the whole suite.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct ProgramResult {
    bool started = false;   // false: the program could not be run at all
    bool timedOut = false;  // killed by us after the limit
    int exitCode = -1;      // valid when it exited by itself
    int signal = 0;         // the signal that ended it, 0 when none did
    std::string out;
    std::string err;

    bool exitedWith(int code) const { return started && !timedOut && signal == 0 && exitCode == code; }
};

// onStart, where given, is told the child's process id as soon as it runs,
// for a test that acts on the child while it works.
inline ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                                std::chrono::seconds limit, const std::function<void(pid_t)>& onStart = nullptr)
{
    ProgramResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0)
        return result;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    result.started = true;
    if (onStart)
        onStart(pid);

    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto timeLeft = [&deadline] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    };
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int openPipes = 2;
    char buffer[65536];
    while (openPipes > 0 && timeLeft().count() > 0) {
        if (poll(fds, 2, static_cast<int>(timeLeft().count())) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;  // poll skips negative descriptors
                --openPipes;
            }
        }
    }

    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            break;
        if (done == 0 && timeLeft().count() <= 0 && !result.timedOut) {
            kill(pid, SIGKILL);
            result.timedOut = true;
        }
        if (done == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status) && !result.timedOut)
        result.signal = WTERMSIG(status);
    return result;
}
