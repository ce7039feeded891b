#include "io/PointFileReader.h"

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\n';
}

}  // namespace

bool parseLine(std::string_view line, CGVertex& position, CGVector& normal)
{
    // The text ends at the first zero byte, as a C string would.
    line = line.substr(0, line.find('\0'));
    if (line.empty() || line.substr(0, 2) == "//" || line == "\n")
        return false;

    double numbers[6];
    int count = 0;
    std::string token;  // one token at a time, so a token never runs into the next
    for (std::size_t i = 0; i < line.size() && count < 6; ++i) {
        const char c = line[i];
        if (!isSeparator(c)) {
            token.push_back(c);
        } else if (!token.empty()) {
            // strtod reads the longest numeric prefix and gives 0 for none,
            // the atof rule, without atof's undefined behaviour on overflow.
            numbers[count++] = std::strtod(token.c_str(), nullptr);
            token.clear();
        }
    }
    if (count != 6)
        return false;
    // A point that cannot be placed in space would poison every distance.
    if (!std::isfinite(numbers[0]) || !std::isfinite(numbers[1]) || !std::isfinite(numbers[2]))
        return false;
    position = {numbers[0], numbers[1], numbers[2]};
    normal = {numbers[3], numbers[4], numbers[5]};
    return true;
}

bool readPointFile(const std::string& fileName, const PointSink& sink)
{
    // Opened without blocking, so a FIFO nobody writes to reads as empty
    // instead of holding the program in open() for ever.
    const int descriptor = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct stat status;
    // Directories cannot be read as text; devices such as /dev/zero never
    // end. Pipes are fine: their writer ends them.
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode) || S_ISCHR(status.st_mode) ||
        S_ISBLK(status.st_mode) || ::fcntl(descriptor, F_SETFL, 0) != 0) {
        ::close(descriptor);
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(descriptor, "rb"), &std::fclose);
    if (!file) {
        ::close(descriptor);
        return false;
    }

    CGVertex position;
    CGVector normal;
    std::string line;
    auto takeLine = [&] {
        // A carriage return before the line feed is part of the line ending.
        const std::size_t n = line.size();
        if (n >= 2 && line[n - 2] == '\r') {
            line[n - 2] = '\n';
            line.pop_back();
        }
        if (parseLine(line, position, normal))
            sink(position, normal);
        line.clear();
    };

    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        const char* p = buffer;
        const char* end = buffer + got;
        while (p < end) {
            const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            const char* stop = found ? static_cast<const char*>(found) + 1 : end;
            line.append(p, stop);
            p = stop;
            if (found)
                takeLine();
        }
    }
    if (std::ferror(file.get()))
        return false;
    // End of file ends the last line's last token, as a line feed would.
    if (!line.empty()) {
        line.push_back('\n');
        takeLine();
    }
    return true;
}
