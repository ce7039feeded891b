#include "io/FileReplacement.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

FileReplacement::FileReplacement(const std::string& target) : target_(target), temporary_(target + ".XXXXXX")
{
    const int descriptor = ::mkstemp(temporary_.data());
    if (descriptor < 0) {
        temporary_.clear();
        return;
    }
    // mkstemp makes the file private; what we write is an ordinary document.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);
    file_ = ::fdopen(descriptor, "wb");
    if (file_ == nullptr)
        ::close(descriptor);
}

FileReplacement::~FileReplacement()
{
    if (file_ != nullptr)
        std::fclose(file_);
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

bool FileReplacement::commit()
{
    if (file_ == nullptr)
        return false;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = ok && std::rename(temporary_.c_str(), target_.c_str()) == 0;
    if (ok)
        temporary_.clear();  // it is the target now
    return ok;
}
