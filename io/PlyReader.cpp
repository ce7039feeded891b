#include "io/PlyReader.h"

#include "io/ByteSource.h"
#include "io/HeaderWords.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

enum class Scalar { int8, uint8, int16, uint16, int32, uint32, float32, float64 };

bool scalarNamed(std::string_view name, Scalar& type)
{
    static const struct {
        const char* name;
        Scalar type;
    } kNames[] = {
        {"char", Scalar::int8},       {"int8", Scalar::int8},       {"uchar", Scalar::uint8},
        {"uint8", Scalar::uint8},     {"short", Scalar::int16},     {"int16", Scalar::int16},
        {"ushort", Scalar::uint16},   {"uint16", Scalar::uint16},   {"int", Scalar::int32},
        {"int32", Scalar::int32},     {"uint", Scalar::uint32},     {"uint32", Scalar::uint32},
        {"float", Scalar::float32},   {"float32", Scalar::float32}, {"double", Scalar::float64},
        {"float64", Scalar::float64},
    };
    for (const auto& entry : kNames) {
        if (name == entry.name) {
            type = entry.type;
            return true;
        }
    }
    return false;
}

std::size_t sizeOf(Scalar type)
{
    switch (type) {
    case Scalar::int8:
    case Scalar::uint8: return 1;
    case Scalar::int16:
    case Scalar::uint16: return 2;
    case Scalar::int32:
    case Scalar::uint32:
    case Scalar::float32: return 4;
    case Scalar::float64: return 8;
    }
    return 0;
}

bool isInteger(Scalar type)
{
    return type != Scalar::float32 && type != Scalar::float64;
}

// The value of one binary scalar, exactly: every type here fits a double.
double decode(const unsigned char* bytes, Scalar type, bool bigEndian)
{
    unsigned char b[8] = {};
    const std::size_t n = sizeOf(type);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = bigEndian ? bytes[n - 1 - i] : bytes[i];
    std::uint64_t bits = 0;
    for (std::size_t i = n; i-- > 0;)
        bits = bits << 8 | b[i];
    switch (type) {
    case Scalar::int8: return static_cast<std::int8_t>(bits);
    case Scalar::uint8: return static_cast<std::uint8_t>(bits);
    case Scalar::int16: return static_cast<std::int16_t>(bits);
    case Scalar::uint16: return static_cast<std::uint16_t>(bits);
    case Scalar::int32: return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    case Scalar::uint32: return static_cast<std::uint32_t>(bits);
    case Scalar::float32: {
        const std::uint32_t word = static_cast<std::uint32_t>(bits);
        float value;
        std::memcpy(&value, &word, sizeof value);
        return value;
    }
    case Scalar::float64: {
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    }
    return 0.0;
}

struct Property {
    std::string name;
    Scalar type = Scalar::float32;  // the items' type, for a list
    bool list = false;
    Scalar countType = Scalar::uint8;
};

struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Format { none, ascii, littleEndian, bigEndian };

// The six values a vertex gives, by property place; -1 where absent.
struct VertexRoles {
    int place[6] = {-1, -1, -1, -1, -1, -1};  // x y z nx ny nz
};

std::string quoted(std::string_view text)
{
    // Bytes of a broken file may be anything; the console gets a short,
    // printable excerpt.
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < 40; ++i)
        out += (text[i] >= 0x20 && text[i] < 0x7f) ? text[i] : '?';
    if (text.size() > 40)
        out += "...";
    return out + "\"";
}

class PlyReader {
public:
    PlyReader(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, PointReadReport& report,
              Progress* progress)
        : source_(file, alreadyRead, progress), sink_(sink), report_(report)
    {
    }

    bool read()
    {
        report_.layout = PointLayout::ply;
        if (!readHeader() || !findRoles())
            return false;
        for (const Element& element : elements_) {
            const bool vertex = &element == vertex_;
            if (!(format_ == Format::ascii ? readAsciiElement(element, vertex) : readBinaryElement(element, vertex)))
                return false;
        }
        return true;
    }

