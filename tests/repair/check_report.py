#!/usr/bin/env python3
"""Counts what report:1 prints with code of its own, over the mesh the same
run exported, and checks the two agree; then checks that clean:1 makes a
closed torus and a closed sphere of random samples.

usage: check_report.py <tri3d> <scratch folder>
       check_report.py --count <mesh.ply|mesh.off>   (prints the figures)
"""
import math
import random
import re
import struct
import subprocess
import sys


def read_ply(path):
    data = open(path, "rb").read()
    end = data.index(b"end_header\n") + len(b"end_header\n")
    counts = {}
    for line in data[:end].decode("ascii").splitlines():
        words = line.split()
        if words[0] == "element":
            counts[words[1]] = int(words[2])
    positions = [struct.unpack_from("<3d", data, end + 48 * i) for i in range(counts["vertex"])]
    offset, faces = end + 48 * counts["vertex"], []
    for _ in range(counts["face"]):
        assert data[offset] == 3
        faces.append(struct.unpack_from("<3i", data, offset + 1))
        offset += 13
    return positions, faces


def read_off(path):
    words = open(path).read().split()
    assert words[0] == "OFF"
    nv, nf = int(words[1]), int(words[2])
    at = 4
    positions = [tuple(float(w) for w in words[at + 3 * i:at + 3 * i + 3]) for i in range(nv)]
    at += 3 * nv
    faces = []
    for _ in range(nf):
        assert words[at] == "3"
        faces.append(tuple(int(w) for w in words[at + 1:at + 4]))
        at += 4
    return positions, faces


def root(parent, i):
    while parent[i] != i:
        parent[i] = parent[parent[i]]
        i = parent[i]
    return i


def join(parent, a, b):
    a, b = root(parent, a), root(parent, b)
    if a != b:
        parent[max(a, b)] = min(a, b)


def count(positions, faces):
    uses = {}  # unordered pair -> list of (from, to)
    for f in faces:
        for k in range(3):
            a, b = f[k], f[(k + 1) % 3]
            uses.setdefault(frozenset((a, b)), []).append((a, b))
    figures = {"faces": len(faces), "vertices used": len({c for f in faces for c in f}), "edges": len(uses)}
    boundary = [e for e, u in uses.items() if len(u) == 1]
    figures["boundary edges"] = len(boundary)
    parent = {}
    for e in boundary:
        for p in e:
            parent.setdefault(p, p)
        a, b = tuple(e)
        join(parent, a, b)
    figures["boundary loops"] = len({root(parent, p) for p in parent})
    figures["non-manifold edges"] = sum(1 for u in uses.values() if len(u) > 2)
    figures["inconsistent edges"] = sum(1 for u in uses.values() if len(u) == 2 and u[0] == u[1])
    seen, duplicates = set(), 0
    for f in faces:
        key = tuple(sorted(f))
        duplicates += key in seen
        seen.add(key)
    figures["duplicate faces"] = duplicates
    zero, area = 0, 0.0
    for f in faces:
        a, b, c = (positions[i] for i in f)
        u = [b[i] - a[i] for i in range(3)]
        v = [c[i] - a[i] for i in range(3)]
        n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
        zero += n == (0.0, 0.0, 0.0)
        area += 0.5 * math.sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2])
    figures["zero-area faces"] = zero
    parent = list(range(len(faces)))
    first_face = {}
    for i, f in enumerate(faces):
        for k in range(3):
            e = frozenset((f[k], f[(k + 1) % 3]))
            if e in first_face:
                join(parent, first_face[e], i)
            else:
                first_face[e] = i
    figures["components"] = len({root(parent, i) for i in range(len(faces))})
    figures["Euler characteristic"] = figures["vertices used"] - figures["edges"] + figures["faces"]
    figures["area"] = area
    return figures


def reported(output):
    figures = {}
    for name, value in re.findall(r"^  ([A-Za-z -]+): (-?[0-9.e+-]+)$", output, re.M):
        figures[name] = float(value) if name == "area" else int(value)
    return figures


def sample(shape, n, seed, path):
    """Points drawn uniformly over the area of a torus (radii 3 and 1) or a
    sphere (radius 2), with exact normals: the gaps and clusters of random
    samples are what leaves the marks the repair must remove."""
    rng = random.Random(seed)
    with open(path, "w") as out:
        made = 0
        while made < n:
            if shape == "torus":
                u, v = rng.uniform(0, 2 * math.pi), rng.uniform(0, 2 * math.pi)
                if rng.uniform(0, 4) > 3 + math.cos(v):
                    continue  # the outer side has more area than the inner
                normal = (math.cos(v) * math.cos(u), math.cos(v) * math.sin(u), math.sin(v))
                ring = 3 + math.cos(v)
                position = (ring * math.cos(u), ring * math.sin(u), math.sin(v))
            else:
                z, t = rng.uniform(-1, 1), rng.uniform(0, 2 * math.pi)
                normal = (math.sqrt(1 - z * z) * math.cos(t), math.sqrt(1 - z * z) * math.sin(t), z)
                position = tuple(2 * c for c in normal)
            out.write("%.17g %.17g %.17g %.17g %.17g %.17g\n" % (position + normal))
            made += 1


def checked_run(tri3d, points, scratch, words):
    target = scratch + "/check_report.ply"
    output = subprocess.run([tri3d, "file:" + points, "view:0", "report:1", "out:" + target] + words,
                            check=True, capture_output=True, text=True).stdout
    ours, theirs = count(*read_ply(target)), reported(output)
    for name, value in ours.items():
        assert name in theirs, "no line for %s" % name
        if name == "area":
            assert abs(theirs[name] - value) <= 1e-9 * value, (name, theirs[name], value)
        else:
            assert theirs[name] == value, (name, theirs[name], value)
    return ours


def main():
    if sys.argv[1] == "--count":
        path = sys.argv[2]
        mesh = read_ply(path) if path.endswith(".ply") else read_off(path)
        for name, value in count(*mesh).items():
            print("  %s: %s" % (name, value))
        return
    tri3d, scratch = sys.argv[1:3]
    for shape, euler in (("torus", 0), ("sphere", 2)):
        points = "%s/random_%s.xyz" % (scratch, shape)
        sample(shape, 3000, 1, points)
        before = checked_run(tri3d, points, scratch, [])
        assert before["boundary edges"] > 0 and before["inconsistent edges"] > 0, before
        after = checked_run(tri3d, points, scratch, ["clean:1", "holes:100"])
        closed = {"boundary edges": 0, "non-manifold edges": 0, "inconsistent edges": 0, "duplicate faces": 0,
                  "components": 1, "Euler characteristic": euler}
        assert all(after[name] == value for name, value in closed.items()), (shape, after)
        print("check_report: %s, %d faces with %d boundary edges before, closed after, every figure agrees"
              % (shape, before["faces"], before["boundary edges"]))


if __name__ == "__main__":
    main()
