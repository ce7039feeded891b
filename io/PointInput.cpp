#include "io/PointInput.h"

#include "io/InputFile.h"
#include "io/PlyReader.h"

#include <sys/stat.h>

#include <cstdio>

bool readPoints(const std::string& fileName, const PointSink& sink, bool threeNumbersAllowed, PointReadReport& report,
                Progress* progress)
{
    report = PointReadReport();
    const InputFile file = openInputFile(fileName);
    if (!file)
        return false;
    struct stat status;
    const bool sized = ::fstat(::fileno(file.get()), &status) == 0 && S_ISREG(status.st_mode);
    Progress unwatched;
    Progress& bytes = progress != nullptr ? *progress : unwatched;
    bytes.begin(Progress::Stage::Reading, sized ? static_cast<std::uint64_t>(status.st_size) : 0);
    // Enough bytes to know the first line; on a pipe fread waits for them
    // or for its end.
    char first[5];
    const std::size_t got = std::fread(first, 1, sizeof first, file.get());
    if (std::ferror(file.get()))
        return false;
    bytes.advance(got);
    const std::string_view head(first, got);
    if (startsLikePly(head))
        return readPlyStream(file.get(), head, sink, report, &bytes);
    return readPointStream(file.get(), head, sink, threeNumbersAllowed, report, &bytes);
}
