#!/usr/bin/env python3
"""Reads tri3d's PLY, OBJ and STL exports with a reader of its own, independent of
the program's code, and checks they agree with each other and with the
program's report.

usage: check_mesh.py <tri3d> <points file> <scratch folder>
"""
import re
import struct
import subprocess
import sys


def export(tri3d, points, target):
    out = subprocess.run([tri3d, "file:" + points, "kd:0", "view:0", "out:" + target],
                         check=True, capture_output=True, text=True).stdout
    return int(re.search(r"\|P\| = (\d+)", out).group(1)), int(re.search(r"\|T\| = (\d+)", out).group(1))


def read_ply(path):
    data = open(path, "rb").read()
    end = data.index(b"end_header\n") + len(b"end_header\n")
    header = data[:end].decode("ascii").splitlines()
    assert header[0] == "ply" and header[1] == "format binary_little_endian 1.0", header[:2]
    counts, props = {}, []
    for line in header:
        words = line.split()
        if words[0] == "element":
            counts[words[1]] = int(words[2])
        elif words[0] == "property" and words[1] != "list":
            props.append((words[1], words[2]))
        elif words[0] == "property":
            assert words[1:] == ["list", "uchar", "int", "vertex_indices"], words
    assert props == [("double", n) for n in ("x", "y", "z", "nx", "ny", "nz")], props
    vertices = [struct.unpack_from("<6d", data, end + 48 * i) for i in range(counts["vertex"])]
    offset, faces = end + 48 * counts["vertex"], []
    for _ in range(counts["face"]):
        n = data[offset]
        faces.append(struct.unpack_from("<%di" % n, data, offset + 1))
        offset += 1 + 4 * n
    assert offset == len(data), "trailing bytes"
    return vertices, faces


def read_obj(path):
    positions, normals, faces = [], [], []
    for line in open(path):
        words = line.split()
        if not words or words[0] == "#":
            continue
        if words[0] == "v":
            positions.append(tuple(float(w) for w in words[1:4]))
        elif words[0] == "vn":
            normals.append(tuple(float(w) for w in words[1:4]))
        elif words[0] == "f":
            corners = [w.split("//") for w in words[1:]]
            assert all(a == b for a, b in corners), corners
            faces.append(tuple(int(a) - 1 for a, _ in corners))
    return [p + n for p, n in zip(positions, normals)], faces


def read_stl(path):
    data = open(path, "rb").read()
    assert not data.startswith(b"solid"), "binary STL must not open like the text form"
    (count,) = struct.unpack_from("<I", data, 80)
    assert len(data) == 84 + 50 * count, (len(data), count)
    faces = []
    for i in range(count):
        values = struct.unpack_from("<12fH", data, 84 + 50 * i)
        normal, corners = values[0:3], [values[3 + 3 * k:6 + 3 * k] for k in range(3)]
        assert abs(sum(c * c for c in normal) - 1.0) < 1e-5, normal
        assert values[12] == 0
        faces.append(corners)
    return faces


def as_float(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def main():
    tri3d, points, scratch = sys.argv[1:4]
    ply_counts = export(tri3d, points, scratch + "/check.ply")
    obj_counts = export(tri3d, points, scratch + "/check.obj")
    assert ply_counts == obj_counts, (ply_counts, obj_counts)
    points_count, triangle_count = ply_counts
    ply = read_ply(scratch + "/check.ply")
    obj = read_obj(scratch + "/check.obj")
    assert len(ply[0]) == points_count, (len(ply[0]), points_count)
    assert len(ply[1]) == triangle_count, (len(ply[1]), triangle_count)
    assert ply == obj, "PLY and OBJ disagree"
    stl_counts = export(tri3d, points, scratch + "/check.stl")
    assert stl_counts == ply_counts, (stl_counts, ply_counts)
    stl = read_stl(scratch + "/check.stl")
    assert len(stl) == triangle_count, (len(stl), triangle_count)
    for corners, face in zip(stl, ply[1]):
        assert corners == [tuple(as_float(c) for c in ply[0][i][:3]) for i in face], "STL corners differ"
    for face in ply[1]:
        assert len(face) == 3 and len(set(face)) == 3, face
        assert all(0 <= i < points_count for i in face), face
    print("check_mesh: %d vertices, %d faces agree in PLY, OBJ and STL" % (points_count, triangle_count))


if __name__ == "__main__":
    main()
