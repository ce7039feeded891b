#include "io/PointFileReader.h"

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// How far the notation from_chars may take reaches from a token's start
// (stop), and whether all of [start, stop) has that form (plain): an
// optional minus, 1 to 19 digits with at most one point among them, then
// optionally an exponent letter, an optional sign and 1 to 4 digits. Only
// this notation goes to from_chars, as the one both functions are sure to
// read alike: from_chars takes no plus sign, skips no white space and reads
// no hex here, and may treat a NaN's payload its own way. Long digit
// strings and long exponents stay with strtod rather than trusting two
// long-number algorithms to agree.
struct DecimalScan {
    const char* stop;
    bool plain;
};

DecimalScan scanDecimal(const char* p, const char* end)
{
    if (p != end && *p == '-')
        ++p;
    int digits = 0;
    bool point = false;
    for (; p != end; ++p) {
        if (isDigit(*p))
            ++digits;
        else if (*p == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0 || digits > 19)
        return {p, false};
    if (p == end || (*p != 'e' && *p != 'E'))
        return {p, true};
    ++p;
    if (p != end && (*p == '+' || *p == '-'))
        ++p;
    // "1e" and "1e+" read as 1, but from_chars then stops short of the
    // token's end; they need no fast path.
    const char* const exponent = p;
    while (p != end && isDigit(*p))
        ++p;
    return {p, p != exponent && p - exponent <= 4};
}

// from_chars on notation scanDecimal called plain. An overflow or
// underflow is out of range for from_chars, while strtod gives inf or a
// rounded tiny value: false leaves those to strtod. Both round in the
// current mode, and both read '.' as the point as long as the program
// keeps the C locale, which it never changes.
bool readPlainDecimal(const char* first, const char* end, double& value)
{
    const std::from_chars_result result = std::from_chars(first, end, value);
    return result.ec == std::errc() && result.ptr == end;
}

double strtodValue(std::string_view token)
{
    // strtod needs a terminated copy; tokens of real files fit on the stack.
    char small[64];
    if (token.size() < sizeof small) {
        std::memcpy(small, token.data(), token.size());
        small[token.size()] = '\0';
        return std::strtod(small, nullptr);
    }
    const std::string copy(token);
    return std::strtod(copy.c_str(), nullptr);
}

// The tokens of text, converted until six are counted. A token counts only
// when a space or line feed ends it; fedAtEnd says a line feed follows the
// text, as the reader supplies for a last line and for a "\r\n" ending. A
// zero byte ends the text where it stands, like a C string's terminator.
bool parseText(const char* p, const char* end, bool fedAtEnd, CGVertex& position, CGVector& normal)
{
    if (end - p >= 2 && p[0] == '/' && p[1] == '/')
        return false;

    double numbers[6];
    int count = 0;
    while (count < 6) {
        while (p != end && (*p == ' ' || *p == '\n'))
            ++p;
        if (p == end || *p == '\0')
            break;
        const char* const token = p;
        // One pass both finds the token's end and tells whether the fast
        // conversion may take it.
        const DecimalScan scan = scanDecimal(p, end);
        p = scan.stop;
        bool plain = scan.plain;
        if (p != end && *p != ' ' && *p != '\n' && *p != '\0') {
            plain = false;
            while (p != end && *p != ' ' && *p != '\n' && *p != '\0')
                ++p;
        }
        if (p == end ? !fedAtEnd : *p == '\0')
            break;
        double& number = numbers[count++];
        if (!plain || !readPlainDecimal(token, p, number))
            number = strtodValue(std::string_view(token, static_cast<std::size_t>(p - token)));
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

}  // namespace

bool fastTokenValue(std::string_view token, double& value)
{
    const char* const first = token.data();
    const char* const end = first + token.size();
    const DecimalScan scan = scanDecimal(first, end);
    return scan.plain && scan.stop == end && readPlainDecimal(first, end, value);
}

double tokenValue(std::string_view token)
{
    double value;
    if (fastTokenValue(token, value))
        return value;
    return strtodValue(token);
}

bool parseLine(std::string_view line, CGVertex& position, CGVector& normal)
{
    return parseText(line.data(), line.data() + line.size(), false, position, normal);
}

bool readPointFile(const std::string& fileName, const PointSink& sink, Progress* progress)
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

    if (progress != nullptr)
        progress->begin(Progress::Stage::Reading, S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0);

    CGVertex position;
    CGVector normal;
    // A line's text without its line feed, which parseText supplies. A
    // carriage return before the line feed is part of the line ending.
    auto takeLine = [&](const char* begin, const char* end) {
        if (end != begin && end[-1] == '\r')
            --end;
        if (parseText(begin, end, true, position, normal))
            sink(position, normal);
    };

    // Lines are parsed where they lie in the buffer; only a line cut by the
    // end of a read is gathered here, in a string kept for the whole file.
    std::string pending;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (progress != nullptr)
            progress->advance(got);
        const char* p = buffer;
        const char* const end = buffer + got;
        while (p != end) {
            const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (found == nullptr) {
                pending.append(p, end);
                break;
            }
            const char* const feed = static_cast<const char*>(found);
            if (pending.empty()) {
                takeLine(p, feed);
            } else {
                pending.append(p, feed);
                takeLine(pending.data(), pending.data() + pending.size());
                pending.clear();
            }
            p = feed + 1;
        }
    }
    if (std::ferror(file.get()))
        return false;
    // End of file ends the last line's last token, as a line feed would.
    if (!pending.empty())
        takeLine(pending.data(), pending.data() + pending.size());
    return true;
}
