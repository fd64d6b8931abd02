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


def _exponent(xs):
    """frexp's exponent of the largest |x|; 0 when one is not finite."""
    return math.frexp(max(map(abs, xs)))[1] if all(map(math.isfinite, xs)) else 0


def _unit(s):
    return _vec.scale(s, div(1.0, _sqrt(_vec.dot(s, s))))


def direction(a):
    return _unit(tuple(math.ldexp(c, -_exponent(a)) for c in a))


def _scaled(m):
    e = _exponent([x for row in m for x in row])
    return [[math.ldexp(x, -e) for x in row] for row in m], e


def _triple(m):
    return _vec.dot(m[0], _vec.cross(m[1], m[2]))


def determinant(m):
    """The rows' triple product; where not a normal number, taken with m
    scaled by a power of two and scaled back."""
    d = _triple(m)
    if not all(math.isfinite(x) for row in m for x in row):
        return math.nan
    if math.isfinite(d) and abs(d) >= 2.0 ** -1022:
        return d
    s, e = _scaled(m)
    try:
        return math.ldexp(_triple(s), 3 * e)
    except OverflowError:  # C gives the infinity
        return math.copysign(math.inf, _triple(s))


def _branch_quat(m):
    (m00, m01, m02), (m10, m11, m12), (m20, m21, m22) = m
    trace = (m00 + m11) + m22
    # The branch: the first of trace, m00, m11, m22 that no later one exceeds.
    candidates = [trace, m00, m11, m22]
    branch = 0
    for n in (1, 2, 3):
        if candidates[n] > candidates[branch]:
            branch = n
    q = [(1.0 + trace, m21 - m12, m02 - m20, m10 - m01),
         (m21 - m12, ((1.0 + m00) - m11) - m22, m01 + m10, m02 + m20),
         (m02 - m20, m01 + m10, ((1.0 - m00) + m11) - m22, m12 + m21),
         (m10 - m01, m02 + m20, m12 + m21, ((1.0 - m00) - m11) + m22)][branch]
    return tuple(-c for c in q) if q[0] < 0.0 else q


def from_rotation_matrix(m):
    """The branch's four-vector, normalised; where its squares overflow (or
    an entry is not finite), that of the matrix scaled by a power of two."""
    q = _branch_quat(m)
    if not math.isfinite(((q[0] * q[0] + q[1] * q[1]) + q[2] * q[2]) + q[3] * q[3]):
        if not all(math.isfinite(x) for row in m for x in row):
            return (math.nan,) * 4
        q = _branch_quat(_scaled(m)[0])
    r = div(1.0, _sqrt(((q[0] * q[0] + q[1] * q[1]) + q[2] * q[2]) + q[3] * q[3]))
    return tuple(c * r for c in q)


def _fma(x, y, z):
    try:
        return math.fma(x, y, z)
    except ValueError:  # 0 * inf, inf - inf: C gives NaN
        return math.nan
    except OverflowError:  # C gives the infinity, as the plain operations do
        return x * y + z


def from_two_vectors(a, b):
    """The turn by the angle t between the directions about cross(a, b):
    |ua + ub| and |ua - ub| are 2cos(t/2) and 2sin(t/2); each component of
    the cross product is p*q - r*s with r*s's rounding error added back."""
    sa, sb = (tuple(math.ldexp(x, -_exponent(v)) for x in v) for v in (a, b))
    ua, ub = _unit(sa), _unit(sb)
    s, d = _vec.add(ua, ub), _vec.sub(ua, ub)
    ls, ld = _sqrt(_vec.dot(s, s)), _sqrt(_vec.dot(d, d))
    c = tuple(_fma(sa[i], sb[j], -(sa[j] * sb[i])) + _fma(-sa[j], sb[i], sa[j] * sb[i])
              for i, j in ((1, 2), (2, 0), (0, 1)))
    if c == (0.0, 0.0, 0.0) and ld < ls:
        return identity()
    if c == (0.0, 0.0, 0.0) and ls < ld:
        other = (0.0, 1.0, 0.0) if abs(ua[0]) > 0.9 else (1.0, 0.0, 0.0)
        return (0.0, *direction(_vec.cross(ua, other)))
    r = div(1.0, _sqrt(ls * ls + ld * ld))
    n = direction(c)
    return (ls * r, *(-(x * (ld * r)) for x in n))
