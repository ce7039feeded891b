#pragma once

#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

// Runs work(part) for parts 0 to parts - 1, each on a thread of its own but
// the first, which runs here, as does a part no thread could start for.
// The work must not throw.
template <class Work>
void forEachPart(unsigned parts, Work&& work)
{
    std::vector<std::thread> helpers;
    helpers.reserve(parts);
    for (unsigned part = 1; part < parts; ++part) {
        try {
            helpers.emplace_back([&work, part] { work(part); });
        } catch (const std::system_error&) {
            work(part);
        }
    }
    work(0);
    for (std::thread& helper : helpers)
        helper.join();
}

// Where part `part` of `parts` even runs over count items begins.
inline std::size_t partStart(std::size_t count, unsigned part, unsigned parts)
{
    return count * part / parts;
}
