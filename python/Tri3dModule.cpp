// The Python module `tri3d`: the library's calls over numpy arrays.

#include <tri3d/tri3d.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <Python.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// Arrays are copied into and handed out of the library's vectors as
// whole blocks, so their elements must be plain rows of numbers.
static_assert(sizeof(tri3d::Vec3) == 3 * sizeof(double) && std::is_standard_layout_v<tri3d::Vec3>);
using Face = std::array<std::uint32_t, 3>;
static_assert(sizeof(Face) == 3 * sizeof(std::uint32_t));

constexpr unsigned kFewestNeighbours = 3;
constexpr unsigned kMostNeighbours = 100;
constexpr long kMostHoleEdges = 1000;

[[noreturn]] void raise(PyObject* type, const std::string& message)
{
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

std::string describe(py::handle object)
{
    return py::str(object).cast<std::string>();
}

std::string shapeText(const py::array& array)
{
    std::string text = "(";
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis)
        text += (axis > 0 ? ", " : "") + std::to_string(array.shape(axis));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

// A file name as the operating system spells it: str, bytes or any
// os.PathLike, undecodable bytes kept as they are.
std::string fileName(py::handle path)
{
    std::string name = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    // The system would read the name only up to the first null.
    if (name.find('\0') != std::string::npos)
        raise(PyExc_ValueError, "a file name must not hold a null character");
    return name;
}

// Any (N, 3) array-like of real numbers as one C-ordered float64 array. An
// array that already is one is used as it is; anything else is converted
// once, by numpy.
py::array_t<double> rowsOfThree(py::handle object, const char* name)
{
    py::module_ numpy = py::module_::import("numpy");
    if (py::isinstance<py::array>(object)) {
        const char kind = py::reinterpret_borrow<py::array>(object).dtype().kind();
        // numpy would drop an imaginary part or read a string as a number.
        if (kind != 'f' && kind != 'i' && kind != 'u')
            raise(PyExc_TypeError, std::string(name) + " must hold real numbers, not " +
                                       describe(py::reinterpret_borrow<py::array>(object).dtype()));
    }
    py::object converted;
    try {
        converted = numpy.attr("ascontiguousarray")(object, "dtype"_a = numpy.attr("float64"));
    } catch (py::error_already_set& failure) {
        if (!failure.matches(PyExc_TypeError) && !failure.matches(PyExc_ValueError))
            throw;
        raise(PyExc_TypeError, std::string(name) + " must be an (N, 3) array of numbers: " + failure.what());
    }
    auto rows = py::reinterpret_steal<py::array_t<double>>(converted.release());
    if (rows.ndim() != 2 || rows.shape(1) != 3)
        raise(PyExc_ValueError, std::string(name) + " must have shape (N, 3), not " + shapeText(rows));
    if (static_cast<std::uint64_t>(rows.shape(0)) > std::numeric_limits<std::uint32_t>::max())
        raise(PyExc_ValueError, std::string(name) + " has " + std::to_string(rows.shape(0)) +
                                    " rows; faces can index at most 4294967295");
    return rows;
}

// Copies the rows into the library's vector, refusing any that is not
// finite: every row keeps its place, so the faces index the caller's array.
std::vector<tri3d::Vec3> copyRows(const py::array_t<double>& rows, const char* name)
{
    const std::size_t count = static_cast<std::size_t>(rows.shape(0));
    const double* values = rows.data();
    for (std::size_t i = 0; i < 3 * count; ++i) {
        if (!std::isfinite(values[i])) {
            const std::size_t row = i / 3;
            raise(PyExc_ValueError, std::string(name) + "[" + std::to_string(row) + "] is not finite: (" +
                                        describe(py::float_(values[3 * row])) + ", " +
                                        describe(py::float_(values[3 * row + 1])) + ", " +
                                        describe(py::float_(values[3 * row + 2])) + ")");
        }
    }
    std::vector<tri3d::Vec3> copy(count);
    if (count > 0)
        std::memcpy(copy.data(), values, 3 * count * sizeof(double));
    return copy;
}

std::vector<tri3d::Vec3> points(py::handle object)
{
    return copyRows(rowsOfThree(object, "points"), "points");
}

// Normals for count points; empty for None.
std::vector<tri3d::Vec3> normalsFor(py::handle object, std::size_t count)
{
    if (object.is_none())
        return {};
    const py::array_t<double> rows = rowsOfThree(object, "normals");
    if (static_cast<std::size_t>(rows.shape(0)) != count)
        raise(PyExc_ValueError,
              "normals has " + std::to_string(rows.shape(0)) + " rows but points has " + std::to_string(count));
    return copyRows(rows, "normals");
}

std::vector<Face> faces(py::handle object, std::size_t pointCount)
{
    if (py::isinstance<py::array>(object)) {
        const char kind = py::reinterpret_borrow<py::array>(object).dtype().kind();
        // A float would be cut to an integer without a word; a bool is no index.
        if (kind != 'i' && kind != 'u')
            raise(PyExc_TypeError,
                  "faces must hold integers, not " + describe(py::reinterpret_borrow<py::array>(object).dtype()));
    }
    py::module_ numpy = py::module_::import("numpy");
    py::array rows;
    try {
        rows = numpy.attr("asarray")(object);
    } catch (py::error_already_set& failure) {
        if (!failure.matches(PyExc_TypeError) && !failure.matches(PyExc_ValueError))
            throw;
        raise(PyExc_TypeError, std::string("faces must be an (M, 3) array of point indices: ") + failure.what());
    }
    if (rows.size() > 0 && rows.dtype().kind() != 'i' && rows.dtype().kind() != 'u')
        raise(PyExc_TypeError, "faces must hold integers, not " + describe(rows.dtype()));
    if (rows.ndim() != 2 || rows.shape(1) != 3)
        raise(PyExc_ValueError, "faces must have shape (M, 3), not " + shapeText(rows));
    // Signed 64 bits hold every index and show a negative one as it is.
    auto indices = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(rows);
    if (!indices)
        throw py::error_already_set();
    const std::size_t count = static_cast<std::size_t>(indices.shape(0));
    const std::int64_t* values = indices.data();
    std::vector<Face> copy(count);
    for (std::size_t f = 0; f < count; ++f) {
        for (std::size_t corner = 0; corner < 3; ++corner) {
            const std::int64_t index = values[3 * f + corner];
            if (index < 0 || static_cast<std::uint64_t>(index) >= pointCount)
                raise(PyExc_ValueError, "faces[" + std::to_string(f) + "] names point " + std::to_string(index) +
                                            ", but points has " + std::to_string(pointCount));
            copy[f][corner] = static_cast<std::uint32_t>(index);
        }
    }
    return copy;
}

// Hands a vector's rows to numpy without copying: the array owns the vector.
template <typename Row, typename Number>
py::array_t<Number> arrayOf(std::vector<Row> rows)
{
    auto* held = new std::vector<Row>(std::move(rows));
    py::capsule owner(held, [](void* vector) { delete static_cast<std::vector<Row>*>(vector); });
    const py::ssize_t count = static_cast<py::ssize_t>(held->size());
    const py::ssize_t width = sizeof(Row) / sizeof(Number);
    return py::array_t<Number>({count, width}, {static_cast<py::ssize_t>(sizeof(Row)), py::ssize_t{sizeof(Number)}},
                               reinterpret_cast<const Number*>(held->data()), owner);
}

tri3d::Search searchNamed(py::handle search)
{
    if (!py::isinstance<py::str>(search))
        raise(PyExc_TypeError,
              "search must be \"kd\" or \"linear\", not " + describe(py::type::handle_of(search).attr("__name__")));
    const std::string name = search.cast<std::string>();
    if (name == "kd")
        return tri3d::Search::KdTree;
    if (name == "linear")
        return tri3d::Search::Linear;
    raise(PyExc_ValueError, "search must be \"kd\" or \"linear\", not \"" + name + "\"");
}

unsigned neighbourCount(long neighbours)
{
    if (neighbours < static_cast<long>(kFewestNeighbours) || neighbours > static_cast<long>(kMostNeighbours))
        raise(PyExc_ValueError, "neighbours must be " + std::to_string(kFewestNeighbours) + " to " +
                                    std::to_string(kMostNeighbours) + ", not " + std::to_string(neighbours));
    return static_cast<unsigned>(neighbours);
}

// Lets Ctrl-C stop a call that runs without the interpreter lock. Python
// only notes a signal when it arrives; its handler runs when the main
// thread next runs Python code. So every 50 ms the library's progress hook
// takes the lock back for a moment and runs the handlers; when one raises
// (KeyboardInterrupt), the cancel flag stops the library and the exception
// is raised once the call has returned.
class Interruptible {
public:
    Interruptible() : caller_(std::this_thread::get_id())
    {
        hooks.cancel = &cancel_;
        hooks.progress = [this](const tri3d::Progress&) { check(); };
    }

    // Raises what a signal handler raised during the call, if anything;
    // a signal that set the flag alone has its handler run now.
    void raiseIfInterrupted() const
    {
        if (interruption_)
            throw *interruption_;
        if (cancel_.load() && PyErr_CheckSignals() != 0)
            throw py::error_already_set();
    }

    std::atomic<bool>& cancel() { return cancel_; }

    tri3d::Hooks hooks;

private:
    void check()
    {
        // Handlers run on the main thread only, and one raise is enough.
        if (interruption_ || std::this_thread::get_id() != caller_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCheck_ < std::chrono::milliseconds(50))
            return;
        lastCheck_ = now;
        py::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() == 0)
            return;
        cancel_.store(true);
        // The hook must not throw into the library; with no memory to keep
        // the exception, the call still stops and says it was cancelled.
        try {
            interruption_ = std::make_unique<py::error_already_set>();
        } catch (...) {
            PyErr_Clear();
        }
    }

    std::thread::id caller_;
    std::atomic<bool> cancel_{false};
    std::chrono::steady_clock::time_point lastCheck_ = std::chrono::steady_clock::now();
    std::unique_ptr<py::error_already_set> interruption_;
};

