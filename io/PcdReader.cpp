#include "io/PcdReader.h"

#include "io/ByteSource.h"
#include "io/HeaderWords.h"

#include <lzf.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// A point wider than this is refused rather than buffered: no scanner
// writes one, and the row buffer must stay small.
constexpr std::uint64_t kWidestPoint = std::uint64_t{1} << 20;

// One LZF back-reference of three bytes stands for at most 264 bytes, so
// no honest stream grows more than 88-fold; a size beyond that is a lie
// the reader must not allocate for.
constexpr std::uint64_t kMostLzfGrowth = 88;

struct Field {
    std::string name;
    unsigned size = 4;
    char type = 'F';
    std::uint64_t count = 1;
    std::uint64_t offset = 0;  // from the start of a point's bytes
};

enum class Data { ascii, binary, compressed };

// At most 20 digits, leading zeros included: the PCD reader has always
// refused longer counts, though the PLY reader takes them.
bool readPcdCount(std::string_view text, std::uint64_t& count)
{
    return text.size() <= 20 && readCount(text, count);
}

// The value of one little-endian field item, exactly where a double can
// hold it (all but 64-bit integers beyond 2^53, which round).
double decode(const unsigned char* bytes, const Field& field)
{
    std::uint64_t bits = 0;
    for (unsigned i = field.size; i-- > 0;)
        bits = bits << 8 | bytes[i];
    if (field.type == 'F') {
        if (field.size == 4) {
            const std::uint32_t word = static_cast<std::uint32_t>(bits);
            float value;
            std::memcpy(&value, &word, sizeof value);
            return value;
        }
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    if (field.type == 'U')
        return static_cast<double>(bits);
    switch (field.size) {
    case 1: return static_cast<std::int8_t>(bits);
    case 2: return static_cast<std::int16_t>(bits);
    case 4: return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    default: return static_cast<double>(static_cast<std::int64_t>(bits));
    }
}

class PcdParser {
public:
    PcdParser(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, PointReadReport& report,
              Progress* progress)
        : source_(file, alreadyRead, progress), sink_(sink), report_(report)
    {
    }

    bool read()
    {
        report_.layout = PointLayout::pcd;
        if (!readHeader())
            return false;
        switch (data_) {
        case Data::ascii: return readAscii();
        case Data::binary: return readBinary();
        case Data::compressed: return readCompressed();
        }
        return false;
    }

private:
    bool fail(const std::string& why)
    {
        // A read error says nothing about the file's form.
        report_.problem = source_.failed() ? std::string() : why;
        return false;
    }

    bool readHeader()
    {
        std::string text;
        bool sized = false, typed = false, wide = false, high = false, numbered = false;
        std::uint64_t width = 0, height = 0;
        for (;;) {
            if (!source_.line(text))
                return fail("the PCD file ends before its DATA line");
            const std::vector<std::string_view> w = splitWords(text);
            if (w.empty() || w[0][0] == '#')
                continue;
            const std::string_view key = w[0];
            const std::size_t n = w.size() - 1;
            if (key == "VERSION" || key == "VIEWPOINT")
                continue;
            if (key == "FIELDS") {
                if (!fields_.empty() || n == 0)
                    return fail("the PCD header's FIELDS line is empty or repeated");
                for (std::size_t i = 1; i <= n; ++i)
                    fields_.push_back(Field{std::string(w[i])});
                continue;
            }
            if (key == "SIZE" || key == "TYPE" || key == "COUNT") {
                if (fields_.empty() || n != fields_.size())
                    return fail("the PCD header's " + std::string(key) + " line gives " + std::to_string(n) +
                                " entries for " + std::to_string(fields_.size()) + " fields");
                for (std::size_t i = 0; i < n; ++i) {
                    const std::string_view v = w[i + 1];
                    Field& field = fields_[i];
                    std::uint64_t number = 0;
                    if (key == "TYPE") {
                        if (v.size() != 1 || (v[0] != 'F' && v[0] != 'I' && v[0] != 'U'))
                            return fail("the PCD field " + field.name + " has the unknown type " + std::string(v));
                        field.type = v[0];
                    } else if (!readPcdCount(v, number) || number == 0) {
                        return fail("the PCD header's " + std::string(key) + " line holds \"" + std::string(v) +
                                    "\", which is no count");
                    } else if (key == "SIZE") {
                        if (number != 1 && number != 2 && number != 4 && number != 8)
                            return fail("the PCD field " + field.name + " has the unknown size " + std::string(v));
                        field.size = static_cast<unsigned>(number);
                    } else {
                        field.count = number;
                    }
                }
                // COUNT may be left out: one item per field.
                sized = sized || key == "SIZE";
                typed = typed || key == "TYPE";
                continue;
            }
            if (key == "WIDTH" || key == "HEIGHT" || key == "POINTS") {
                std::uint64_t number = 0;
                if (n != 1 || !readPcdCount(w[1], number))
                    return fail("the PCD header's " + std::string(key) + " line is no count");
                if (key == "WIDTH") {
                    width = number;
                    wide = true;
                } else if (key == "HEIGHT") {
                    height = number;
                    high = true;
                } else {
                    points_ = number;
                    numbered = true;
                }
                continue;
            }
            if (key == "DATA") {
                if (n == 1 && w[1] == "ascii")
                    data_ = Data::ascii;
                else if (n == 1 && w[1] == "binary")
                    data_ = Data::binary;
                else if (n == 1 && w[1] == "binary_compressed")
                    data_ = Data::compressed;
                else
                    return fail("the PCD DATA kind \"" + (n >= 1 ? std::string(w[1]) : std::string()) +
                                "\" is none of ascii, binary, binary_compressed");
                break;
            }
            return fail("the PCD header holds the unknown line \"" + text.substr(0, 80) + '"');
        }
        if (fields_.empty())
            return fail("the PCD header has no FIELDS line");
        if (!sized || !typed)
            return fail("the PCD header lacks its SIZE or TYPE line");
        for (const Field& field : fields_)
            if (field.type == 'F' && field.size != 4 && field.size != 8)
                return fail("the PCD field " + field.name + " has the unknown type F" + std::to_string(field.size));
        if (wide) {
            const std::uint64_t rows = high ? height : 1;
            if (width != 0 && rows > std::numeric_limits<std::uint64_t>::max() / width)
                return fail("the PCD header's WIDTH and HEIGHT are too large");
            if (numbered && width * rows != points_)
                return fail("the PCD header's WIDTH x HEIGHT (" + std::to_string(width) + " x " + std::to_string(rows) +
                            ") disagrees with its POINTS (" + std::to_string(points_) + ")");
            points_ = width * rows;
        } else if (!numbered) {
            return fail("the PCD header gives neither WIDTH nor POINTS");
        }
        for (Field& field : fields_) {
            field.offset = pointSize_;
            if (field.count > kWidestPoint || field.size * field.count > kWidestPoint - pointSize_)
                return fail("the PCD points are wider than 1 MiB each");
            pointSize_ += field.size * field.count;
        }
        // The first field of each name counts; one with COUNT above 1 is
        // no single value and stays unread.
        auto find = [this](const char* name) {
            for (std::size_t i = 0; i < fields_.size(); ++i)
                if (fields_[i].name == name)
                    return fields_[i].count == 1 ? static_cast<int>(i) : -1;
            return -1;
        };
        const char* names[6] = {"x", "y", "z", "normal_x", "normal_y", "normal_z"};
        for (int i = 0; i < 6; ++i)
            roles_[i] = find(names[i]);
        if (roles_[0] < 0 || roles_[1] < 0 || roles_[2] < 0)
            return fail("the PCD file has no x, y and z fields");
        report_.hasNormals = roles_[3] >= 0 && roles_[4] >= 0 && roles_[5] >= 0;
        return true;
    }

    void take(const double (&values)[6], std::uint64_t index)
    {
        if (!std::isfinite(values[0]) || !std::isfinite(values[1]) || !std::isfinite(values[2])) {
            // An organised cloud marks the pixels without a point this way.
            report_.notFinite.add(index);
            return;
        }
        const CGVector normal = report_.hasNormals ? CGVector{values[3], values[4], values[5]} : CGVector{};
        sink_({values[0], values[1], values[2]}, normal);
    }

    std::string endsAfter(std::uint64_t index) const
    {
        return "the PCD file ends after " + std::to_string(index) + " of " + std::to_string(points_) + " points";
    }

    bool readAscii()
    {
        // Token places of the six values on a line.
        std::uint64_t tokens = 0;
        std::uint64_t places[6];
        for (std::size_t f = 0; f < fields_.size(); ++f) {
            for (int r = 0; r < 6; ++r)
                if (roles_[r] == static_cast<int>(f))
                    places[r] = tokens;
            tokens += fields_[f].count;
        }
        std::string text;
        std::uint64_t index = 0;
        while (source_.line(text)) {
            const std::vector<std::string_view> w = splitWords(text);
            if (w.empty())
                continue;
            if (index == points_)
                return fail("the PCD file holds more than the " + std::to_string(points_) + " points it declares");
            if (w.size() != tokens)
                return fail("PCD point " + std::to_string(index) + " has " + std::to_string(w.size()) +
                            " values where the header gives " + std::to_string(tokens));
            double values[6] = {};
            for (int r = 0; r < 6; ++r) {
                if (roles_[r] < 0)
                    continue;
                const std::string_view token = w[places[r]];
                if (!wholeTokenValue(token, values[r]))
                    return fail("PCD point " + std::to_string(index) + " holds \"" + std::string(token.substr(0, 40)) +
                                "\", which is no number");
            }
            take(values, index++);
        }
        if (source_.failed())
            return fail("");
        if (index != points_)
            return fail(endsAfter(index));
        return true;
    }

    bool readBinary()
    {
        std::vector<unsigned char> row(static_cast<std::size_t>(pointSize_));
        for (std::uint64_t index = 0; index < points_; ++index) {
            if (!source_.read(row.data(), row.size()))
                return fail(endsAfter(index));
            double values[6] = {};
            for (int r = 0; r < 6; ++r)
                if (roles_[r] >= 0)
                    values[r] = decode(row.data() + fields_[roles_[r]].offset, fields_[roles_[r]]);
            take(values, index);
        }
        return true;
    }

    bool readCompressed()
    {
        unsigned char sizes[8];
        if (!source_.read(sizes, sizeof sizes))
            return fail("the PCD file ends before its compressed data");
        const std::uint64_t packed = sizes[0] | sizes[1] << 8 | sizes[2] << 16 | std::uint64_t{sizes[3]} << 24;
        const std::uint64_t unpacked = sizes[4] | sizes[5] << 8 | sizes[6] << 16 | std::uint64_t{sizes[7]} << 24;
        if (points_ > 0 && pointSize_ > std::numeric_limits<std::uint32_t>::max() / points_)
            return fail("the PCD file declares more points than compressed data can hold");
        if (unpacked != points_ * pointSize_)
            return fail("the PCD compressed data unpacks to " + std::to_string(unpacked) + " bytes, but " +
                        std::to_string(points_) + " points take " + std::to_string(points_ * pointSize_));
        if (unpacked > packed * kMostLzfGrowth)
            return fail("the PCD compressed data (" + std::to_string(packed) + " bytes) cannot unpack to " +
                        std::to_string(unpacked) + " bytes");
        if (points_ == 0)
            return true;
        // Taken a piece at a time, so a size beyond the file's end costs no
        // more memory than the bytes that are really there.
        std::vector<unsigned char> in;
        while (in.size() < packed) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(packed - in.size(), 1 << 20));
            const std::size_t at = in.size();
            in.resize(at + piece);
            if (!source_.read(in.data() + at, piece))
                return fail("the PCD compressed data is cut short: the file ends within its " + std::to_string(packed) +
                            " bytes");
        }
        std::vector<unsigned char> out(static_cast<std::size_t>(unpacked));
        errno = 0;
        const unsigned got =
            lzf_decompress(in.data(), static_cast<unsigned>(packed), out.data(), static_cast<unsigned>(unpacked));
        if (got != unpacked)
            return fail(got == 0 && errno == EINVAL
                            ? "the PCD compressed data is corrupt"
                            : "the PCD compressed data does not unpack to " + std::to_string(unpacked) + " bytes");
        in.clear();
        in.shrink_to_fit();
        // Unpacked, each field's values lie together, field after field.
        for (std::uint64_t index = 0; index < points_; ++index) {
            double values[6] = {};
            for (int r = 0; r < 6; ++r) {
                if (roles_[r] < 0)
                    continue;
                const Field& field = fields_[roles_[r]];
                values[r] = decode(out.data() + points_ * field.offset + index * field.size, field);
            }
            take(values, index);
        }
        return true;
    }

    ByteSource source_;
    const PointSink& sink_;
    PointReadReport& report_;
    std::vector<Field> fields_;
    int roles_[6] = {-1, -1, -1, -1, -1, -1};  // field of x y z nx ny nz
    std::uint64_t points_ = 0;
    std::uint64_t pointSize_ = 0;
    Data data_ = Data::ascii;
};

}  // namespace

bool startsLikePcd(std::string_view text)
{
    for (std::string_view start : {"# .PCD", "VERSION", "FIELDS"})
        if (text.substr(0, start.size()) == start &&
            (text.size() == start.size() || text[start.size()] == ' ' || text[start.size()] == '\t'))
            return true;
    return false;
}

bool readPcdStream(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, PointReadReport& report,
                   Progress* progress)
{
    PcdParser parser(file, alreadyRead, sink, report, progress);
    return parser.read();
}
