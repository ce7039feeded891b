#include "io/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

InputFile openInputFile(const std::string& fileName, std::string* why)
{
    InputFile none(nullptr, &std::fclose);
    auto failed = [&none, why](const std::string& cause) {
        if (why != nullptr)
            *why = cause;
        return std::move(none);
    };
    // Opened without blocking, so a FIFO nobody writes to reads as empty
    // instead of holding the program in open() for ever.
    const int descriptor = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return failed(std::strerror(errno));
    struct stat status;
    std::string cause;
    if (::fstat(descriptor, &status) != 0 || ::fcntl(descriptor, F_SETFL, 0) != 0)
        cause = std::strerror(errno);
    else if (S_ISDIR(status.st_mode))
        cause = std::strerror(EISDIR);
    else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        cause = "a device, not a file";
    if (!cause.empty()) {
        ::close(descriptor);
        return failed(cause);
    }
    InputFile file(::fdopen(descriptor, "rb"), &std::fclose);
    if (!file) {
        cause = std::strerror(errno);
        ::close(descriptor);
        return failed(cause);
    }
    return file;
}