// Where SIGINT sets the cancel flag of the main thread's call the moment it
// arrives, for steps that call the progress hook seldom or never (the
// normal estimate runs on several threads and tells only its start).
std::atomic<std::atomic<bool>*> mainThreadCancel{nullptr};
struct sigaction pythonInterrupt;  // Python's own handler, run after ours

extern "C" void cancelOnInterrupt(int signal)
{
    if (std::atomic<bool>* cancel = mainThreadCancel.load())
        cancel->store(true);
    pythonInterrupt.sa_handler(signal);
}

// While it lives, SIGINT also sets cancel: only on the main thread, where
// Python's handlers run, and only where SIGINT means KeyboardInterrupt, so
// that a handler of the user's own never has a call cut short.
class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(std::atomic<bool>& cancel)
    {
        py::module_ threading = py::module_::import("threading");
        py::module_ signals = py::module_::import("signal");
        if (!threading.attr("current_thread")().is(threading.attr("main_thread")()) ||
            !signals.attr("getsignal")(signals.attr("SIGINT")).is(signals.attr("default_int_handler")))
            return;
        struct sigaction current = {};
        if (::sigaction(SIGINT, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
            current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)
            return;
        pythonInterrupt = current;
        mainThreadCancel.store(&cancel);
        struct sigaction ours = current;
        ours.sa_handler = cancelOnInterrupt;
        active_ = ::sigaction(SIGINT, &ours, nullptr) == 0;
        if (!active_)
            mainThreadCancel.store(nullptr);
    }

    ~CancelOnInterrupt()
    {
        if (!active_)
            return;
        ::sigaction(SIGINT, &pythonInterrupt, nullptr);
        mainThreadCancel.store(nullptr);
    }

    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

private:
    bool active_ = false;
};

