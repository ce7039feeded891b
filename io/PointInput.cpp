#include "io/PointInput.h"

#include "io/GzipInput.h"
#include "io/InputFile.h"
#include "io/PcdReader.h"
#include "io/PlyReader.h"
#include "io/PointFileReader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Enough of a file to tell its layout, and to judge whether it is text.
constexpr std::size_t kHeadBytes = 1024;

// Reads up to kHeadBytes; on a pipe fread waits for them or for its end.
std::size_t readHead(std::FILE* file, char (&head)[kHeadBytes])
{
    return std::fread(head, 1, sizeof head, file);
}

// The length of the UTF-8 sequence that starts text, 0 when none does.
std::size_t utf8Length(const unsigned char* text, std::size_t size)
{
    const unsigned char lead = text[0];
    const std::size_t length = lead >= 0xf0 && lead <= 0xf4  ? 4
                               : lead >= 0xe0                ? 3
                               : lead >= 0xc2 && lead < 0xe0 ? 2
                                                             : 0;
    if (length == 0 || length > size)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((text[i] & 0xc0) != 0x80)
            return 0;
    return length;
}

// True when more than three in ten of the head's bytes are neither
// printable, white space nor part of a UTF-8 character: no text file.
bool mostlyNotText(std::string_view head)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
    std::size_t odd = 0;
    for (std::size_t i = 0; i < head.size();) {
        const unsigned char c = bytes[i];
        if (c >= 0x80) {
            const std::size_t length = utf8Length(bytes + i, head.size() - i);
            // A character cut by the head's end is given the benefit.
            if (length == 0 && head.size() - i >= 4)
                ++odd;
            i += length == 0 ? 1 : length;
            continue;
        }
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') || c == 0x7f)
            ++odd;
        ++i;
    }
    return odd * 10 > head.size() * 3;
}

bool readLayout(std::FILE* file, std::string_view head, const PointSink& sink, bool lenient, PointReadReport& report,
                Progress* bytes, std::size_t splitBytes)
{
    if (startsLikePly(head))
        return readPlyStream(file, head, sink, report, bytes);
    if (startsLikePcd(head))
        return readPcdStream(file, head, sink, report, bytes);
    if (lenient && mostlyNotText(head)) {
        report.problem = "the file's first kilobyte is mostly bytes that are not text, so it is no text file; "
                         "tri3d reads text, PLY and PCD point files, gzip-compressed or not";
        return false;
    }
    return readPointStream(file, head, sink, lenient, report, bytes, splitBytes);
}

}  // namespace

bool readPoints(const std::string& fileName, const PointSink& sink, bool threeNumbersAllowed, PointReadReport& report,
                Progress* progress, unsigned threads)
{
    report = PointReadReport();
    // One thread never splits a block.
    const std::size_t splitBytes = threads == 1 ? std::numeric_limits<std::size_t>::max() : kPointFileSplitBytes;
    const InputFile file = openInputFile(fileName, &report.problem);
    if (!file)
        return false;
    struct stat status;
    const bool sized = ::fstat(::fileno(file.get()), &status) == 0 && S_ISREG(status.st_mode);
    Progress unwatched;
    Progress& bytes = progress != nullptr ? *progress : unwatched;
    bytes.begin(Progress::Stage::Reading, sized ? static_cast<std::uint64_t>(status.st_size) : 0);
    char first[kHeadBytes];
    const std::size_t got = readHead(file.get(), first);
    if (std::ferror(file.get())) {
        report.problem = std::string("the file could not be read: ") + std::strerror(errno);
        return false;
    }
    bytes.advance(got);
    const std::string_view head(first, got);
    bool ok = false;
    if (startsLikeGzip(head)) {
        // The compressed bytes count for progress, against the file's size.
        GzipInput gzip(file.get(), head, &bytes);
        std::FILE* inner = gzip.file();
        if (inner == nullptr) {
            report.problem = gzip.problem().empty() ? "the gzip stream could not be opened" : gzip.problem();
            return false;
        }
        char innerFirst[kHeadBytes];
        const std::size_t innerGot = std::ferror(inner) ? 0 : readHead(inner, innerFirst);
        ok = !std::ferror(inner) && readLayout(inner, std::string_view(innerFirst, innerGot), sink, threeNumbersAllowed,
                                               report, nullptr, splitBytes);
        if (!ok && report.problem.empty())
            report.problem = gzip.problem();
    } else {
        ok = readLayout(file.get(), head, sink, threeNumbersAllowed, report, &bytes, splitBytes);
    }
    if (!ok && report.problem.empty() && std::ferror(file.get()))
        report.problem = std::string("the file could not be read: ") + std::strerror(errno);
    return ok;
}