    // The share of the vertex rows, when the file allows it: see
    // readPlyShare.
    bool readShare(std::uint64_t share, std::uint64_t shares, std::uint64_t fileSize, bool& split,
                   std::uint64_t& firstRow)
    {
        split = false;
        report_.layout = PointLayout::ply;
        if (!readHeader() || !findRoles())
            return false;
        if (format_ == Format::ascii || elements_.size() != 1 || !report_.hasNormals)
            return true;
        std::uint64_t rowSize = 0;
        for (const Property& property : vertex_->properties) {
            if (property.list)
                return true;
            rowSize += sizeOf(property.type);
        }
        const std::uint64_t start = source_.offset();
        const std::uint64_t count = vertex_->count;
        // A short file is read whole, which names where it ends.
        if (rowSize == 0 || count > (fileSize - std::min(fileSize, start)) / rowSize)
            return true;
        split = true;
        firstRow = shareStart(count, share, shares);
        const std::uint64_t endRow = shareStart(count, share + 1, shares);
        if (!source_.seek(start + firstRow * rowSize))
            return fail("");
        return readBinaryRows(*vertex_, true, firstRow, endRow);
    }

private:
    // The first row of share of count rows cut in shares equal runs.
    static std::uint64_t shareStart(std::uint64_t count, std::uint64_t share, std::uint64_t shares)
    {
        return count / shares * share + count % shares * share / shares;
    }

    bool fail(const std::string& why)
    {
        // A read error is no fault of the file's; the caller names it.
        report_.problem = source_.failed() ? std::string() : why;
        return false;
    }

    bool readHeader()
    {
        std::string text;
        source_.line(text);  // "ply", seen by the caller
        std::uint64_t lineNumber = 1;
        bool vertexSeen = false;
        while (source_.line(text)) {
            ++lineNumber;
            const std::vector<std::string_view> w = splitWords(text);
            const std::string where = "PLY header line " + std::to_string(lineNumber) + ": ";
            if (w.empty())
                return fail(where + "empty line");
            if (w[0] == "end_header") {
                line_ = lineNumber;
                if (format_ == Format::none)
                    return fail("the PLY header has no format line");
                return true;
            }
            if (w[0] == "comment" || w[0] == "obj_info")
                continue;
            if (w[0] == "format") {
                if (format_ != Format::none)
                    return fail(where + "a second format line");
                if (w.size() != 3)
                    return fail(where + "a format line is \"format <kind> 1.0\"");
                if (w[1] == "ascii")
                    format_ = Format::ascii;
                else if (w[1] == "binary_little_endian")
                    format_ = Format::littleEndian;
                else if (w[1] == "binary_big_endian")
                    format_ = Format::bigEndian;
                else
                    return fail(where + "unknown format " + quoted(w[1]));
                double version;
                if (!wholeTokenValue(w[2], version) || version != 1.0)
                    return fail(where + "unknown version " + quoted(w[2]) + ", only 1.0 is read");
                continue;
            }
            if (w[0] == "element") {
                if (w.size() != 3)
                    return fail(where + "an element line is \"element <name> <count>\"");
                Element element;
                element.name = std::string(w[1]);
                if (!readCount(w[2], element.count))
                    return fail(where + "the count " + quoted(w[2]) + " is not a whole number of zero or more");
                if (element.name == "vertex" && vertexSeen)
                    return fail(where + "a second vertex element");
                vertexSeen = vertexSeen || element.name == "vertex";
                elements_.push_back(element);
                continue;
            }
            if (w[0] == "property") {
                if (elements_.empty())
                    return fail(where + "a property before any element");
                Property property;
                std::size_t next = 1;
                if (w.size() >= 2 && w[1] == "list") {
                    property.list = true;
                    if (w.size() != 5)
                        return fail(where + "a list is \"property list <count type> <item type> <name>\"");
                    if (!scalarNamed(w[2], property.countType))
                        return fail(where + "unknown property type " + quoted(w[2]));
                    if (!isInteger(property.countType))
                        return fail(where + "a list's count type must be an integer type");
                    next = 3;
                } else if (w.size() != 3) {
                    return fail(where + "a property is \"property <type> <name>\"");
                }
                if (!scalarNamed(w[next], property.type))
                    return fail(where + "unknown property type " + quoted(w[next]));
                property.name = std::string(w[next + 1]);
                elements_.back().properties.push_back(property);
                continue;
            }
            return fail(where + "unknown keyword " + quoted(w[0]));
        }
        return fail("the PLY header has no end_header line");
    }

