"""Lengths and directions of vectors and quaternions scaled by every power of
two from 2^-1074 to 2^1023, against mpmath (exact, its exponent unbounded)."""
import math
import random

import mpmath
import pytest

from models.bits import same, same_seq
from support.helpers import vt

orvath = pytest.importorskip("orvath")
Quat, Vec3d, VecList, geometry = orvath.Quat, orvath.Vec3d, orvath.VecList, orvath.geometry

_rng = random.Random(25)
DIRECTIONS = [tuple(_rng.uniform(-1.0, 1.0) for _ in range(4)) for _ in range(3)]
# Each direction times 2^k, rounded where the components become subnormal.
CASES = [tuple(math.ldexp(c, k) for c in d) for k in range(-1074, 1024) for d in DIRECTIONS]


def exact_length(c):
    return mpmath.sqrt(mpmath.fsum(mpmath.mpf(x) ** 2 for x in c))


def ulps(got, exact):
    """|got - exact| in units in the last place of the double nearest exact."""
    if exact >= 2**1024 - 2**970:  # rounds to inf
        return 0.0 if got == math.inf else math.inf
    e = max(mpmath.frexp(exact)[1] - 1, -1022) if exact else -1022
    return float(abs(mpmath.mpf(got) - exact) / mpmath.ldexp(1, e - 52))


@pytest.mark.parametrize("size, length", [
    (3, lambda c: Vec3d(*c).magnitude()),
    (3, lambda c: Vec3d(*c).distance_to(Vec3d(0, 0, 0))),
    (4, lambda c: Quat(*c).magnitude()),
], ids=["Vec3d.magnitude", "Vec3d.distance_to", "Quat.magnitude"])
def test_length_within_one_ulp_of_exact(size, length):
    with mpmath.workprec(300):
        far = [c[:size] for c in CASES if ulps(length(c[:size]), exact_length(c[:size])) > 1.0]
    assert not far, far[:3]


@pytest.mark.parametrize("size, direction", [
    (3, lambda c: vt(Vec3d(*c).normalize())),
    (3, lambda c: vt(geometry.Plane(Vec3d(*c), 1.0).normal)),
    (3, lambda c: vt(geometry.Plane.from_point(Vec3d(*c), Vec3d(1, 2, 3)).normal)),
    (3, lambda c: vt(geometry.Circle(Vec3d(0, 0, 0), 1.0, Vec3d(*c)).normal)),
    (4, lambda c: (lambda q: (q.w, q.i, q.j, q.k))(Quat(*c).normalize())),
], ids=["Vec3d.normalize", "Plane", "Plane.from_point", "Circle", "Quat.normalize"])
def test_direction_within_two_ulps_of_exact_unit(size, direction):
    far = []
    with mpmath.workprec(300):
        for c in (c[:size] for c in CASES if any(c[:size])):
            u, n = direction(c), exact_length(c)
            if abs(exact_length(u) - 1) > 2.0**-51 or max(abs(x - y / n) for x, y in zip(u, c)) > 2.0**-51:
                far.append(c)
    assert not far, far[:3]


def test_angle_to_is_the_angle_at_scale_one():
    # Pairs at 2^k and 2^(-51-k): tiny with huge, both near 1 midway.
    for k in range(-1074, 1024):
        a, b = (Vec3d(*(math.ldexp(c, s) for c in d[:3])) for d, s in zip(DIRECTIONS, (k, -51 - k)))
        a1, b1 = (Vec3d(*(math.ldexp(c, -s) for c in vt(v))) for v, s in ((a, k), (b, -1 - k)))
        assert same(a.angle_to(b).angle, a1.angle_to(b1).angle), (k, a, b)


SPECIAL = [(0.0, 0.0, 0.0), (math.nan, 1e200, 0.0), (math.inf, 1e-200, 0.0), (-0.0, 5e-324, 0.0)]


@pytest.mark.parametrize("name, args", [
    ("magnitude", ()), ("normalize", ()), ("is_unit", ()),
    ("distance_to", (Vec3d(1e300, -1e-300, 3.0),)),
])
def test_bulk_members_give_the_single_bits(name, args):
    # Blocks of the list hold plain and rescaled elements side by side.
    vectors = [Vec3d(*c[:3]) for c in CASES + SPECIAL]
    got = getattr(VecList(vectors), name)(*args)
    singles = [getattr(v, name)(*args) for v in vectors]
    if name == "normalize":
        got, singles = [vt(v) for v in got], [vt(v) for v in singles]
        assert all(same_seq(g, s) for g, s in zip(got, singles, strict=True))
    else:
        assert same_seq(got, singles)
