#include "fuzz/PcdCheck.h"

#include "fuzz/PointReading.h"
#include "io/PcdReader.h"

#include <string>

std::string checkPcdInput(const std::uint8_t* data, std::size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!startsLikePcd(bytes))
        bytes.insert(0, "# .PCD v0.7\n");

    const PointReading reading = readPointsInMemory(bytes);
    if (!reading.stored)
        return reading.report.problem;
    if (reading.report.layout != PointLayout::pcd)
        return "a file starting like PCD was not read as PCD";
    std::string fault = findOutcomeFault(reading, "PCD");
    if (!fault.empty() || !reading.ok)
        return fault;
    // No point takes less than one byte in any kind of data but
    // binary_compressed, whose data unpacks at most 88-fold.
    if (reading.positions.size() + reading.report.notFinite.count > 88 * bytes.size())
        return "more points than the file could hold";
    return findPointFault(reading);
}
