#include "io/GzipInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

bool startsLikeGzip(std::string_view text)
{
    return text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0x1f &&
           static_cast<unsigned char>(text[1]) == 0x8b;
}

GzipInput::GzipInput(std::FILE* compressed, std::string_view alreadyRead, Progress* progress)
    : compressed_(compressed), progress_(progress)
{
    // 16 + the largest window: gzip's wrapper, any window size.
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {
        problem_ = "zlib could not be set up";
        return;
    }
    ready_ = true;
    const std::size_t head = std::min(alreadyRead.size(), sizeof in_);
    std::memcpy(in_, alreadyRead.data(), head);
    stream_.next_in = in_;
    stream_.avail_in = static_cast<uInt>(head);
    const cookie_io_functions_t io = {&GzipInput::readCookie, nullptr, nullptr, nullptr};
    file_ = ::fopencookie(this, "r", io);
}

GzipInput::~GzipInput()
{
    if (file_ != nullptr)
        std::fclose(file_);
    if (ready_)
        inflateEnd(&stream_);
}

ssize_t GzipInput::readCookie(void* cookie, char* buffer, std::size_t size)
{
    return static_cast<GzipInput*>(cookie)->read(buffer, size);
}

bool GzipInput::refill()
{
    const std::size_t got = std::fread(in_, 1, sizeof in_, compressed_);
    if (progress_ != nullptr)
        progress_->advance(got);
    if (std::ferror(compressed_)) {
        problem_ = std::string("the compressed file could not be read: ") + std::strerror(errno);
        return false;
    }
    stream_.next_in = in_;
    stream_.avail_in = static_cast<uInt>(got);
    return true;
}

ssize_t GzipInput::read(char* buffer, std::size_t size)
{
    // The reader behind this stream counts no bytes, so it cannot see a
    // request to stop: the stream ends the read for it.
    if (progress_ != nullptr && progress_->stopped() && problem_.empty())
        problem_ = "reading was stopped";
    if (!problem_.empty())
        return -1;
    stream_.next_out = reinterpret_cast<Bytef*>(buffer);
    stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1 << 30));
    const uInt wanted = stream_.avail_out;
    while (!finished_ && stream_.avail_out == wanted) {
        if (stream_.avail_in == 0) {
            if (!refill())
                return -1;
            if (stream_.avail_in == 0) {
                if (!memberEnded_) {
                    problem_ = "the gzip data is cut short: the file ends inside the compressed stream";
                    return -1;
                }
                finished_ = true;
                break;
            }
        }
        if (memberEnded_) {
            // More bytes after a whole member: the next member.
            inflateReset(&stream_);
            memberEnded_ = false;
        }
        const int result = inflate(&stream_, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            memberEnded_ = true;
        } else if (result == Z_MEM_ERROR) {
            problem_ = "out of memory while unpacking the gzip data";
            return -1;
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            problem_ =
                std::string("the gzip data is corrupt: ") + (stream_.msg != nullptr ? stream_.msg : "zlib error");
            return -1;
        }
    }
    return static_cast<ssize_t>(wanted - stream_.avail_out);
}
