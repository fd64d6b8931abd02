"""Bit-level helpers shared by the pure-Python models and the tests."""
import math
import struct

from hypothesis import strategies as st


def bits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def from_bits(b: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def same(a: float, b: float) -> bool:
    """Identical doubles: same bit pattern, except that any NaN matches any NaN
    (payload propagation through arithmetic is the hardware's)."""
    if math.isnan(a) and math.isnan(b):
        return True
    return bits(a) == bits(b)


def same_seq(a, b) -> bool:
    return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))


# Doubles worth throwing at every formula: the whole range, the special values,
# subnormals, and the sizes where squares overflow.
SPECIAL = [0.0, -0.0, 1.0, -1.0, math.inf, -math.inf, math.nan, -math.nan, 5e-324, -5e-324,
           2.2250738585072014e-308, 1.34e154, -1.34e154, 1.79e308, 0.1, 0.5, 2.0**-52, 1 + 2.0**-52]
doubles = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.sampled_from(SPECIAL),
                    st.floats(min_value=-1e3, max_value=1e3))
finite = st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, allow_infinity=False)
