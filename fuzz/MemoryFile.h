#pragma once

#include <cstddef>
#include <string>

// A file that lives in memory but has a path, so the reader can open it by
// name like any point file without the fuzzers touching the disk.
class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();

    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Replaces the whole content. False when the bytes could not be stored.
    bool assign(const void* data, std::size_t size);

    // A name that opens the current content from the start.
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};
