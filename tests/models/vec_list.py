"""Pure-Python model of the VecList results that are more than one vector
formula per element: the IEEE 754 totalOrder key, the two-pass nearest-element
search, the list text, the exact sums and the bounds. Element-wise members are
the vector formulas of models.vec applied to each element in order."""
import math
import struct
from fractions import Fraction

from models import vec

_MAGNITUDE_BITS = (1 << 63) - 1


def total_order_key(d: float) -> int:
    """An integer that orders doubles as IEEE 754 totalOrder does: for a
    negative sign the magnitude order is reversed, so every negative pattern
    (a NaN with the sign bit included) sorts below every positive one."""
    b = struct.unpack("<q", struct.pack("<d", d))[0]
    return b ^ _MAGNITUDE_BITS if b < 0 else b


def _best(points, o, indices):
    best = None
    best_key = None
    for i in indices:
        k = total_order_key(vec.distance_squared(points[i], o))
        if best is None or k < best_key:
            best, best_key = i, k
    return best


def minimum_distance_to(points, o, stride):
    """(index, distance) of the coarse-to-fine search: the best of every
    stride-th element, then the best within stride positions of it. Needs a
    non-empty list and a stride of at least 1."""
    n = len(points)
    c = _best(points, o, range(0, n, stride))
    start = c - stride if c >= stride else 0
    end = c + stride if c + stride <= n else n
    p = _best(points, o, range(start, end))
    return p, vec.distance_to(points[p], o)


def collapse(p, axis):
    return tuple(0.0 if k == axis else c for k, c in enumerate(p))


def text(points) -> str:
    return "[" + "\n".join(
        "Vec3d(" + ", ".join(vec.float_text(c) for c in p) + ")" for p in points) + "]"


def exact_sum(column):
    """math.fsum, except that both infinities give NaN and that a sum beyond
    the double range gives an infinity: the exact rational sum, rounded once
    (int / int rounds to nearest, ties to even), decides what fsum refuses."""
    specials = {x for x in column if not math.isfinite(x)}
    if any(math.isnan(x) for x in specials) or len(specials) == 2:
        return math.nan
    if specials:
        return specials.pop()
    try:
        return math.fsum(column)
    except OverflowError:  # fsum overflows on the way; the exact sum may not
        total = sum(map(Fraction, column))
        try:
            return total.numerator / total.denominator
        except OverflowError:
            return math.inf if total > 0 else -math.inf


def bounds(column):
    """(minimum, maximum) in totalOrder (-0.0 below +0.0); NaN for both when a NaN is present."""
    if any(math.isnan(x) for x in column):
        return math.nan, math.nan
    return min(column, key=total_order_key), max(column, key=total_order_key)