// Runs a library call without the interpreter lock, turning its errors
// into Python's: an interruption first, then what it threw, as kind.
template <typename Call>
auto unlocked(Interruptible& interruptible, PyObject* kind, Call call)
{
    std::optional<std::string> failure;
    std::optional<decltype(call())> result;
    {
        const CancelOnInterrupt forwarding(interruptible.cancel());
        py::gil_scoped_release unlock;
        try {
            result.emplace(call());
        } catch (const tri3d::Error& error) {
            failure = error.what();
        }
    }
    interruptible.raiseIfInterrupted();
    if (failure)
        raise(kind, *failure);
    return std::move(*result);
}

py::array_t<double> positionsOut(std::vector<tri3d::Vec3> rows)
{
    return arrayOf<tri3d::Vec3, double>(std::move(rows));
}

py::tuple readPoints(py::handle path)
{
    const std::string name = fileName(path);
    // The library's reason names the file but carries no errno, which
    // Python's OSError subclasses (FileNotFoundError, ...) are made from.
    if (std::FILE* file = std::fopen(name.c_str(), "rb")) {
        std::fclose(file);
    } else {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
        throw py::error_already_set();
    }
    Interruptible interruptible;
    tri3d::Cloud cloud =
        unlocked(interruptible, PyExc_OSError, [&] { return tri3d::readPoints(name, interruptible.hooks); });
    py::object normals = py::none();
    if (!cloud.normals.empty())
        normals = positionsOut(std::move(cloud.normals));
    return py::make_tuple(positionsOut(std::move(cloud.positions)), normals);
}

