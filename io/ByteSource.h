#pragma once

#include "geometry/Progress.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A point file's bytes, streamed: the first ones from what was read before
// the layout was known, the rest from the file.
class ByteSource {
public:
    // file is borrowed; progress, where given, counts every byte read from file.
    ByteSource(std::FILE* file, std::string_view alreadyRead, Progress* progress);

    // True after a read error (not at a plain end of file).
    bool failed() const { return std::ferror(file_) != 0; }

    // Copies the next n bytes to out; false when the file ends first.
    bool read(unsigned char* out, std::size_t n);

    // Passes over the next n bytes; false when the file ends first.
    bool skip(std::uint64_t n);

    // The next line without its line feed or carriage return; false at the
    // end of the file when no byte is left.
    bool line(std::string& out);

    // How many bytes have been handed out or passed over since the start.
    std::uint64_t offset() const { return passed_ + at_; }

    // Goes on from byte offset of the file itself; false when the file
    // cannot go there.
    bool seek(std::uint64_t offset);

private:
    bool refill();

    std::FILE* file_;     // not owned
    Progress* progress_;  // not owned; null when nobody counts
    std::vector<char> buffer_;
    std::size_t at_ = 0;
    std::size_t size_ = 0;
    std::uint64_t passed_ = 0;  // bytes before the buffer's first
};
