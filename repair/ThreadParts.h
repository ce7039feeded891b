#pragma once

#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

// Runs work(part) once for each part from 0 to parts - 1, on this thread
// and up to parts - 1 helpers, each taking the next part as it comes
// free: on a busy machine a helper may start late, and this thread then
// takes its part rather than wait for it. A part no thread could start
// for runs here too. The parts must not depend on which thread runs
// them, and the work must not throw.
template <class Work>
void forEachPart(unsigned parts, Work&& work)
{
    std::atomic<unsigned> next{0};
    const auto take = [&next, &work, parts] {
        for (unsigned part = next++; part < parts; part = next++)
            work(part);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(parts);
    for (unsigned helper = 1; helper < parts; ++helper) {
        try {
            helpers.emplace_back(take);
        } catch (const std::system_error&) {
            break;
        }
    }
    take();
    for (std::thread& helper : helpers)
        helper.join();
}

// Where part `part` of `parts` even runs over count items begins.
inline std::size_t partStart(std::size_t count, unsigned part, unsigned parts)
{
    return count * part / parts;
}
