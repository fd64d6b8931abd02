"""Per-call cost of single orvath operations against their PyGLM counterparts.

Prints, for each operation, the median time per call of orvath and of PyGLM in
nanoseconds and the ratio orvath / PyGLM, then the geometric mean of the ratios.
Both sides run in the same timeit harness, so the loop overhead is shared.
"""
import math
import os
import statistics
import sys
import timeit

import glm

import orvath
from orvath import geometry

REPEATS = int(os.environ.get("ORVATH_BENCH_REPEATS", "15"))
NUMBER = int(os.environ.get("ORVATH_BENCH_NUMBER", "200000"))

env = {
    "Vec3d": orvath.Vec3d, "glm": glm, "geometry": geometry,
    "v": orvath.Vec3d(1.0, 2.0, 3.0), "w": orvath.Vec3d(4.0, 5.0, 6.0),
    "g": glm.dvec3(1.0, 2.0, 3.0), "h": glm.dvec3(4.0, 5.0, 6.0),
    "q": orvath.Quat.from_axis_angle(orvath.Vec3d(0.0, 0.0, 1.0), orvath.AngleRadians(0.5)),
    "gq": glm.angleAxis(0.5, glm.dvec3(0.0, 0.0, 1.0)),
    "a": orvath.AngleRadians(0.25), "b": orvath.AngleRadians(0.5),
    "ga": glm.dvec1(0.25), "gb": glm.dvec1(0.5),
    "plane": geometry.Plane(orvath.Vec3d(0.0, 0.0, 1.0), 5.0),
    "pa": orvath.Vec3d(1.0, 1.0, 1.0), "pb": orvath.Vec3d(2.0, 2.0, 2.0),
    "gn": glm.dvec3(0.0, 0.0, 1.0), "gd": -5.0, "gpa": glm.dvec3(1.0, 1.0, 1.0), "gpb": glm.dvec3(2.0, 2.0, 2.0),
    "Quat": orvath.Quat,
    "p": orvath.Quat.from_axis_angle(orvath.Vec3d(0.0, 1.0, 0.0), orvath.AngleRadians(1.25)),
    "gp": glm.angleAxis(1.25, glm.dvec3(0.0, 1.0, 0.0)),
    "ua": orvath.Vec3d(0.6, 0.8, 0.0), "ub": orvath.Vec3d(0.0, 0.6, 0.8),
    "gua": glm.dvec3(0.6, 0.8, 0.0), "gub": glm.dvec3(0.0, 0.6, 0.8),
}
# The matrix as each side holds one: orvath's rows as returned by
# to_rotation_matrix, PyGLM's dmat3 of the same rotation.
env["m"] = env["q"].to_rotation_matrix()
env["gm"] = glm.mat3_cast(env["gq"])

CASES = [
    ("Vec3d(1.0, 2.0, 3.0)", "Vec3d(1.0, 2.0, 3.0)", "glm.dvec3(1.0, 2.0, 3.0)"),
    ("v.x", "v.x", "g.x"),
    ("v + w", "v + w", "g + h"),
    ("v * 2.0", "v * 2.0", "g * 2.0"),
    ("2.0 * v", "2.0 * v", "2.0 * g"),
    ("v.dot(w)", "v.dot(w)", "glm.dot(g, h)"),
    ("v.cross(w)", "v.cross(w)", "glm.cross(g, h)"),
    ("v.normalize()", "v.normalize()", "glm.normalize(g)"),
    ("v.magnitude()", "v.magnitude()", "glm.length(g)"),
    ("q.rotate(v)", "q.rotate(v)", "gq * g"),
    ("v == w", "v == w", "g == h"),
    ("hash(v)", "hash(v)", "hash(g)"),
    ("repr(v)", "repr(v)", "repr(g)"),
    ("AngleRadians a + b", "a + b", "ga + gb"),
    ("AngleRadians a * 2.0", "a * 2.0", "ga * 2.0"),
    ("geometry.plane_line", "geometry.plane_line(plane, pa, pb)",
     "gpa + (gpb - gpa) * (-(glm.dot(gn, gpa) + gd) / glm.dot(gn, gpb - gpa))"),
    # PyGLM's product applies its right operand first, so "p, then q" is gq * gp;
    # its rotation between two unit vectors is the dquat(u, v) constructor.
    ("p.then(q)", "p.then(q)", "gq * gp"),
    ("q.inverse()", "q.inverse()", "glm.inverse(gq)"),
    ("p.slerp(q, 0.25)", "p.slerp(q, 0.25)", "glm.slerp(gp, gq, 0.25)"),
    ("Quat.from_rotation_matrix", "Quat.from_rotation_matrix(m)", "glm.quat_cast(gm)"),
    ("Quat.from_two_vectors", "Quat.from_two_vectors(ua, ub)", "glm.dquat(gua, gub)"),
]
# The rotation members added after the first release, reported with their own
# geometric mean.
ADDED = {"p.then(q)", "q.inverse()", "p.slerp(q, 0.25)", "Quat.from_rotation_matrix", "Quat.from_two_vectors"}
# Not in either mean: PyGLM reading the same Python rows that orvath reads
# (dmat3 takes them as columns, a transpose that costs nothing here), where the
# row above hands it a matrix object it already holds.
SAME_INPUT = ("from_rotation_matrix, both from rows", "Quat.from_rotation_matrix(m)", "glm.quat_cast(glm.dmat3(m))")


def per_call_ns(ours, theirs):
    """Median (and spread) of ns per call for both statements, timed in
    alternation so that a busy moment of the machine hits both alike."""
    timers = [timeit.Timer(ours, globals=env), timeit.Timer(theirs, globals=env)]
    number = NUMBER if "repr" not in ours else NUMBER // 4
    samples = ([], [])
    for t in timers:
        t.timeit(number // 10)  # warm up the specialising interpreter
    for _ in range(REPEATS):
        for side, t in enumerate(timers):
            samples[side].append(t.timeit(number) / number * 1e9)
    return [(statistics.median(s), min(s), max(s)) for s in samples]


def main():
    print(f"Python {sys.version.split()[0]}, PyGLM {glm.version}, {REPEATS} repeats x {NUMBER} calls")
    print(f"{'operation':<24}{'orvath ns':>12}{'PyGLM ns':>12}{'ratio':>8}   orvath spread")
    ratios = {}
    rows = []
    for name, ours, theirs in CASES + [SAME_INPUT]:
        (o_med, o_min, o_max), (g_med, _, _) = per_call_ns(ours, theirs)
        ratio = o_med / g_med
        ratios[name] = ratio
        rows.append({"operation": name, "orvath_ns": o_med, "pyglm_ns": g_med})
        print(f"{name:<24}{o_med:>12.1f}{g_med:>12.1f}{ratio:>8.2f}   {o_min:.1f}-{o_max:.1f}")
    for label, names in (("first surface", [c[0] for c in CASES if c[0] not in ADDED]),
                         ("rotation members", [c[0] for c in CASES if c[0] in ADDED])):
        geo = math.exp(sum(math.log(ratios[n]) for n in names) / len(names))
        worst = max(ratios[n] for n in names)
        print(f"{'geometric mean, ' + label:<48}{geo:>8.2f}   (target <= 1.0)")
        print(f"{'worst, ' + label:<48}{worst:>8.2f}   (target <= 1.25)")
    path = os.environ.get("ORVATH_BENCH_JSON")
    if path:
        import json
        with open(path, "w") as fh:
            json.dump(rows, fh, indent=1)


if __name__ == "__main__":
    main()
