"""Pure-Python model of the quaternion math, written from the formulas with
Python floats (IEEE doubles) in the stated operation order.

Rotation is modelled the long way, as two Hamilton products around a
conjugate, so it checks the expanded kernel rather than restating it.

Python raises where C quietly returns NaN or infinity (x / 0.0, math.acos(2),
math.sin(inf)); the helpers below give the IEEE result instead.
"""
import math

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


def magnitude(q):
    w, i, j, k = q
    return math.sqrt(((w * w + i * i) + j * j) + k * k)


def normalize(q):
    n = magnitude(q)
    return tuple(div(c, n) for c in q)


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
