"""Pure-Python model of the angle formulas: constants, trigonometry with
reciprocals, unit conversions and the text forms."""
import math

from models.bits import from_bits
from models.vec import div, float_text

# The nearest doubles to the named multiples of pi, by their bit patterns.
CONSTANTS = {
    "pi": from_bits(0x400921FB54442D18),
    "two_pi": from_bits(0x401921FB54442D18),
    "half_pi": from_bits(0x3FF921FB54442D18),
    "quarter_pi": from_bits(0x3FE921FB54442D18),
    "third_pi": from_bits(0x3FF0C152382D7365),
    "sixth_pi": from_bits(0x3FE0C152382D7365),
    "zero": 0.0,
}
PI = CONSTANTS["pi"]


# math refuses infinite arguments where the C library answers NaN.
def _c_func(f):
    def wrapped(x: float) -> float:
        return math.nan if math.isinf(x) else f(x)
    return wrapped


sin = _c_func(math.sin)
cos = _c_func(math.cos)
tan = _c_func(math.tan)


def sec(x):
    return div(1.0, cos(x))


def csc(x):
    return div(1.0, sin(x))


def cot(x):
    return div(1.0, tan(x))


TRIG = {"sin": sin, "cos": cos, "tan": tan, "sec": sec, "csc": csc, "cot": cot}


def to_degrees(x):
    return (x * 180.0) / PI


def to_radians(d):
    return (d * PI) / 180.0


def radians_text(x):
    return float_text(x) + " radians"


def degrees_text(d):
    return float_text(d) + "\u00b0"
