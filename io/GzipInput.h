#pragma once

#include "geometry/Progress.h"

#include <zlib.h>

#include <cstdio>
#include <string>
#include <string_view>

// True when text, a file's first bytes, starts with gzip's magic bytes.
bool startsLikeGzip(std::string_view text);

// The content of a gzip stream, as a stream of its own: what the readers of
// plain files read from. Concatenated members read as one, as gzip -d gives
// them.
class GzipInput {
public:
    // compressed is borrowed, alreadyRead its first bytes, taken from it
    // before; progress, where given, counts the compressed bytes read.
    GzipInput(std::FILE* compressed, std::string_view alreadyRead, Progress* progress);
    ~GzipInput();

    GzipInput(const GzipInput&) = delete;
    GzipInput& operator=(const GzipInput&) = delete;

    // The uncompressed bytes; null when the stream could not be set up. A
    // corrupt or cut stream reads as a read error there, its reason in
    // problem(). Owned by this object.
    std::FILE* file() const { return file_; }

    // Why the stream could not be read to its end; empty while it can.
    const std::string& problem() const { return problem_; }

private:
    static ssize_t readCookie(void* cookie, char* buffer, std::size_t size);
    ssize_t read(char* buffer, std::size_t size);
    bool refill();

    std::FILE* compressed_;  // not owned
    Progress* progress_;     // not owned; null when nobody counts
    z_stream stream_{};
    bool ready_ = false;        // inflateInit2 succeeded
    bool memberEnded_ = false;  // the last member read so far is complete
    bool finished_ = false;     // the whole input is read
    std::string problem_;
    unsigned char in_[1 << 16];
    std::FILE* file_ = nullptr;  // owned
};