// Estimates the cloud's normals in place, without the interpreter lock.
void estimateInto(Interruptible& interruptible, tri3d::Cloud& cloud, unsigned neighbours)
{
    unlocked(interruptible, PyExc_ValueError, [&] {
        tri3d::estimateNormals(cloud, neighbours, interruptible.hooks);
        return true;
    });
}

py::array_t<double> estimateNormals(py::handle pointRows, long neighbours)
{
    const unsigned count = neighbourCount(neighbours);
    tri3d::Cloud cloud;
    cloud.positions = points(pointRows);
    Interruptible interruptible;
    estimateInto(interruptible, cloud, count);
    return positionsOut(std::move(cloud.normals));
}

py::array_t<std::uint32_t> reconstruct(py::handle pointRows, py::handle normalRows, py::handle search)
{
    const tri3d::Search method = searchNamed(search);
    tri3d::Cloud cloud;
    cloud.positions = points(pointRows);
    cloud.normals = normalsFor(normalRows, cloud.positions.size());
    // Without normals the library estimates them, as the command line does.
    Interruptible interruptible;
    tri3d::Mesh mesh = unlocked(interruptible, PyExc_ValueError,
                                [&] { return tri3d::reconstruct(cloud, method, interruptible.hooks); });
    return arrayOf<Face, std::uint32_t>(std::move(mesh.faces));
}

// A mesh over the caller's arrays; normals zero where none are given.
tri3d::Mesh meshOf(py::handle pointRows, py::handle faceRows, py::handle normalRows)
{
    tri3d::Mesh mesh;
    mesh.positions = points(pointRows);
    mesh.normals = normalsFor(normalRows, mesh.positions.size());
    if (mesh.normals.empty())
        mesh.normals.assign(mesh.positions.size(), tri3d::Vec3{0.0, 0.0, 0.0});
    mesh.faces = faces(faceRows, mesh.positions.size());
    return mesh;
}

py::array_t<std::uint32_t> repair(py::handle pointRows, py::handle faceRows, py::handle normalRows, long holes)
{
    if (holes < 0 || holes > kMostHoleEdges)
        raise(PyExc_ValueError,
              "holes must be 0 to " + std::to_string(kMostHoleEdges) + ", not " + std::to_string(holes));
    tri3d::Mesh mesh = meshOf(pointRows, faceRows, normalRows);
    Interruptible interruptible;
    if (normalRows.is_none()) {
        // As reconstruct estimates them, so that its faces repair as the
        // command line repairs a file without normals.
        tri3d::Cloud cloud;
        cloud.positions = mesh.positions;
        estimateInto(interruptible, cloud, 16);
        mesh.normals = std::move(cloud.normals);
    }
    unlocked(interruptible, PyExc_ValueError, [&] {
        tri3d::repair(mesh, static_cast<int>(holes));
        return true;
    });
    return arrayOf<Face, std::uint32_t>(std::move(mesh.faces));
}

