#include "support/Process.h"

#include "support/TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

std::string contents(const std::string& fileName)
{
    std::ifstream in(fileName);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TestProcess::TestProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment)
{
    static int serial = 0;
    const std::string name = "process-" + std::to_string(++serial);
    outputFile = testsupport::tempPath(name + ".out");
    errorFile = testsupport::tempPath(name + ".err");

    std::vector<std::string> argText = args;
    std::vector<std::string> envText = environment;
    std::vector<char*> argv = pointers(argText);
    std::vector<char*> envp = pointers(envText);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0)
        pid = child;
    posix_spawn_file_actions_destroy(&actions);
}

TestProcess::~TestProcess()
{
    kill();
    std::remove(outputFile.c_str());
    std::remove(errorFile.c_str());
}

bool TestProcess::running()
{
    if (pid <= 0 || ended)
        return false;
    if (waitpid(pid, &status, WNOHANG) == pid)
        ended = true;
    return !ended;
}

bool TestProcess::waitForExit(double seconds, int& exitCode)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!ended)
        return false;
    if (WIFEXITED(status))
        exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exitCode = 128 + WTERMSIG(status);
    else
        exitCode = -1;
    return true;
}

void TestProcess::kill()
{
    if (pid > 0 && !ended) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ended = true;
    }
}

void TestProcess::send(int signalNumber)
{
    if (running())
        ::kill(pid, signalNumber);
}

int TestProcess::signal() const
{
    return ended && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

std::string TestProcess::output() const
{
    return contents(outputFile);
}

std::string TestProcess::errors() const
{
    return contents(errorFile);
}

std::vector<std::string> inheritedEnvironment()
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry)
        entries.emplace_back(*entry);
    return entries;
}

std::vector<std::string> displayEnvironment(const std::string& display, const std::vector<std::string>& extra)
{
    std::vector<std::string> entries;
    for (const std::string& entry : inheritedEnvironment())
        if (entry.compare(0, 8, "DISPLAY=") != 0 && entry.compare(0, 16, "WAYLAND_DISPLAY=") != 0)
            entries.push_back(entry);
    if (!display.empty())
        entries.push_back("DISPLAY=" + display);
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args, std::chrono::seconds limit)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    TestProcess process(words, inheritedEnvironment());
    ProgramResult result;
    result.started = process.started();
    if (!result.started)
        return result;
    int exitCode = -1;
    if (!process.waitForExit(static_cast<double>(limit.count()), exitCode)) {
        process.kill();
        result.timedOut = true;
    } else if (process.signal() != 0) {
        result.signal = process.signal();
    } else {
        result.exitCode = exitCode;
    }
    result.out = process.output();
    result.err = process.errors();
    return result;
}
