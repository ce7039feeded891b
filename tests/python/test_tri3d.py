"""The Python module against the command line it must agree with.

Run by ctest, which sets TRI3D_BINARY (the command line), TRI3D_SOURCE_DIR
and PYTHONPATH (the module just built).
"""
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
import tracemalloc

import numpy as np
import pytest

import tri3d

SOURCE = os.environ.get("TRI3D_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY = os.environ.get("TRI3D_BINARY", os.path.join(SOURCE, "build", "tri3d"))


def sample(name):
    return os.path.join(SOURCE, name)


def command_line(*words):
    """Runs the command line; returns its report:1 figures by their Python names."""
    run = subprocess.run([BINARY, *words, "view:0", "report:1", "progress:0"], capture_output=True, text=True,
                         check=True)
    figures = {}
    for line in run.stdout.splitlines():
        label, _, value = line.strip().partition(": ")
        figures[label.lower().replace(" ", "_").replace("-", "_")] = value
    return figures


def same_report(stats, figures):
    for key, value in stats.items():
        # The command line prints the area to twelve significant digits.
        assert (f"{value:.12g}" if key == "area" else str(value)) == figures[key], key


@pytest.fixture
def points_only(tmp_path):
    """A file of x y z lines, so that both sides estimate the normals."""
    path = tmp_path / "bare.xyz"
    rows = np.loadtxt(sample("tests/data/sphere200.xyz"))[:, :3]
    np.savetxt(path, rows, fmt="%.6f")
    return str(path)


# Every sample, plain and repaired, both searches, and a file without normals.
@pytest.mark.parametrize("name,search,clean", [
    ("samples/sphere.xyz", "kd", False),
    ("samples/sphere.xyz", "kd", True),
    ("samples/torus.xyz", "kd", False),
    ("samples/torus.xyz", "kd", True),
    ("tests/data/sphere200.xyz", "linear", False),
    ("bare", "kd", True),
])
def test_results_match_the_command_line(tmp_path, points_only, name, search, clean):
    path = points_only if name == "bare" else sample(name)
    written = tmp_path / "cli.ply"
    figures = command_line(f"file:{path}", f"kd:{int(search == 'kd')}", f"clean:{int(clean)}", f"out:{written}")

    points, normals = tri3d.read_points(path)
    if name == "bare":
        assert normals is None
        normals = tri3d.estimate_normals(points)
    faces = tri3d.reconstruct(points, normals, search=search)
    if clean:
        faces = tri3d.repair(points, faces, normals)
    tri3d.write_mesh(tmp_path / "py.ply", points, faces, normals)

    assert (tmp_path / "py.ply").read_bytes() == written.read_bytes()
    same_report(tri3d.report(points, faces), figures)


def test_every_layout_gives_the_same_faces():
    points, normals = tri3d.read_points(sample("tests/data/sphere200.xyz"))
    expected = tri3d.reconstruct(points, normals)
    wide = np.hstack([points, normals])
    for layout in (np.asfortranarray(points), wide[:, :3], points.tolist(), points.astype(">f8")):
        np.testing.assert_array_equal(tri3d.reconstruct(layout, wide[:, 3:]), expected)
    # Faces index the points as given, whatever dtype they come in.
    np.testing.assert_array_equal(tri3d.repair(points, expected.astype(np.int64), normals),
                                  tri3d.repair(points, expected, normals))


def converted_bytes(points, normals):
    """Bytes numpy allocated on the way in: the module's own copies are C++'s."""
    tracemalloc.start()
    try:
        tri3d.reconstruct(points, normals)
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def test_float64_rows_are_used_without_a_copy():
    points, normals = tri3d.read_points(sample("samples/torus.xyz"))
    # A C-ordered float64 array is read where it lies; a Fortran-ordered one
    # is converted once, so numpy allocates a whole copy.
    assert converted_bytes(points, normals) < points.nbytes // 4
    assert converted_bytes(np.asfortranarray(points), normals) >= points.nbytes


SQUARE = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], dtype=float)
UP = np.tile([0.0, 0.0, 1.0], (4, 1))
TWO = np.array([[0, 1, 2], [0, 2, 3]])


