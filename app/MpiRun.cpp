#include "app/MpiRun.h"

#include "app/Console.h"
#include "app/PointLoading.h"
#include "app/Run.h"
#include "app/Stopwatch.h"
#include "geometry/Surface.h"
#include "io/FileReplacement.h"
#include "io/MeshWriter.h"
#include "io/PlyReader.h"
#include "io/PointFileReader.h"
#include "io/PointReadReport.h"
#include "normals/NormalEstimation.h"
#include "repair/SurfaceRepair.h"
#include "repair/SurfaceReport.h"
#include "tiles/EngineAdaptor.h"
#include "tiles/TileCut.h"
#include "tiles/TiledReconstruct.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace {

int rankOf()
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

int ranks()
{
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    return size;
}

unsigned ownerOf(unsigned tile)
{
    return tile % static_cast<unsigned>(ranks());
}

// A point on its way between ranks, with the tile it goes to.
struct PointRecord {
    std::uint32_t id;
    std::uint32_t tile;
    CGVertex position;
    CGVector normal;
};
static_assert(std::is_trivially_copyable_v<PointRecord>);

// Whether every rank got through a step. When one did not, rank 0 learns
// the first failing rank's reason.
bool allWell(bool ok, std::string& reason)
{
    const int rank = rankOf();
    const int mine = ok ? INT_MAX : rank;
    int first = INT_MAX;
    MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (first == INT_MAX)
        return true;
    if (first != 0 && rank == first) {
        const int length = static_cast<int>(reason.size());
        MPI_Send(&length, 1, MPI_INT, 0, 0, MPI_COMM_WORLD);
        MPI_Send(reason.data(), length, MPI_CHAR, 0, 1, MPI_COMM_WORLD);
    } else if (first != 0 && rank == 0) {
        int length = 0;
        MPI_Recv(&length, 1, MPI_INT, first, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        reason.assign(static_cast<std::size_t>(length), '\0');
        MPI_Recv(reason.data(), length, MPI_CHAR, first, 1, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    }
    return false;
}

// Out of memory mid-step leaves the other ranks waiting in a collective
// call; only ending the job frees them. Nothing has been written by then.
[[noreturn]] void endJob(const char* doing)
{
    std::fprintf(stderr, "tri3d-mpi: rank %d ran out of memory while %s\n", rankOf(), doing);
    MPI_Abort(MPI_COMM_WORLD, 1);
    std::abort();
}

// Bytes in, bytes out: what the ranks send each other.
class Packer {
public:
    template <typename T>
    void put(const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const char* p = reinterpret_cast<const char*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof(T));
    }
    template <typename T>
    void putAll(const std::vector<T>& values)
    {
        put(static_cast<std::uint64_t>(values.size()));
        const char* p = reinterpret_cast<const char*>(values.data());
        bytes.insert(bytes.end(), p, p + values.size() * sizeof(T));
    }
    std::vector<char> bytes;
};

class Unpacker {
public:
    explicit Unpacker(const char* at) : at_(at) {}
    template <typename T>
    T get()
    {
        T value;
        std::memcpy(&value, at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    template <typename T>
    std::vector<T> getAll()
    {
        std::vector<T> values(get<std::uint64_t>());
        std::memcpy(values.data(), at_, values.size() * sizeof(T));
        at_ += values.size() * sizeof(T);
        return values;
    }
    const char* at() const { return at_; }

private:
    const char* at_;
};

std::vector<int> offsetsOf(const std::vector<int>& counts)
{
    std::vector<int> offsets(counts.size(), 0);
    for (std::size_t i = 1; i < counts.size(); ++i)
        offsets[i] = offsets[i - 1] + counts[i - 1];
    return offsets;
}

int byteCount(std::size_t bytes)
{
    if (bytes > static_cast<std::size_t>(INT_MAX))
        endJob("sending more than 2 GiB to one rank");
    return static_cast<int>(bytes);
}

// Each rank's records to every rank; returns what came to this one.
std::vector<PointRecord> exchange(const std::vector<std::vector<PointRecord>>& outgoing)
{
    const int size = ranks();
    std::vector<int> sendCounts(size);
    std::vector<PointRecord> sending;
    for (int r = 0; r < size; ++r) {
        sendCounts[r] = byteCount(outgoing[r].size() * sizeof(PointRecord));
        sending.insert(sending.end(), outgoing[r].begin(), outgoing[r].end());
    }
    std::vector<int> receiveCounts(size);
    MPI_Alltoall(sendCounts.data(), 1, MPI_INT, receiveCounts.data(), 1, MPI_INT, MPI_COMM_WORLD);
    std::size_t total = 0;
    for (int count : receiveCounts)
        total += static_cast<std::size_t>(count);
    byteCount(total);
    std::vector<PointRecord> received(total / sizeof(PointRecord));
    MPI_Alltoallv(sending.data(), sendCounts.data(), offsetsOf(sendCounts).data(), MPI_BYTE, received.data(),
                  receiveCounts.data(), offsetsOf(receiveCounts).data(), MPI_BYTE, MPI_COMM_WORLD);
    return received;
}

// Every rank's bytes, end to end in rank order, on rank 0.
std::vector<char> gatherBytes(const std::vector<char>& mine)
{
    const int size = ranks();
    const int count = byteCount(mine.size());
    std::vector<int> counts(size);
    MPI_Gather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    std::vector<char> all;
    std::vector<int> offsets;
    if (rankOf() == 0) {
        std::size_t total = 0;
        for (int c : counts)
            total += static_cast<std::size_t>(c);
        all.resize(static_cast<std::size_t>(byteCount(total)));
        offsets = offsetsOf(counts);
    }
    MPI_Gatherv(mine.data(), count, MPI_BYTE, all.data(), counts.data(), offsets.data(), MPI_BYTE, 0, MPI_COMM_WORLD);
    return all;
}

// The points of this rank's share of a text file: the lines that start in
// its byte range, parsed as the reader parses six-number lines.
bool readRange(const std::string& fileName, std::vector<CGVertex>& positions, std::vector<CGVector>& normals,
               bool& isPly, std::string& reason, std::uint64_t& bytesRead)
{
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (file == nullptr) {
        reason = "cannot open \"" + fileName + "\"";
        return false;
    }
    char head[5] = {0, 0, 0, 0, 0};
    const std::size_t got = std::fread(head, 1, 5, file);
    isPly = got >= 3 && std::memcmp(head, "ply", 3) == 0;
    if (isPly || std::fseek(file, 0, SEEK_END) != 0) {
        const long long size = isPly ? ftello(file) : 0;
        std::fclose(file);
        if (!isPly || !startsLikePly(std::string_view(head, got)))
            return isPly;
        // Binary PLY has rows of one size: each rank reads its own run of
        // them. Any other PLY is read whole on rank 0.
        PointReadReport report;
        bool split = false;
        std::uint64_t firstRow = 0;
        const PointSink sink = [&](const CGVertex& position, const CGVector& normal) {
            positions.push_back(position);
            normals.push_back(normal);
        };
        if (!readPlyShare(fileName, static_cast<std::uint64_t>(rankOf()), static_cast<std::uint64_t>(ranks()), sink,
                          report, split, firstRow)) {
            reason = report.problem;
            return false;
        }
        isPly = !split;
        bytesRead = static_cast<std::uint64_t>(std::max(0LL, size)) / static_cast<std::uint64_t>(ranks());
        return true;
    }
    const long long size = ftello(file);
    const long long rank = rankOf();
    const long long count = ranks();
    const long long start = size * rank / count;
    const long long end = size * (rank + 1) / count;
    bytesRead = static_cast<std::uint64_t>(end - start);
    bool ok = size >= 0;
    // A line belongs to the rank in whose range its first byte lies.
    if (ok && start > 0) {
        ok = fseeko(file, start - 1, SEEK_SET) == 0;
        int c = ok ? std::fgetc(file) : EOF;
        while (c != EOF && c != '\n')
            c = std::fgetc(file);
    } else if (ok) {
        ok = fseeko(file, 0, SEEK_SET) == 0;
    }
    char* line = nullptr;
    std::size_t capacity = 0;
    while (ok && ftello(file) < end) {
        const ssize_t length = getline(&line, &capacity, file);
        if (length < 0)
            break;
        CGVertex position;
        CGVector normal;
        if (parseLine(std::string_view(line, static_cast<std::size_t>(length)), position, normal)) {
            positions.push_back(position);
            normals.push_back(normal);
        }
    }
    ok = ok && !std::ferror(file);
    std::free(line);
    std::fclose(file);
    if (!ok)
        reason = "cannot read \"" + fileName + "\" to its end";
    return ok;
}

// Rank 0 loads the file as the single-process program does and hands
// every rank an equal run of points: for what the ranks cannot read alone
// (PLY, the x y z layout, normals to estimate).
bool loadOnRankZero(const Settings& settings, std::vector<CGVertex>& positions, std::vector<CGVector>& normals,
                    std::string& reason)
{
    std::vector<PointRecord> all;
    bool ok = true;
    if (rankOf() == 0) {
        LoadOptions options;
        options.threads = settings.threads > 0 ? static_cast<unsigned>(settings.threads) : 0;
        options.normals = settings.normals == "file"       ? NormalSource::file
                          : settings.normals == "estimate" ? NormalSource::estimate
                                                           : NormalSource::automatic;
        options.neighbours =
            static_cast<unsigned>(std::clamp(settings.neighbours, long{kFewestNeighbours}, long{kMostNeighbours}));
        LoadReport report;
        LoadedPoints points;
        ok = loadPoints(settings.file, options, report, points, nullptr);
        if (!ok)
            reason = report.read.problem.empty() ? "cannot read \"" + settings.file + "\"" : report.read.problem;
        for (std::size_t i = 0; i < points.positions.size(); ++i)
            all.push_back({static_cast<std::uint32_t>(i), 0, points.positions[i], points.normals[i]});
    }
    if (!allWell(ok, reason))
        return false;
    std::uint64_t total = all.size();
    MPI_Bcast(&total, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    const int size = ranks();
    std::vector<int> counts(size);
    for (int r = 0; r < size; ++r) {
        const std::uint64_t first = total * r / size;
        const std::uint64_t last = total * (r + 1) / size;
        counts[r] = byteCount((last - first) * sizeof(PointRecord));
    }
    std::vector<PointRecord> mine(static_cast<std::size_t>(counts[rankOf()]) / sizeof(PointRecord));
    MPI_Scatterv(all.data(), counts.data(), offsetsOf(counts).data(), MPI_BYTE, mine.data(), counts[rankOf()], MPI_BYTE,
                 0, MPI_COMM_WORLD);
    positions.clear();
    normals.clear();
    for (const PointRecord& record : mine) {
        positions.push_back(record.position);
        normals.push_back(record.normal);
    }
    return true;
}

// A double's bits as an unsigned number that sorts as the double does.
std::uint64_t orderedBits(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

double fromOrderedBits(std::uint64_t key)
{
    const std::uint64_t bits = (key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double coordinate(const CGVertex& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

// The cut the single process makes, agreed over every rank's share of the
// cell: the box by reductions, the value with leftTiles/tiles of the points
// below it by halving the range of keys until one remains.
TileSplit splitAcrossRanks(const std::vector<CGVertex>& positions, const std::vector<std::uint32_t>& members,
                           unsigned leftTiles, unsigned tiles)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double low[3] = {kInf, kInf, kInf};
    double high[3] = {-kInf, -kInf, -kInf};
    for (std::uint32_t i : members) {
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], coordinate(positions[i], axis));
            high[axis] = std::max(high[axis], coordinate(positions[i], axis));
        }
    }
    MPI_Allreduce(MPI_IN_PLACE, low, 3, MPI_DOUBLE, MPI_MIN, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, high, 3, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    std::uint64_t count = members.size();
    MPI_Allreduce(MPI_IN_PLACE, &count, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    TileSplit split;
    if (count == 0)
        return split;
    for (int axis = 1; axis < 3; ++axis) {
        if (high[axis] - low[axis] > high[split.axis] - low[split.axis])
            split.axis = axis;
    }
    const std::uint64_t k = std::min<std::uint64_t>(leftShare(count, leftTiles, tiles), count - 1);
    std::vector<std::uint64_t> keys(members.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        keys[i] = orderedBits(coordinate(positions[members[i]], split.axis));
    std::uint64_t from = 0;
    std::uint64_t to = ~std::uint64_t{0};
    while (from < to) {
        const std::uint64_t middle = from + (to - from) / 2;
        std::uint64_t atMost = 0;
        for (std::uint64_t key : keys)
            atMost += key <= middle ? 1 : 0;
        MPI_Allreduce(MPI_IN_PLACE, &atMost, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
        if (atMost >= k + 1)
            to = middle;
        else
            from = middle + 1;
    }
    split.value = fromOrderedBits(from);
    return split;
}

PointSet pointsOf(std::vector<PointRecord> records)
{
    std::sort(records.begin(), records.end(), [](const PointRecord& a, const PointRecord& b) { return a.id < b.id; });
    PointSet points;
    for (const PointRecord& record : records)
        points.add(record.id, record.position, record.normal);
    return points;
}

// Each owned tile's points, its own and its band's, in place order, made
// from the records, which are used up: the tiles' engines then need no
// other copy of the points.
std::vector<PointSet> tileSets(const std::vector<unsigned>& owned, std::vector<PointRecord>& mine,
                               std::vector<PointRecord>& band)
{
    const auto byTile = [](const PointRecord& a, const PointRecord& b) {
        return a.tile != b.tile ? a.tile < b.tile : a.id < b.id;
    };
    std::sort(mine.begin(), mine.end(), byTile);
    std::sort(band.begin(), band.end(), byTile);
    std::vector<PointSet> sets(owned.size());
    auto m = mine.begin();
    auto b = band.begin();
    for (std::size_t at = 0; at < owned.size(); ++at) {
        const unsigned tile = owned[at];
        PointSet& set = sets[at];
        while (m != mine.end() && m->tile < tile)
            ++m;
        while (b != band.end() && b->tile < tile)
            ++b;
        for (;;) {
            const bool fromMine = m != mine.end() && m->tile == tile;
            const bool fromBand = b != band.end() && b->tile == tile;
            if (!fromMine && !fromBand)
                break;
            // A band never holds a tile's own points, so places never tie.
            const PointRecord& next = fromMine && (!fromBand || m->id < b->id) ? *m++ : *b++;
            set.add(next.id, next.position, next.normal);
        }
    }
    std::vector<PointRecord>().swap(mine);
    std::vector<PointRecord>().swap(band);
    return sets;
}

void packPart(Packer& packer, unsigned tile, const SeamPart& seam)
{
    packer.put(static_cast<std::uint32_t>(tile));
    packer.putAll(seam.points.ids);
    packer.putAll(seam.points.positions);
    packer.putAll(seam.points.normals);
    std::vector<std::uint8_t> known(seam.known.begin(), seam.known.end());
    packer.putAll(known);
    packer.putAll(seam.given);
    packer.putAll(seam.cut);
}

// Seconds each stage took on this rank, for the line that tells them.
struct StageTimes {
    double reading = 0.0;
    std::uint64_t bytesRead = 0;
    double tiles = 0.0;
    double seams = 0.0;
};

// What the tiles made: every rank's kept faces of the tiles it owns, and
// its own points when they are to be written; the seams' faces on rank 0.
struct TiledFaces {
    std::vector<unsigned> owned;  // ascending
    std::vector<Faces> kept;      // of each owned tile
    std::vector<PointRecord> points;
    SeamFaces seams;
};

// The grown tiles, on every rank, and the seams closed on rank 0.
TiledFaces growTiles(const Settings& settings, unsigned tiles, std::vector<CGVertex>& positions,
                     std::vector<CGVector>& normals, std::uint64_t firstId, bool keepPoints, StageTimes& times)
{
    const double start = MPI_Wtime();
    const int size = ranks();
    const int rank = rankOf();
    // Ranks share a machine's cores: a rank runs on one thread unless told.
    const unsigned rankThreads = settings.threads > 0 ? static_cast<unsigned>(settings.threads) : 1;
    const TileCut cut(positions, tiles, splitAcrossRanks);

    std::vector<std::vector<PointRecord>> outgoing(size);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const unsigned tile = cut.tileOf(positions[i]);
        outgoing[ownerOf(tile)].push_back({static_cast<std::uint32_t>(firstId + i), tile, positions[i], normals[i]});
    }
    std::vector<CGVertex>().swap(positions);
    std::vector<CGVector>().swap(normals);
    std::vector<PointRecord> mine = exchange(outgoing);
    TiledFaces result;
    if (tiles == 1) {
        // One tile is the single front over the points in file order.
        if (rank == 0) {
            const PointSet points = pointsOf(mine);
            result.owned.push_back(0);
            result.kept.push_back(triangulatePoints(points.positions, points.normals, settings.kd, rankThreads));
        }
        if (keepPoints)
            result.points = std::move(mine);
        times.tiles = MPI_Wtime() - start;
        return result;
    }

    // Each tile's widths are worked out by its owner and summed with the
    // zeros of the other ranks.
    static_assert(sizeof(TileWidths) == 3 * sizeof(double));
    std::vector<TileWidths> widths(tiles);
    for (unsigned tile = static_cast<unsigned>(rank); tile < tiles; tile += static_cast<unsigned>(size)) {
        std::vector<CGVertex> own;
        for (const PointRecord& record : mine) {
            if (record.tile == tile)
                own.push_back(record.position);
        }
        widths[tile] = widthsFor(pointSpacing(own));
    }
    MPI_Allreduce(MPI_IN_PLACE, widths.data(), static_cast<int>(3 * widths.size()), MPI_DOUBLE, MPI_SUM,
                  MPI_COMM_WORLD);

    for (auto& records : outgoing)
        std::vector<PointRecord>().swap(records);
    for (const PointRecord& record : mine) {
        for (unsigned tile = 0; tile < tiles; ++tile) {
            if (tile != record.tile && cut.distanceTo(tile, record.position) < widths[tile].band)
                outgoing[ownerOf(tile)].push_back({record.id, tile, record.position, record.normal});
        }
    }
    std::vector<PointRecord> band = exchange(outgoing);
    outgoing.clear();

    for (unsigned tile = static_cast<unsigned>(rank); tile < tiles; tile += static_cast<unsigned>(size))
        result.owned.push_back(tile);
    const std::vector<unsigned>& owned = result.owned;
    std::vector<PointSet> sets = tileSets(owned, mine, band);
    std::vector<SeamPart> grownParts(owned.size());
    std::vector<std::vector<PointRecord>> ownPoints(owned.size());
    result.kept.resize(owned.size());
    // The threads no tile runs on are shared out to build the tiles' trees.
    const unsigned treeThreads = rankThreads / std::max(1u, std::min(rankThreads, static_cast<unsigned>(owned.size())));
    forEachTile(static_cast<unsigned>(owned.size()), rankThreads, [&](unsigned at) {
        const unsigned tile = owned[at];
        PointSet& points = sets[at];
        TileFaces grown = triangulateTile(cut, tile, points, widths[tile], settings.kd, nullptr, treeThreads);
        result.kept[at] = std::move(grown.faces);
        grownParts[at] = std::move(grown.seam);
        for (std::size_t i = 0; keepPoints && i < points.ids.size(); ++i) {
            if (cut.tileOf(points.positions[i]) == tile)
                ownPoints[at].push_back({points.ids[i], tile, points.positions[i], points.normals[i]});
        }
        points = PointSet();
    });
    for (std::vector<PointRecord>& points : ownPoints) {
        result.points.insert(result.points.end(), points.begin(), points.end());
        std::vector<PointRecord>().swap(points);
    }

    times.tiles = MPI_Wtime() - start;
    // The seams see only the strips along the walls, a small part of the
    // surface: they alone go to rank 0.
    Packer packer;
    for (std::size_t at = 0; at < owned.size(); ++at) {
        packPart(packer, owned[at], grownParts[at]);
        grownParts[at] = SeamPart();
    }
    const std::vector<char> all = gatherBytes(packer.bytes);
    packer.bytes = std::vector<char>();
    if (rank != 0)
        return result;
    std::vector<SeamPart> parts(tiles);
    Unpacker unpacker(all.data());
    while (unpacker.at() < all.data() + all.size()) {
        SeamPart& part = parts[unpacker.get<std::uint32_t>()];
        part.points.ids = unpacker.getAll<std::uint32_t>();
        part.points.positions = unpacker.getAll<CGVertex>();
        part.points.normals = unpacker.getAll<CGVector>();
        const std::vector<std::uint8_t> known = unpacker.getAll<std::uint8_t>();
        part.known.assign(known.begin(), known.end());
        part.given = unpacker.getAll<Face>();
        part.cut = unpacker.getAll<Side>();
    }
    const double seamStart = MPI_Wtime();
    result.seams = closeSeams(cut, parts, settings.kd, rankThreads);
    times.seams = MPI_Wtime() - seamStart;
    return result;
}

// Every face on rank 0, each tile's kept faces then the seam faces in its
// cell, tile by tile, as the threaded run joins them.
Faces gatherFaces(TiledFaces& tiled, unsigned tiles)
{
    Packer packer;
    for (std::size_t at = 0; at < tiled.owned.size(); ++at) {
        packer.put(static_cast<std::uint32_t>(tiled.owned[at]));
        packer.putAll(tiled.kept[at]);
        Faces().swap(tiled.kept[at]);
    }
    const std::vector<char> all = gatherBytes(packer.bytes);
    packer.bytes = std::vector<char>();
    if (rankOf() != 0)
        return Faces();
    std::vector<TileFaces> kept(tiles);
    Unpacker unpacker(all.data());
    while (unpacker.at() < all.data() + all.size()) {
        const auto tile = unpacker.get<std::uint32_t>();
        kept[tile].faces = unpacker.getAll<Face>();
    }
    if (tiles == 1)
        return std::move(kept[0].faces);
    return joinTiles(kept, tiled.seams);
}

// Every point, in file order, on rank 0.
void gatherPoints(const std::vector<PointRecord>& mine, Surface& surface, std::uint64_t total)
{
    Packer packer;
    packer.putAll(mine);
    const std::vector<char> all = gatherBytes(packer.bytes);
    if (rankOf() != 0)
        return;
    surface.positions.resize(total);
    surface.normals.resize(total);
    Unpacker unpacker(all.data());
    while (unpacker.at() < all.data() + all.size()) {
        for (const PointRecord& record : unpacker.getAll<PointRecord>()) {
            surface.positions[record.id] = record.position;
            surface.normals[record.id] = record.normal;
        }
    }
}

// Records a rank sends rank 0 at a time while the file is written: enough
// to keep the pipe busy, little next to a tile.
constexpr std::size_t kStreamRecords = std::size_t{1} << 16;
constexpr int kPointTag = 2;
constexpr int kFaceTag = 3;

// The place in order of the first point rank r writes.
std::uint64_t firstWritten(std::uint64_t total, int r)
{
    return total * static_cast<std::uint64_t>(r) / static_cast<std::uint64_t>(ranks());
}

// Records of records.size() / width bytes each, sent to rank 0 in pieces
// that rank 0 takes in the same order and size (see takeRecords).
void sendRecords(const std::vector<unsigned char>& records, std::size_t width, int tag)
{
    const std::size_t count = records.size() / width;
    for (std::size_t first = 0; first < count; first += kStreamRecords) {
        const std::size_t n = std::min(kStreamRecords, count - first);
        MPI_Send(records.data() + first * width, byteCount(n * width), MPI_BYTE, 0, tag, MPI_COMM_WORLD);
    }
}

// On rank 0: count records of width bytes from rank from, written to file
// as they come.
void takeRecords(std::FILE* file, int from, std::size_t count, std::size_t width, int tag)
{
    std::vector<unsigned char> piece(std::min(kStreamRecords, count) * width);
    for (std::size_t first = 0; first < count; first += kStreamRecords) {
        const std::size_t n = std::min(kStreamRecords, count - first);
        MPI_Recv(piece.data(), byteCount(n * width), MPI_BYTE, from, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (file != nullptr)
            std::fwrite(piece.data(), 1, n * width, file);
    }
}

std::vector<unsigned char> encodedFaces(const Faces& faces)
{
    std::vector<unsigned char> bytes(faces.size() * kPlyFaceBytes);
    for (std::size_t i = 0; i < faces.size(); ++i)
        encodePlyFace(bytes.data() + i * kPlyFaceBytes, faces[i]);
    return bytes;
}

// Writes the binary PLY tri3d tiles:N writes, without any rank holding the
// whole surface: each rank takes a run of points in file order from the
// others, and all stream their records to rank 0 in file order, points by
// rank, then faces tile by tile. Returns the count of faces on rank 0 and
// sets ok on every rank; why is rank 0's reason for a failure.
std::uint64_t streamPly(const std::string& fileName, TiledFaces& tiled, unsigned tiles, std::uint64_t total, bool& ok,
                        std::string& why)
{
    const int size = ranks();
    const int rank = rankOf();
    std::vector<std::uint64_t> firsts(static_cast<std::size_t>(size) + 1);
    for (int r = 0; r <= size; ++r)
        firsts[static_cast<std::size_t>(r)] = firstWritten(total, r);
    std::vector<std::vector<PointRecord>> outgoing(size);
    for (const PointRecord& record : tiled.points) {
        const auto after = std::upper_bound(firsts.begin(), firsts.end(), std::uint64_t{record.id});
        outgoing[static_cast<std::size_t>(after - firsts.begin() - 1)].push_back(record);
    }
    std::vector<PointRecord>().swap(tiled.points);
    std::vector<PointRecord> stretch = exchange(outgoing);
    outgoing.clear();
    std::sort(stretch.begin(), stretch.end(), [](const PointRecord& a, const PointRecord& b) { return a.id < b.id; });

    // The faces of each tile, kept and seam: the file's face section in order.
    std::vector<std::uint64_t> kept(tiles, 0);
    for (std::size_t at = 0; at < tiled.owned.size(); ++at)
        kept[tiled.owned[at]] = tiled.kept[at].size();
    MPI_Allreduce(MPI_IN_PLACE, kept.data(), static_cast<int>(tiles), MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    std::vector<Faces> seams(tiles);
    std::uint64_t faces = 0;
    if (rank == 0) {
        for (std::size_t i = 0; i < tiled.seams.faces.size(); ++i)
            seams[tiled.seams.tiles[i]].push_back(tiled.seams.faces[i]);
        faces = tiled.seams.faces.size();
        for (std::uint64_t count : kept)
            faces += count;
    }

    std::unique_ptr<FileReplacement> replacement;
    std::FILE* file = nullptr;
    if (rank == 0) {
        replacement = std::make_unique<FileReplacement>(fileName);
        file = replacement->file();
        if (file == nullptr)
            why = std::strerror(errno);
    }
    int opened = file != nullptr ? 1 : 0;
    MPI_Bcast(&opened, 1, MPI_INT, 0, MPI_COMM_WORLD);
    ok = opened != 0;
    if (!ok)
        return 0;

    std::vector<unsigned char> bytes(stretch.size() * kPlyPointBytes);
    for (std::size_t i = 0; i < stretch.size(); ++i)
        encodePlyPoint(bytes.data() + i * kPlyPointBytes, stretch[i].position, stretch[i].normal);
    std::vector<PointRecord>().swap(stretch);
    if (rank == 0) {
        const std::string header = plyHeader(total, faces);
        std::fwrite(header.data(), 1, header.size(), file);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        for (int r = 1; r < size; ++r)
            takeRecords(file, r, firsts[r + 1] - firsts[r], kPlyPointBytes, kPointTag);
    } else {
        sendRecords(bytes, kPlyPointBytes, kPointTag);
    }
    std::vector<unsigned char>().swap(bytes);

    for (std::size_t at = 0; at < tiled.owned.size(); ++at) {
        if (rank != 0) {
            sendRecords(encodedFaces(tiled.kept[at]), kPlyFaceBytes, kFaceTag);
            Faces().swap(tiled.kept[at]);
        }
    }
    if (rank == 0) {
        std::size_t at = 0;
        for (unsigned tile = 0; tile < tiles; ++tile) {
            if (ownerOf(tile) == 0) {
                const std::vector<unsigned char> own = encodedFaces(tiled.kept[at]);
                std::fwrite(own.data(), 1, own.size(), file);
                Faces().swap(tiled.kept[at++]);
            } else {
                takeRecords(file, static_cast<int>(ownerOf(tile)), kept[tile], kPlyFaceBytes, kFaceTag);
            }
            const std::vector<unsigned char> seam = encodedFaces(seams[tile]);
            std::fwrite(seam.data(), 1, seam.size(), file);
        }
        errno = 0;
        ok = replacement->commit();
        if (!ok)
            why = errno != 0 ? std::strerror(errno) : "";
    }
    int written = ok ? 1 : 0;
    MPI_Bcast(&written, 1, MPI_INT, 0, MPI_COMM_WORLD);
    ok = written != 0;
    return faces;
}

// One line on err from rank 0: the slowest rank's reading and tiles,
// and the seams, so that a plan for more ranks has its figures.
void tellStages(const StageTimes& times, std::ostream& err)
{
    double slowest[2] = {times.reading, times.tiles};
    MPI_Allreduce(MPI_IN_PLACE, slowest, 2, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    std::uint64_t most = times.bytesRead;
    MPI_Allreduce(MPI_IN_PLACE, &most, 1, MPI_UINT64_T, MPI_MAX, MPI_COMM_WORLD);
    if (rankOf() != 0)
        return;
    const double rate = slowest[0] > 0.0 ? static_cast<double>(most) / 1e6 / slowest[0] : 0.0;
    err << "tri3d-mpi: " << ranks() << " ranks; reading " << std::lround(slowest[0] * 1000.0) << " ms ("
        << std::lround(rate) << " MB/s a rank), tiles " << std::lround(slowest[1] * 1000.0)
        << " ms (slowest rank), seams " << std::lround(times.seams * 1000.0) << " ms" << std::endl;
}

int finish(const Settings& settings, Surface& surface, std::ostream& out)
{
    RepairCounts repaired;
    std::uint64_t repairMilliseconds = 0;
    if (settings.clean) {
        Stopwatch stopwatch;
        stopwatch.startTimer();
        // threads:<T> as the tiles take it: the ranks share the cores
        repaired = repairSurface(surface, settings.holes, nullptr,
                                 settings.threads > 0 ? static_cast<unsigned>(settings.threads) : 1);
        repairMilliseconds = stopwatch.elapsedMilliseconds();
    }
    if (!settings.out.empty()) {
        out << "  Writing mesh to file... " << std::flush;
        if (!writeMesh(settings.out, surface, nullptr)) {
            out << "Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            return 1;
        }
        out << "Done!" << std::endl;
        out << "  |T| = " << surface.faces.size() << std::endl;
    }
    if (settings.report) {
        printSurfaceReport(out, reportOn(surface));
        if (settings.clean)
            printRepair(out, repaired, repairMilliseconds);
    }
    return 0;
}

int runJob(const Settings& settings, std::ostream& out, std::ostream& err)
{
    const int rank = rankOf();
    const bool speaks = rank == 0;
    if (speaks && !settings.shot.empty())
        err << "tri3d-mpi: shows nothing; shot:" << settings.shot << " is left to tri3d" << std::endl;
    if (speaks)
        out << "  Adding vertices from file... " << std::flush;
    std::vector<CGVertex> positions;
    std::vector<CGVector> normals;
    std::string reason;
    bool isPly = false;
    StageTimes times;
    const double readStart = MPI_Wtime();
    bool ok = readRange(settings.file, positions, normals, isPly, reason, times.bytesRead);
    times.reading = MPI_Wtime() - readStart;
    if (!allWell(ok, reason)) {
        if (speaks) {
            out << "Failed!" << std::endl;
            out << "  -  Error loading file \"" << settings.file << '"' << std::endl;
            err << "tri3d-mpi: " << reason << std::endl;
        }
        return 1;
    }
    // What the ranks cannot read alone rank 0 reads as the program does.
    std::uint64_t counts[2] = {positions.size(), 0};
    for (const CGVector& n : normals)
        counts[1] += n.x != 0.0 || n.y != 0.0 || n.z != 0.0 ? 1 : 0;
    int ply = isPly ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, counts, 2, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    MPI_Allreduce(MPI_IN_PLACE, &ply, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    const bool estimates = settings.normals == "estimate" || (settings.normals != "file" && counts[1] == 0);
    if (ply != 0 || counts[0] == 0 || estimates) {
        if (!loadOnRankZero(settings, positions, normals, reason)) {
            if (speaks) {
                out << "Failed!" << std::endl;
                out << "  -  Error loading file \"" << settings.file << '"' << std::endl;
                err << "tri3d-mpi: " << reason << std::endl;
            }
            return 1;
        }
    }
    std::uint64_t local = positions.size();
    std::uint64_t firstId = 0;
    std::uint64_t total = 0;
    MPI_Exscan(&local, &firstId, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    MPI_Allreduce(&local, &total, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    if (rank == 0)
        firstId = 0;
    if (total > std::numeric_limits<std::uint32_t>::max()) {
        if (speaks) {
            out << "Failed!" << std::endl;
            out << "  -  Error loading file \"" << settings.file << '"' << std::endl;
            err << "tri3d-mpi: more points than 4294967295, the most a file may hold" << std::endl;
        }
        return 1;
    }
    if (speaks) {
        out << "Done!" << std::endl;
        out << "  |P| = " << total << std::endl;
        out << "  Vertex Candidate Search Algorithm: " << (settings.kd ? "KD-tree" : "Linear") << std::endl;
        out << "  Triangulation in progress... " << std::flush;
    }
    std::ostream quiet(nullptr);
    const unsigned tiles = tileCount(settings, speaks ? err : quiet);
    Stopwatch stopwatch;
    stopwatch.startTimer();
    // Binary PLY alone, written as it stands, streams to rank 0 record by
    // record; repairing or reporting needs the whole surface on rank 0.
    const bool writes = !settings.out.empty();
    const bool streams = writes && isPlyName(settings.out) && !settings.clean && !settings.report;
    TiledFaces tiled;
    try {
        tiled = growTiles(settings, tiles, positions, normals, firstId, writes || settings.report, times);
    } catch (const std::bad_alloc&) {
        endJob("triangulating");
    }
    if (speaks) {
        out << "Done!" << std::endl;
        out << "  - Time: " << stopwatch.elapsedMilliseconds() << " milliseconds" << std::endl;
    }
    tellStages(times, err);
    if (!writes && !settings.report)
        return 0;
    if (streams) {
        if (speaks)
            out << "  Writing mesh to file... " << std::flush;
        bool written = false;
        std::uint64_t faces = 0;
        try {
            faces = streamPly(settings.out, tiled, tiles, total, written, reason);
        } catch (const std::bad_alloc&) {
            endJob("writing the surface");
        }
        if (speaks && !written) {
            out << "Failed!" << std::endl;
            out << "  -  Error writing file \"" << settings.out << '"' << std::endl;
            if (!reason.empty())
                err << "tri3d-mpi: " << reason << std::endl;
        } else if (speaks) {
            out << "Done!" << std::endl;
            out << "  |T| = " << faces << std::endl;
        }
        return written ? 0 : 1;
    }
    Surface surface;
    try {
        surface.faces = gatherFaces(tiled, tiles);
        gatherPoints(tiled.points, surface, total);
    } catch (const std::bad_alloc&) {
        endJob("gathering the surface for output");
    }
    tiled = TiledFaces();
    int code = 0;
    if (speaks) {
        try {
            code = finish(settings, surface, out);
        } catch (const std::bad_alloc&) {
            endJob("writing the surface");
        }
    }
    MPI_Bcast(&code, 1, MPI_INT, 0, MPI_COMM_WORLD);
    return code;
}

}  // namespace

int runMpi(const Settings& settings, std::ostream& out, std::ostream& err)
{
    if (settings.file.empty()) {
        if (rankOf() == 0) {
            printUsage(out);
            printMoreOptions(err);
        }
        return 0;
    }
    return runJob(settings, out, err);
}
