"""Pure-Python model of the quaternion math, written from the formulas with
Python floats (IEEE doubles) in the stated operation order.

Rotation is modelled the long way, as two Hamilton products around a
conjugate, so it checks the expanded kernel rather than restating it.

Python raises where C quietly returns NaN or infinity (x / 0.0, math.acos(2),
math.sin(inf)); the helpers below give the IEEE result instead.
"""
import math

from models import vec as _vec

EPSILON = 2.0 ** -52


def div(a: float, b: float) -> float:
    if b != 0.0:
        return a / b
    if math.isnan(a) or a == 0.0:
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def _libm(fn, x: float) -> float:
    try:
        return fn(x)
    except ValueError:  # domain error: C returns NaN
        return math.nan


def sin(x):
    return _libm(math.sin, x)


def cos(x):
    return _libm(math.cos, x)


def acos(x):
    return _libm(math.acos, x)


def hamilton(a, b):
    w1, x1, y1, z1 = a
    w2, x2, y2, z2 = b
    return (
        ((w1 * w2 - x1 * x2) - y1 * y2) - z1 * z2,
        ((w1 * x2 + x1 * w2) + y1 * z2) - z1 * y2,
        ((w1 * y2 + y1 * w2) + z1 * x2) - x1 * z2,
        ((w1 * z2 + z1 * w2) + x1 * y2) - y1 * x2,
    )


def identity():
    return (1.0, 0.0, 0.0, 0.0)


def from_axis_angle(axis, t):
    x, y, z = axis
    h = t * -0.5
    s = sin(h)
    c = cos(h)
    return (c, x * s, y * s, z * s)


def conjugate(q):
    w, i, j, k = q
    return (w, -i, -j, -k)


magnitude = _vec.magnitude
normalize = _vec.normalize


def is_unit(q):
    return abs(magnitude(q) - 1.0) < EPSILON


def approx_eq(p, q):
    return all(abs(a - b) < EPSILON for a, b in zip(p, q))


def to_axis_angle(q):
    w, i, j, k = q
    if abs(w - 1.0) < EPSILON:
        return (1.0, 0.0, 0.0), 0.0
    a = acos(w)
    angle = a + a
    s = sin(0.5 * angle)
    return (div(i, s), div(j, s), div(k, s)), angle


def to_rotation_matrix(q):
    w, i, j, k = q

    def twice(e):
        return e + e

    return [
        [1.0 - twice(j * j + k * k), twice(i * j - w * k), twice(i * k + w * j)],
        [twice(i * j + w * k), 1.0 - twice(i * i + k * k), twice(j * k - w * i)],
        [twice(i * k - w * j), twice(j * k + w * i), 1.0 - twice(i * i + j * j)],
    ]


def to_vec3d(q):
    return (q[1], q[2], q[3])


def rotate(q, v):
    e = hamilton(conjugate(q), (0.0, *v))
    r = hamilton(e, q)
    return (r[1], r[2], r[3])


def float_text(x: float) -> str:
    """Positional text of a double: repr's shortest digits, no exponent, no
    trailing '.0'."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    if x == 0.0:
        return sign + "0"
    mantissa, _, exp = repr(abs(x)).partition("e")
    whole, _, frac = mantissa.partition(".")
    digits = (whole + frac).lstrip("0")
    # position of the decimal point relative to the start of `digits`
    k = len(whole) + (int(exp) if exp else 0)
    if whole == "0":
        k -= len(frac) - len(frac.lstrip("0")) + 1
    digits = digits.rstrip("0") or "0"
    n = len(digits)
    if k >= n:
        return sign + digits + "0" * (k - n)
    if k > 0:
        return sign + digits[:k] + "." + digits[k:]
    return sign + "0." + "0" * (-k) + digits


# ---------------------------------------------------------------------------
# Composition, inversion, interpolation, and construction from a matrix or
# from two directions. Vectors go through the vector model.

def _sqrt(x):
    return math.nan if math.isnan(x) or x < 0.0 else math.sqrt(x)


def then(p, q):
    """p first, then q: the Hamilton product in this order."""
    return hamilton(p, q)


def inverse(q):
    w, i, j, k = q
    n = ((w * w + i * i) + j * j) + k * k
    return tuple(div(c, n) for c in conjugate(q))


SLERP_LINEAR_ABOVE = 1.0 - 2.0 ** -26


def slerp(p, q, t):
    d = ((p[0] * q[0] + p[1] * q[1]) + p[2] * q[2]) + p[3] * q[3]
    if d < 0.0:
        q = tuple(-c for c in q)
        d = -d
    if d > SLERP_LINEAR_ABOVE:
        a, b = 1.0 - t, t
    else:
        theta = acos(d)
        s = sin(theta)
        a = div(sin((1.0 - t) * theta), s)
        b = div(sin(t * theta), s)
    blend = tuple(pc * a + qc * b for pc, qc in zip(p, q))
    return normalize(blend) if d > SLERP_LINEAR_ABOVE else blend


def from_rotation_matrix(m):
    (m00, m01, m02), (m10, m11, m12), (m20, m21, m22) = m
    trace = (m00 + m11) + m22
    # The branch: the first of trace, m00, m11, m22 that no later one exceeds.
    candidates = [trace, m00, m11, m22]
    branch = 0
    for n in (1, 2, 3):
        if candidates[n] > candidates[branch]:
            branch = n
    if branch == 0:
        r = _sqrt(1.0 + trace)
        big, others = "w", {"i": m21 - m12, "j": m02 - m20, "k": m10 - m01}
    elif branch == 1:
        r = _sqrt(((1.0 + m00) - m11) - m22)
        big, others = "i", {"w": m21 - m12, "j": m01 + m10, "k": m02 + m20}
    elif branch == 2:
        r = _sqrt(((1.0 - m00) + m11) - m22)
        big, others = "j", {"w": m02 - m20, "i": m01 + m10, "k": m12 + m21}
    else:
        r = _sqrt(((1.0 - m00) - m11) + m22)
        big, others = "k", {"w": m10 - m01, "i": m02 + m20, "j": m12 + m21}
    parts = {name: div(e, r + r) for name, e in others.items()}
    parts[big] = 0.5 * r
    q = (parts["w"], parts["i"], parts["j"], parts["k"])
    if q[0] < 0.0:
        q = tuple(-c for c in q)
    return q


def from_two_vectors(a, b):
    ua = _vec.normalize(a)
    ub = _vec.normalize(b)
    s = _vec.add(ua, ub)
    if _vec.dot(s, s) < 2.0 ** -52:
        other = (0.0, 1.0, 0.0) if abs(ua[0]) > 0.9 else (1.0, 0.0, 0.0)
        return (0.0, *_vec.normalize(_vec.cross(ua, other)))
    return normalize((_vec.dot(ua, s), *_vec.cross(s, ua)))