@pytest.mark.parametrize("call,error,words", [
    (lambda: tri3d.reconstruct(SQUARE[:, :2], None), ValueError, "shape (N, 3), not (4, 2)"),
    (lambda: tri3d.reconstruct(SQUARE.ravel(), None), ValueError, "not (12,)"),
    (lambda: tri3d.reconstruct(SQUARE, UP[:3]), ValueError, "normals has 3 rows but points has 4"),
    (lambda: tri3d.reconstruct(np.where(SQUARE == 1, np.inf, SQUARE), UP), ValueError, "points[1] is not finite"),
    (lambda: tri3d.reconstruct(SQUARE, UP * np.nan), ValueError, "normals[0] is not finite"),
    (lambda: tri3d.reconstruct(SQUARE, UP, search="octree"), ValueError, 'not "octree"'),
    (lambda: tri3d.reconstruct(SQUARE, UP, search=1), TypeError, "search"),
    (lambda: tri3d.reconstruct([["a", "b", "c"]], None), TypeError, "points must be an (N, 3) array of numbers"),
    (lambda: tri3d.reconstruct(SQUARE.astype(complex), UP), TypeError, "real numbers, not complex128"),
    (lambda: tri3d.estimate_normals(SQUARE, neighbours=2), ValueError, "neighbours must be 3 to 100, not 2"),
    (lambda: tri3d.repair(SQUARE, TWO + 2, UP), ValueError, "faces[0] names point 4, but points has 4"),
    (lambda: tri3d.repair(SQUARE, -TWO, UP), ValueError, "faces[0] names point -1"),
    (lambda: tri3d.repair(SQUARE, TWO.astype(float), UP), TypeError, "faces must hold integers"),
    (lambda: tri3d.repair(SQUARE, TWO, UP, holes=-1), ValueError, "holes must be 0 to 1000"),
    (lambda: tri3d.report(SQUARE, TWO[:, :2]), ValueError, "faces must have shape (M, 3)"),
    (lambda: tri3d.write_mesh("square.xyz", SQUARE, TWO), ValueError, ".ply, .obj, .off or .stl"),
    (lambda: tri3d.write_mesh("/nonexistent/square.ply", SQUARE, TWO), OSError, "/nonexistent/square.ply"),
    (lambda: tri3d.read_points("/nonexistent/points.xyz"), FileNotFoundError, "/nonexistent/points.xyz"),
    (lambda: tri3d.read_points("points.xyz\0.ply"), ValueError, "null character"),
])
def test_wrong_input_raises_and_names_the_problem(call, error, words):
    with pytest.raises(error) as raised:
        call()
    assert words in str(raised.value)


def test_two_threads_run_at_once_with_the_sequential_results():
    points, normals = tri3d.read_points(sample("samples/sphere.xyz"))
    expected = tri3d.reconstruct(points, normals, search="linear")
    results = [None, None]

    def work(slot):
        results[slot] = tri3d.reconstruct(points, normals, search="linear")

    threads = [threading.Thread(target=work, args=(slot,)) for slot in (0, 1)]
    for thread in threads:
        thread.start()
    # Holding the interpreter lock for the call would keep this loop still.
    ticks = 0
    while any(thread.is_alive() for thread in threads):
        ticks += 1
        time.sleep(0.001)
    assert ticks > 10
    for faces in results:
        np.testing.assert_array_equal(faces, expected)


# Calls of many seconds: the linear search calls the progress hook often,
# the normal estimate (on several threads) only as it begins.
@pytest.mark.parametrize("points,call", [
    (20000, 'tri3d.reconstruct(normals * 10, normals, search="linear")'),
    (300000, "tri3d.estimate_normals(normals * 10, neighbours=100)"),
])
def test_ctrl_c_stops_a_long_call_within_a_second(points, call):
    child = textwrap.dedent(f"""
        import sys, time
        import numpy as np
        import tri3d
        normals = np.random.default_rng(1).normal(size=({points}, 3))
        normals /= np.linalg.norm(normals, axis=1)[:, None]
        print("calling", flush=True)
        start = time.monotonic()
        try:
            {call}
            print("finished")
        except KeyboardInterrupt:
            print(f"interrupted {{time.monotonic() - start:.3f}}")
    """)
    process = subprocess.Popen([sys.executable, "-c", child], stdout=subprocess.PIPE, text=True)
    try:
        assert process.stdout.readline() == "calling\n"
        time.sleep(0.5)
        sent = time.monotonic()
        process.send_signal(signal.SIGINT)
        out, _ = process.communicate(timeout=60)
        took = time.monotonic() - sent
    finally:
        process.kill()
    words = out.split()
    assert words[0] == "interrupted" and float(words[1]) >= 0.5
    assert took < 1.0
