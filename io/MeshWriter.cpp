#include "io/MeshWriter.h"

#include "io/FileReplacement.h"
#include "geometry/Progress.h"
#include "geometry/Surface.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum class Format { Ply, Obj, Off, Stl, Unknown };

Format formatOf(const std::string& fileName)
{
    const std::size_t period = fileName.find_last_of('.');
    const std::size_t slash = fileName.find_last_of('/');
    if (period == std::string::npos || (slash != std::string::npos && period < slash))
        return Format::Unknown;
    std::string extension = fileName.substr(period + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "ply")
        return Format::Ply;
    if (extension == "obj")
        return Format::Obj;
    if (extension == "off")
        return Format::Off;
    if (extension == "stl")
        return Format::Stl;
    return Format::Unknown;
}

// Little-endian whatever the host, as the header promises.
void encodeLittleEndian(unsigned char* to, std::uint64_t bits, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        to[i] = static_cast<unsigned char>(bits >> (8 * i));
}

void putLittleEndian(std::FILE* file, std::uint64_t bits, int bytes)
{
    unsigned char buffer[8] = {};
    encodeLittleEndian(buffer, bits, bytes);
    std::fwrite(buffer, 1, static_cast<std::size_t>(bytes), file);
}

void writePly(std::FILE* file, const Surface& result, Progress& progress)
{
    const std::string header = plyHeader(result.positions.size(), result.faces.size());
    std::fwrite(header.data(), 1, header.size(), file);
    unsigned char record[kPlyPointBytes];
    for (std::size_t i = 0; i < result.positions.size(); ++i) {
        encodePlyPoint(record, result.positions[i], result.normals[i]);
        std::fwrite(record, 1, kPlyPointBytes, file);
        progress.advance(1);
    }
    for (const Face& face : result.faces) {
        encodePlyFace(record, face);
        std::fwrite(record, 1, kPlyFaceBytes, file);
        progress.advance(1);
    }
}

void writeObj(std::FILE* file, const Surface& result, Progress& progress)
{
    std::fprintf(file, "# written by tri3d: %zu points, %zu triangles\n", result.positions.size(), result.faces.size());
    for (std::size_t i = 0; i < result.positions.size(); ++i) {
        const CGVertex& p = result.positions[i];
        const CGVector& n = result.normals[i];
        std::fprintf(file, "v %.17g %.17g %.17g\n", p.x, p.y, p.z);
        std::fprintf(file, "vn %.17g %.17g %.17g\n", n.x, n.y, n.z);
        progress.advance(1);
    }
    for (const Face& face : result.faces) {
        // OBJ counts from 1; widened first so the last possible index cannot wrap.
        const std::size_t a = std::size_t{face[0]} + 1, b = std::size_t{face[1]} + 1, c = std::size_t{face[2]} + 1;
        std::fprintf(file, "f %zu//%zu %zu//%zu %zu//%zu\n", a, a, b, b, c, c);
        progress.advance(1);
    }
}

void writeOff(std::FILE* file, const Surface& result, Progress& progress)
{
    std::fprintf(file, "OFF\n%zu %zu 0\n", result.positions.size(), result.faces.size());
    for (const CGVertex& p : result.positions) {
        std::fprintf(file, "%.17g %.17g %.17g\n", p.x, p.y, p.z);
        progress.advance(1);
    }
    for (const Face& face : result.faces) {
        std::fprintf(file, "3 %u %u %u\n", face[0], face[1], face[2]);
        progress.advance(1);
    }
}

void putFloat(std::FILE* file, double value)
{
    const auto narrowed = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &narrowed, sizeof bits);
    putLittleEndian(file, bits, 4);
}

// Binary STL: an 80-byte header that must not begin with "solid" (readers
// take that for the text form), the face count, then per face its unit
// normal, its three corners and a zero attribute word, all as 32-bit floats.
void writeStl(std::FILE* file, const Surface& result, Progress& progress)
{
    char header[80];
    std::memset(header, ' ', sizeof header);
    const char title[] = "binary STL written by tri3d";
    std::memcpy(header, title, sizeof title - 1);
    std::fwrite(header, 1, sizeof header, file);
    putLittleEndian(file, result.faces.size(), 4);
    for (const Face& face : result.faces) {
        const CGVertex& a = result.positions[face[0]];
        const CGVertex& b = result.positions[face[1]];
        const CGVertex& c = result.positions[face[2]];
        const CGVector u = b - a, v = c - a;
        CGVector n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
        const double l = std::sqrt(squaredLength(n));
        // A face of no area has no direction; zero is what readers expect then.
        n = l > 0.0 && std::isfinite(l) ? n * (1.0 / l) : CGVector{};
        putFloat(file, n.x);
        putFloat(file, n.y);
        putFloat(file, n.z);
        for (const CGVertex* p : {&a, &b, &c}) {
            putFloat(file, p->x);
            putFloat(file, p->y);
            putFloat(file, p->z);
        }
        putLittleEndian(file, 0, 2);
        progress.advance(1);
    }
}

}  // namespace

