#include "io/FileReplacement.h"

#include "io/InterruptsHeld.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

// The temporaries that exist now, for removeTemporaryFiles. A program
// writes one file at a time; a few more slots cost nothing, and a
// replacement that finds none free only loses the clean-up on a signal.
constexpr int kSlots = 8;
std::atomic<const char*> temporaries[kSlots];

void remember(const char* path)
{
    for (std::atomic<const char*>& slot : temporaries) {
        const char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, path))
            return;
    }
}

void forget(const char* path)
{
    for (std::atomic<const char*>& slot : temporaries) {
        const char* expected = path;
        if (slot.compare_exchange_strong(expected, nullptr))
            return;
    }
}

}  // namespace

FileReplacement::FileReplacement(const std::string& target) : target_(target), temporary_(target + ".XXXXXX")
{
    int descriptor;
    {
        // Between making the file and remembering its name an interrupt
        // would leave it behind, so interrupts wait for both.
        const InterruptsHeld held;
        descriptor = ::mkstemp(temporary_.data());
        if (descriptor >= 0)
            remember(temporary_.c_str());
    }
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
    // Removed before it is forgotten: a signal in between finds the name
    // gone, which does no harm.
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        forget(temporary_.c_str());
    }
}

bool FileReplacement::commit()
{
    if (file_ == nullptr)
        return false;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = ok && std::rename(temporary_.c_str(), target_.c_str()) == 0;
    if (ok) {
        // It is the target now; the name of the temporary points nowhere.
        forget(temporary_.c_str());
        temporary_.clear();
    }
    return ok;
}

void removeTemporaryFiles()
{
    for (std::atomic<const char*>& slot : temporaries) {
        const char* path = slot.load();
        if (path != nullptr)
            ::unlink(path);
    }
}
