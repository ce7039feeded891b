#include "io/PointInput.h"

#include "io/InputFile.h"
#include "io/PlyReader.h"

#include <cstdio>

bool readPoints(const std::string& fileName, const PointSink& sink, bool threeNumbersAllowed, PointReadReport& report)
{
    report = PointReadReport();
    const InputFile file = openInputFile(fileName);
    if (!file)
        return false;
    // Enough bytes to know the first line; on a pipe fread waits for them
    // or for its end.
    char first[5];
    const std::size_t got = std::fread(first, 1, sizeof first, file.get());
    if (std::ferror(file.get()))
        return false;
    const std::string_view head(first, got);
    if (startsLikePly(head))
        return readPlyStream(file.get(), head, sink, report);
    return readPointStream(file.get(), head, sink, threeNumbersAllowed, report);
}