bool writeMesh(const std::string& fileName, const Surface& result, Progress* progress, std::string* why)
{
    const Format format = formatOf(fileName);
    if (format == Format::Unknown)
        return false;
    // PLY indices are 32-bit.
    if (format == Format::Ply && result.positions.size() > 0x7fffffffu)
        return false;
    // The STL face count is 32-bit.
    if (format == Format::Stl && result.faces.size() > 0xffffffffu)
        return false;

    // A failed write must never leave a truncated mesh under the user's name.
    FileReplacement replacement(fileName);
    std::FILE* file = replacement.file();
    if (file == nullptr) {
        if (why != nullptr)
            *why = std::strerror(errno);
        return false;
    }
    // Counted whether or not anyone watches: one store per record is
    // nothing next to formatting it.
    Progress unwatched;
    Progress& counts = progress != nullptr ? *progress : unwatched;
    // STL holds faces alone.
    const std::size_t points = format == Format::Stl ? 0 : result.positions.size();
    counts.begin(Progress::Stage::Writing, points + result.faces.size());
    switch (format) {
    case Format::Ply: writePly(file, result, counts); break;
    case Format::Obj: writeObj(file, result, counts); break;
    case Format::Off: writeOff(file, result, counts); break;
    case Format::Stl: writeStl(file, result, counts); break;
    case Format::Unknown: break;
    }
    errno = 0;
    const bool committed = replacement.commit();
    if (!committed && why != nullptr && errno != 0)
        *why = std::strerror(errno);
    return committed;
}

bool isPlyName(const std::string& fileName)
{
    return formatOf(fileName) == Format::Ply;
}

std::string plyHeader(std::size_t points, std::size_t faces)
{
    char header[400];
    const int length = std::snprintf(header, sizeof header,
                                     "ply\nformat binary_little_endian 1.0\ncomment written by tri3d\n"
                                     "element vertex %zu\n"
                                     "property double x\nproperty double y\nproperty double z\n"
                                     "property double nx\nproperty double ny\nproperty double nz\n"
                                     "element face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                                     points, faces);
    return std::string(header, static_cast<std::size_t>(length));
}

void encodePlyPoint(unsigned char* to, const CGVertex& position, const CGVector& normal)
{
    const double values[6] = {position.x, position.y, position.z, normal.x, normal.y, normal.z};
    for (double value : values) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        encodeLittleEndian(to, bits, 8);
        to += 8;
    }
}

void encodePlyFace(unsigned char* to, const Face& face)
{
    to[0] = 3;
    for (std::size_t k = 0; k < 3; ++k)
        encodeLittleEndian(to + 1 + 4 * k, face[k], 4);
}

std::string meshTargetProblem(const std::string& fileName)
{
    if (formatOf(fileName) == Format::Unknown) {
        const std::size_t period = fileName.find_last_of('.');
        const std::size_t slash = fileName.find_last_of('/');
        const bool none = period == std::string::npos || (slash != std::string::npos && period < slash);
        if (none)
            return "the name has no extension; tri3d writes .ply, .obj, .off and .stl files";
        return "\"" + fileName.substr(period) + "\" is no format tri3d writes; use .ply, .obj, .off or .stl";
    }
    const std::size_t slash = fileName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    struct stat status;
    if (::stat(folder.c_str(), &status) != 0)
        return "the folder \"" + folder + "\" cannot be used: " + std::strerror(errno);
    if (!S_ISDIR(status.st_mode))
        return "the folder \"" + folder + "\" cannot be used: " + std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "the folder \"" + folder + "\" cannot be written to: " + std::strerror(errno);
    if (::stat(fileName.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return std::strerror(EISDIR);
    return {};
}
