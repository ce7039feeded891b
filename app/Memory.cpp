#include "app/Memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// The first and second figures of /proc/self/statm, in bytes: all that is
// mapped, and what of it is resident.
bool readStatm(std::uint64_t& mapped, std::uint64_t& resident)
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr)
        return false;
    unsigned long long pages[2];
    // NOLINTNEXTLINE(cert-err34-c): the kernel writes these figures, never a user
    const bool ok = std::fscanf(file, "%llu %llu", &pages[0], &pages[1]) == 2;
    std::fclose(file);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (!ok || pageSize <= 0)
        return false;
    mapped = pages[0] * static_cast<std::uint64_t>(pageSize);
    resident = pages[1] * static_cast<std::uint64_t>(pageSize);
    return true;
}

bool availableMemory(std::uint64_t& bytes)
{
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (file == nullptr)
        return false;
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file) != nullptr) {
        unsigned long long kilobytes;
        // NOLINTNEXTLINE(cert-err34-c): the kernel writes these figures, never a user
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
            bytes = kilobytes * 1024;
            found = true;
        }
    }
    std::fclose(file);
    return found;
}

}  // namespace

MemoryRoom memoryRoom()
{
    MemoryRoom room;
    std::uint64_t available;
    if (availableMemory(available)) {
        room.known = true;
        room.bytes = available;
    }
    struct rlimit limit;
    std::uint64_t mapped;
    std::uint64_t resident;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && readStatm(mapped, resident)) {
        const std::uint64_t left = limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0;
        if (!room.known || left < room.bytes) {
            room.known = true;
            room.bytes = left;
            room.addressLimit = true;
        }
    }
    return room;
}

std::uint64_t residentBytes()
{
    std::uint64_t mapped;
    std::uint64_t resident;
    return readStatm(mapped, resident) ? resident : 0;
}
