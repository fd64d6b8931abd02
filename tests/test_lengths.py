"""Lengths and directions at every power of two from 2^-1074 to 2^1023, against mpmath (unbounded exponents)."""
import math
import random

import mpmath
import pytest

from models.bits import same
from support.helpers import vt

orvath = pytest.importorskip("orvath")
Quat, Vec3d, geometry = orvath.Quat, orvath.Vec3d, orvath.geometry
_rng = random.Random(25)
# Three random directions at each 2^k, rounded where the components become subnormal.
CASES = [(k, tuple(math.ldexp(_rng.uniform(-1, 1), k) for _ in range(4))) for k in range(-1074, 1024) for _ in "abc"]


def length(c, bits=300):
    """sqrt(((c0^2 + c1^2) + c2^2) [+ c3^2]), each step rounded to `bits` bits: 53 is the formula itself."""
    with mpmath.workprec(bits):
        return mpmath.sqrt(sum((mpmath.mpf(x) ** 2 for x in c[1:]), mpmath.mpf(c[0]) ** 2))


@pytest.mark.parametrize("size, call, ulps", [
    (3, lambda c: Vec3d(*c).magnitude(), 1), (3, lambda c: Vec3d(*c).distance_to(Vec3d(0, 0, 0)), 1),
    (4, lambda c: Quat(*c).magnitude(), 1), (3, lambda c: vt(Vec3d(*c).normalize()), 2),
    (3, lambda c: vt(geometry.Plane(Vec3d(*c), 1.0).normal), 2),
    (3, lambda c: vt(geometry.Circle(Vec3d(0, 0, 0), 1.0, Vec3d(*c)).normal), 2),
    (4, lambda c: (lambda q: (q.w, q.i, q.j, q.k))(Quat(*c).normalize()), 2),
], ids=["magnitude", "distance_to", "Quat.magnitude", "normalize", "Plane", "Circle", "Quat.normalize"])
def test_within_ulps_of_exact(size, call, ulps):
    far = []
    with mpmath.workprec(300):
        for c in (c[:size] for _, c in CASES if any(c[:size])):
            got = call(c)
            if isinstance(got, float):  # a length, in ulps of the double nearest n; inf beyond the range
                n = length(c, 53)
                ulp = mpmath.ldexp(1, max(mpmath.frexp(n)[1] - 1, -1022) - 52)
                bad = got != math.inf if n >= 2**1024 - 2**970 else abs(got - n) > ulps * ulp
            else:  # a unit vector: its length and components within ulps of 1's ulp
                n = length(c)
                bad = max([abs(length(got) - 1)] + [abs(x - y / n) for x, y in zip(got, c)]) > ulps * 2**-52
            far += [c] * bad
    assert not far, far[:3]


def test_angle_to_is_the_angle_at_scale_one():
    # The pairs meet at 2^k and 2^(-51-k): tiny with huge, both near 1 midway.
    for (k, a), (m, b) in zip(CASES, reversed(CASES)):
        back = [Vec3d(*(math.ldexp(x, -s) for x in v[:3])) for v, s in ((a, k), (b, m))]
        assert same(Vec3d(*a[:3]).angle_to(Vec3d(*b[:3])).angle, back[0].angle_to(back[1]).angle), (a, b)
