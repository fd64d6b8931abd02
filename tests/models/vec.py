"""Pure-Python model of the vector formulas, the vector hash and the float text
form, written from the formulas with one Python float operation per step in the
same grouping. Python floats are IEEE doubles, so results match bit for bit.

Python raises where IEEE arithmetic does not (division by zero, math domain
errors); the helpers below give the IEEE result instead."""
import math
import struct

EPSILON = 2.0 ** -52
MASK = (1 << 64) - 1


# --- IEEE stand-ins for operations Python refuses -------------------------

def div(a: float, b: float) -> float:
    if b != 0.0:
        return a / b
    if math.isnan(a) or a == 0.0:
        return math.nan
    negative = (math.copysign(1.0, a) < 0) != (math.copysign(1.0, b) < 0)
    return -math.inf if negative else math.inf


def sqrt(x: float) -> float:
    if math.isnan(x) or x < 0.0:
        return math.nan
    return math.sqrt(x)


def acos(x: float) -> float:
    if math.isnan(x) or abs(x) > 1.0:
        return math.nan
    return math.acos(x)


# --- vectors are (x, y, z) tuples of floats -------------------------------

def add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def scale(a, s):
    return (a[0] * s, a[1] * s, a[2] * s)


def divide(a, s):
    return (div(a[0], s), div(a[1], s), div(a[2], s))


def negate(a):
    return (-a[0], -a[1], -a[2])


def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1],
            a[2] * b[0] - a[0] * b[2],
            a[0] * b[1] - a[1] * b[0])


# Lengths of 3 or 4 floats: where the plain sum of squares is not a normal double, components finite and not
# all zero, the formula runs on c * 2**-e (e the exponent of the largest) and a length is scaled back by 2**e.
def _scaled(c, force=False):
    if not force and 2.0 ** -1022 <= sum_squares(c) < math.inf or not all(map(math.isfinite, c)) or not any(c):
        return c, 0
    e = math.frexp(max(map(abs, c)))[1] - 1
    return tuple(math.ldexp(x, -e) for x in c), e


def sum_squares(c):
    return ((c[0] * c[0] + c[1] * c[1]) + c[2] * c[2]) + (c[3] * c[3] if len(c) == 4 else 0.0)


def magnitude(c):
    c, e = _scaled(c)
    return sqrt(sum_squares(c)) * 2.0 ** e


def normalize(c):
    c, _ = _scaled(c)
    return tuple(div(x, sqrt(sum_squares(c))) for x in c)


def is_unit(a):
    return abs(magnitude(a) - 1.0) < EPSILON


def angle_to(a, b):
    if _scaled(a)[1] or _scaled(b)[1]:
        a, b = _scaled(a, True)[0], _scaled(b, True)[0]
    d = dot(a, b)
    ma = magnitude(a)
    mb = magnitude(b)
    q = div(d, ma * mb)
    if q > 1.0:
        q = 1.0
    if q < -1.0:
        q = -1.0
    return acos(q)


def distance_squared(a, b):
    dx = a[0] - b[0]
    dy = a[1] - b[1]
    dz = a[2] - b[2]
    return (dx * dx + dy * dy) + dz * dz


def distance_to(a, b):
    return magnitude(sub(a, b))


def new_from_to(frm, to):
    return sub(to, frm)


def distance_to_line(p, a, b):
    d = sub(b, a)
    w = sub(p, a)
    u = div(dot(w, d), dot(d, d))
    f = (d[0] * u + a[0], d[1] * u + a[1], d[2] * u + a[2])
    return magnitude(sub(p, f))


def project_onto_line(p, line_r, line_q):
    d = sub(line_r, line_q)
    w = sub(line_q, p)
    t = div(dot(w, d), dot(d, d))
    return (line_q[0] - t * d[0], line_q[1] - t * d[1], line_q[2] - t * d[2])


def project_onto_plane(p, n):
    s = dot(p, n)
    return (p[0] - s * n[0], p[1] - s * n[1], p[2] - s * n[2])


def scalar_triple_product(a, b, c):
    c1 = b[1] * c[2] - b[2] * c[1]
    c2 = b[2] * c[0] - b[0] * c[2]
    c3 = b[0] * c[1] - b[1] * c[0]
    return (a[0] * c1 + a[1] * c2) + a[2] * c3


def approx_eq(a, b):
    return (abs(a[0] - b[0]) < EPSILON and abs(a[1] - b[1]) < EPSILON
            and abs(a[2] - b[2]) < EPSILON)


# --- hash: SipHash-1-3, zero key, over the 24 component bytes --------------

def _rotl(v, n):
    return ((v << n) | (v >> (64 - n))) & MASK


def _sipround(v0, v1, v2, v3):
    v0 = (v0 + v1) & MASK
    v1 = _rotl(v1, 13) ^ v0
    v0 = _rotl(v0, 32)
    v2 = (v2 + v3) & MASK
    v3 = _rotl(v3, 16) ^ v2
    v0 = (v0 + v3) & MASK
    v3 = _rotl(v3, 21) ^ v0
    v2 = (v2 + v1) & MASK
    v1 = _rotl(v1, 17) ^ v2
    v2 = _rotl(v2, 32)
    return v0, v1, v2, v3


def siphash13(k0: int, k1: int, data: bytes) -> int:
    v0 = k0 ^ 0x736F6D6570736575
    v1 = k1 ^ 0x646F72616E646F6D
    v2 = k0 ^ 0x6C7967656E657261
    v3 = k1 ^ 0x7465646279746573
    full = len(data) - len(data) % 8
    for off in range(0, full, 8):
        m = int.from_bytes(data[off:off + 8], "little")
        v3 ^= m
        v0, v1, v2, v3 = _sipround(v0, v1, v2, v3)
        v0 ^= m
    b = (len(data) & 0xFF) << 56
    b |= int.from_bytes(data[full:], "little")
    v3 ^= b
    v0, v1, v2, v3 = _sipround(v0, v1, v2, v3)
    v0 ^= b
    v2 ^= 0xFF
    for _ in range(3):
        v0, v1, v2, v3 = _sipround(v0, v1, v2, v3)
    return v0 ^ v1 ^ v2 ^ v3


def hash_vec(a) -> int:
    message = b""
    for v in a:
        if math.isnan(v):
            message += (0x7FF8000000000000).to_bytes(8, "little")
        else:
            message += struct.pack("<d", v + 0.0)
    h = siphash13(0, 0, message)
    if h >= 1 << 63:
        h -= 1 << 64
    return -2 if h == -1 else h


# --- float text: repr's shortest digits, laid out without an exponent ----

def float_text(v: float) -> str:
    if math.isnan(v):
        return "NaN"
    sign = "-" if math.copysign(1.0, v) < 0 else ""
    v = abs(v)
    if math.isinf(v):
        return sign + "inf"
    if v == 0.0:
        return sign + "0"
    mantissa, _, exponent = f"{v!r}".partition("e")
    whole, _, fraction = mantissa.partition(".")
    if fraction == "0":
        fraction = ""
    digits = whole + fraction
    # Decimal exponent k with value = 0.d1...dn * 10**k.
    k = len(whole) + (int(exponent) if exponent else 0)
    stripped = digits.lstrip("0")
    k -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    n = len(digits)
    if k >= n:
        body = digits + "0" * (k - n)
    elif k > 0:
        body = digits[:k] + "." + digits[k:]
    else:
        body = "0." + "0" * (-k) + digits
    return sign + body
