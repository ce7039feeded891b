#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "tri3d_" + std::to_string(::getpid()) + "_" + name;
}

std::string writeTempFile(const std::string& name, const std::string& text)
{
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ProgramRun runProgram(const std::vector<std::string>& words)
{
    ProgramRun run;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return run;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        std::vector<char*> argv;
        std::string program = TRI3D_BINARY;
        argv.push_back(program.data());
        std::vector<std::string> copies = words;
        for (std::string& word : copies)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

void loadPoints(Reconstruct& r, const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream numbers(line);
        CGVertex p;
        CGVector n;
        if (numbers >> p.x >> p.y >> p.z >> n.x >> n.y >> n.z)
            r.addNode(p, n);
    }
}

std::string brokenInvariant(const Reconstruct& r)
{
    for (const ReconNode* node : r.nodes) {
        for (const Edge* e : node->edges) {
            if (e->from != node)
                return "edge stored at a node it does not start from";
            if (e->triangleCount != 1 && e->triangleCount != 2)
                return "edge with a triangle count other than 1 or 2";
            const Edge* back = findEdge(e->to, e->from);
            if (back == nullptr)
                return "edge without its reverse";
            if (back->triangleCount != e->triangleCount)
                return "edge and reverse with different counts";
        }
    }
    for (const Triangle& t : r.triangles)
        for (std::size_t source : t.source)
            if (source >= r.nodes.size() || r.nodes[source]->isFree())
                return "triangle corner at a free node";
    if (!r.front.empty())
        return "front not empty after the run";
    return {};
}

}  // namespace testsupport