    // The list of elements no longer grows, so the vertex element can be
    // told by its address from here on.
    bool findRoles()
    {
        vertex_ = nullptr;
        for (const Element& element : elements_)
            if (element.name == "vertex")
                vertex_ = &element;
        if (vertex_ == nullptr)
            return fail("the PLY file has no vertex element");
        static const char* const kRoles[6] = {"x", "y", "z", "nx", "ny", "nz"};
        for (int place = 0; place < static_cast<int>(vertex_->properties.size()); ++place) {
            const Property& property = vertex_->properties[static_cast<std::size_t>(place)];
            for (int role = 0; role < 6; ++role) {
                if (property.name != kRoles[role])
                    continue;
                if (roles_.place[role] >= 0)
                    return fail("the vertex element has two properties named " + property.name);
                if (property.list)
                    return fail("the vertex property " + property.name + " is a list, not a number");
                roles_.place[role] = place;
            }
        }
        for (int role = 0; role < 3; ++role)
            if (roles_.place[role] < 0)
                return fail(std::string("the vertex element has no ") + kRoles[role]);
        const int normals = (roles_.place[3] >= 0) + (roles_.place[4] >= 0) + (roles_.place[5] >= 0);
        if (normals != 0 && normals != 3)
            return fail("the vertex element has some of nx, ny, nz but not all three");
        report_.hasNormals = normals == 3;
        return true;
    }

