#include "io/ByteSource.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <limits>

ByteSource::ByteSource(std::FILE* file, std::string_view alreadyRead, Progress* progress)
    : file_(file), progress_(progress), buffer_(1 << 16)
{
    if (alreadyRead.size() > buffer_.size())
        buffer_.resize(alreadyRead.size());
    if (!alreadyRead.empty())
        std::memcpy(buffer_.data(), alreadyRead.data(), alreadyRead.size());
    size_ = alreadyRead.size();
}

bool ByteSource::read(unsigned char* out, std::size_t n)
{
    while (n > 0) {
        if (at_ == size_ && !refill())
            return false;
        const std::size_t take = std::min(n, size_ - at_);
        std::memcpy(out, buffer_.data() + at_, take);
        at_ += take;
        out += take;
        n -= take;
    }
    return true;
}

bool ByteSource::skip(std::uint64_t n)
{
    while (n > 0) {
        if (at_ == size_ && !refill())
            return false;
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - at_));
        at_ += take;
        n -= take;
    }
    return true;
}

bool ByteSource::line(std::string& out)
{
    out.clear();
    bool any = false;
    for (;;) {
        if (at_ == size_ && !refill())
            break;
        any = true;
        const char* start = buffer_.data() + at_;
        const void* feed = std::memchr(start, '\n', size_ - at_);
        if (feed != nullptr) {
            const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(feed) - start);
            out.append(start, n);
            at_ += n + 1;
            break;
        }
        out.append(start, size_ - at_);
        at_ = size_;
    }
    if (!out.empty() && out.back() == '\r')
        out.pop_back();
    return any;
}

bool ByteSource::seek(std::uint64_t offset)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
        ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)
        return false;
    passed_ = offset;
    at_ = 0;
    size_ = 0;
    return true;
}

bool ByteSource::refill()
{
    passed_ += size_;
    at_ = 0;
    // Asked to stop, the rest reads as the end of the file; the caller that
    // asked takes nothing from what was read.
    if (progress_ != nullptr && progress_->stopped()) {
        size_ = 0;
        return false;
    }
    size_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (progress_ != nullptr)
        progress_->advance(size_);
    return size_ > 0;
}
