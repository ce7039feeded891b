#include "fuzz/MemoryFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

MemoryFile::MemoryFile()
{
    fd_ = memfd_create("tri3d-input", 0);
    if (fd_ < 0) {
        // Without it no check can run at all; better to stop loudly.
        std::perror("memfd_create");
        std::abort();
    }
    // Opening the descriptor's /proc name gives a fresh read position each
    // time, exactly as opening a real file would.
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile()
{
    close(fd_);
}

bool MemoryFile::assign(const void* data, std::size_t size)
{
    if (ftruncate(fd_, 0) != 0)
        return false;
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, p + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