    void takeVertex(const double values[6], std::uint64_t index)
    {
        const CGVertex position = {values[0], values[1], values[2]};
        if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(position.z)) {
            report_.notFinite.add(index);
            return;
        }
        sink_(position, report_.hasNormals ? CGVector{values[3], values[4], values[5]} : CGVector{});
    }

    std::string cutShort(const Element& element, std::uint64_t row)
    {
        return "the file ends after " + std::to_string(row) + " of " + std::to_string(element.count) + " " +
               element.name + " rows";
    }

    bool readBinaryElement(const Element& element, bool vertex)
    {
        bool lists = false;
        std::uint64_t rowSize = 0;
        for (const Property& property : element.properties) {
            lists = lists || property.list;
            rowSize += sizeOf(property.type);
        }
        if (!lists && !vertex) {
            if (rowSize != 0 && element.count > std::numeric_limits<std::uint64_t>::max() / rowSize)
                return fail(cutShort(element, 0));
            if (!source_.skip(element.count * rowSize))
                return fail("the file ends inside the " + element.name + " rows");
            return true;
        }
        return readBinaryRows(element, vertex, 0, element.count);
    }

    // Rows from to end of element, from where the source stands.
    bool readBinaryRows(const Element& element, bool vertex, std::uint64_t from, std::uint64_t end)
    {
        const bool big = format_ == Format::bigEndian;
        unsigned char bytes[8];
        double values[6] = {0, 0, 0, 0, 0, 0};
        for (std::uint64_t row = from; row < end; ++row) {
            for (std::size_t place = 0; place < element.properties.size(); ++place) {
                const Property& property = element.properties[place];
                if (property.list) {
                    if (!source_.read(bytes, sizeOf(property.countType)))
                        return fail(cutShort(element, row));
                    const double count = decode(bytes, property.countType, big);
                    if (count < 0)
                        return fail(element.name + " " + std::to_string(row) + " has a list of negative length");
                    if (!source_.skip(static_cast<std::uint64_t>(count) * sizeOf(property.type)))
                        return fail("a list in " + element.name + " " + std::to_string(row) +
                                    " runs past the end of the file");
                    continue;
                }
                if (!source_.read(bytes, sizeOf(property.type)))
                    return fail(cutShort(element, row));
                if (vertex)
                    for (int role = 0; role < 6; ++role)
                        if (roles_.place[role] == static_cast<int>(place))
                            values[role] = decode(bytes, property.type, big);
            }
            if (vertex)
                takeVertex(values, row);
        }
        return true;
    }

    bool readAsciiElement(const Element& element, bool vertex)
    {
        if (element.properties.empty())
            return true;
        std::string text;
        double values[6] = {0, 0, 0, 0, 0, 0};
        for (std::uint64_t row = 0; row < element.count; ++row) {
            std::vector<std::string_view> w;
            do {
                if (!source_.line(text))
                    return fail(cutShort(element, row));
                ++line_;
                w = splitWords(text);
            } while (w.empty());
            const std::string where =
                "line " + std::to_string(line_) + " (" + element.name + " " + std::to_string(row) + "): ";
            std::size_t next = 0;
            for (std::size_t place = 0; place < element.properties.size(); ++place) {
                const Property& property = element.properties[place];
                if (next == w.size())
                    return fail(where + "fewer values than the element's properties");
                if (property.list) {
                    std::uint64_t count;
                    if (!readCount(w[next], count))
                        return fail(where + "the list length " + quoted(w[next]) + " is not a count");
                    ++next;
                    if (count > w.size() - next)
                        return fail(where + "a list runs past the end of its line");
                    next += static_cast<std::size_t>(count);
                    continue;
                }
                const std::string_view token = w[next++];
                if (!vertex)
                    continue;
                for (int role = 0; role < 6; ++role) {
                    if (roles_.place[role] != static_cast<int>(place))
                        continue;
                    if (!wholeTokenValue(token, values[role]))
                        return fail(where + quoted(token) + " is not a number");
                }
            }
            if (next != w.size())
                return fail(where + "more values than the element's properties");
            if (vertex)
                takeVertex(values, row);
        }
        return true;
    }

    ByteSource source_;
    const PointSink& sink_;
    PointReadReport& report_;
    Format format_ = Format::none;
    std::vector<Element> elements_;
    const Element* vertex_ = nullptr;
    VertexRoles roles_;
    std::uint64_t line_ = 0;
};

}  // namespace

bool startsLikePly(std::string_view text)
{
    return text.substr(0, 4) == "ply\n" || text.substr(0, 5) == "ply\r\n";
}

bool readPlyStream(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, PointReadReport& report,
                   Progress* progress)
{
    PlyReader reader(file, alreadyRead, sink, report, progress);
    return reader.read();
}

bool readPlyShare(const std::string& fileName, std::uint64_t share, std::uint64_t shares, const PointSink& sink,
                  PointReadReport& report, bool& split, std::uint64_t& firstRow)
{
    split = false;
    firstRow = 0;
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (file == nullptr) {
        report.problem = std::string("cannot open \"") + fileName + "\": " + std::strerror(errno);
        return false;
    }
    bool ok = ::fseeko(file, 0, SEEK_END) == 0;
    const off_t size = ok ? ::ftello(file) : -1;
    ok = ok && size >= 0 && ::fseeko(file, 0, SEEK_SET) == 0;
    if (ok) {
        PlyReader reader(file, {}, sink, report, nullptr);
        ok = reader.readShare(share, shares, static_cast<std::uint64_t>(size), split, firstRow);
    }
    if (!ok && report.problem.empty())
        report.problem = "cannot read \"" + fileName + "\" to its end";
    std::fclose(file);
    return ok;
}
