#include "io/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

InputFile openInputFile(const std::string& fileName)
{
    InputFile none(nullptr, &std::fclose);
    // Opened without blocking, so a FIFO nobody writes to reads as empty
    // instead of holding the program in open() for ever.
    const int descriptor = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return none;
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode) || S_ISCHR(status.st_mode) ||
        S_ISBLK(status.st_mode) || ::fcntl(descriptor, F_SETFL, 0) != 0) {
        ::close(descriptor);
        return none;
    }
    InputFile file(::fdopen(descriptor, "rb"), &std::fclose);
    if (!file)
        ::close(descriptor);
    return file;
}