py::dict report(py::handle pointRows, py::handle faceRows)
{
    const tri3d::Mesh mesh = meshOf(pointRows, faceRows, py::none());
    Interruptible interruptible;
    const tri3d::Report counts = unlocked(interruptible, PyExc_ValueError, [&] { return tri3d::report(mesh); });
    return py::dict("faces"_a = counts.faces, "vertices_used"_a = counts.verticesUsed, "edges"_a = counts.edges,
                    "boundary_edges"_a = counts.boundaryEdges, "boundary_loops"_a = counts.boundaryLoops,
                    "non_manifold_edges"_a = counts.nonManifoldEdges, "inconsistent_edges"_a = counts.inconsistentEdges,
                    "duplicate_faces"_a = counts.duplicateFaces, "zero_area_faces"_a = counts.zeroAreaFaces,
                    "components"_a = counts.components, "euler_characteristic"_a = counts.eulerCharacteristic,
                    "area"_a = counts.area);
}

void writeMesh(py::handle path, py::handle pointRows, py::handle faceRows, py::handle normalRows)
{
    const std::string name = fileName(path);
    std::string extension = name.substr(std::min(name.find_last_of('.'), name.size()));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.find_last_of('/') != std::string::npos && name.find_last_of('.') < name.find_last_of('/'))
        extension.clear();
    if (extension != ".ply" && extension != ".obj" && extension != ".off" && extension != ".stl")
        raise(PyExc_ValueError, "the mesh file's name must end in .ply, .obj, .off or .stl: " +
                                    describe(py::module_::import("os").attr("fsdecode")(path)));
    const tri3d::Mesh mesh = meshOf(pointRows, faceRows, normalRows);
    Interruptible interruptible;
    unlocked(interruptible, PyExc_OSError, [&] {
        tri3d::writeMesh(name, mesh, interruptible.hooks);
        return true;
    });
}

}  // namespace

PYBIND11_MODULE(tri3d, m)
{
    m.doc() = "Triangle surfaces from oriented points, by an advancing front.\n\n"
              "Points, normals and faces are numpy arrays: (N, 3) float64 and (M, 3) uint32. Faces index the\n"
              "points as given. Results are the tri3d command line's, face for face.";
    m.def("read_points", &readPoints, "path"_a,
          "read_points(path) -> (points, normals)\n\n"
          "Reads a point file (PLY or text). normals is None when the file has none.\n"
          "Raises OSError when the file cannot be read.");
    m.def("estimate_normals", &estimateNormals, "points"_a, "neighbours"_a = 16,
          "estimate_normals(points, neighbours=16) -> normals\n\n"
          "Unit normals from each point's nearest neighbours (3 to 100), oriented as the command line orients them.");
    m.def("reconstruct", &reconstruct, "points"_a, "normals"_a = py::none(), "search"_a = "kd",
          "reconstruct(points, normals=None, search='kd') -> faces\n\n"
          "Grows a triangle surface over the points. normals=None estimates them from 16 neighbours;\n"
          "search is 'kd' (KD-tree) or 'linear'. Runs without the interpreter lock; Ctrl-C stops it.");
    m.def("repair", &repair, "points"_a, "faces"_a, "normals"_a = py::none(), "holes"_a = 30,
          "repair(points, faces, normals=None, holes=30) -> faces\n\n"
          "Repairs a face list as the command line's clean:1 does, closing holes of up to `holes` edges.\n"
          "normals=None estimates them as reconstruct does.");
    m.def("report", &report, "points"_a, "faces"_a,
          "report(points, faces) -> dict\n\n"
          "The command line's report:1 counts: faces, vertices_used, edges, boundary_edges, boundary_loops,\n"
          "non_manifold_edges, inconsistent_edges, duplicate_faces, zero_area_faces, components,\n"
          "euler_characteristic, area.");
    m.def("write_mesh", &writeMesh, "path"_a, "points"_a, "faces"_a, "normals"_a = py::none(),
          "write_mesh(path, points, faces, normals=None)\n\n"
          "Writes a mesh file as the command line's out: does, its format by extension: .ply, .obj, .off, .stl.\n"
          "normals=None writes zero normals.");
}
