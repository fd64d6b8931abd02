"""AngleRadians and AngleDegrees against the pure-Python model: constants,
trigonometry, conversions, arithmetic, exact comparisons, text, errors."""
import math
import sys

import pytest
from hypothesis import given, settings, strategies as st

from models import angle as model
from models.bits import bits, same, doubles
from models.vec import div
from support.helpers import raises_exactly
from support.oddities import EqAnswers, FailsThenReflects, Reenter, TruthRaises

orvath = pytest.importorskip("orvath")
R = orvath.AngleRadians
D = orvath.AngleDegrees
SIGN = 1 << 63


def exactly(a, cls, expected):
    return type(a) is cls and same(a.angle, expected)


# ---------------------------------------------------------------------------
# Construction and the angle property

@pytest.mark.parametrize("cls", [R, D])
@settings(max_examples=100)
@given(x=doubles)
def test_constructor_keeps_every_bit(cls, x):
    for a in (cls(x), cls(angle=x), cls.__new__(cls, x), cls.__new__(cls, angle=x)):
        assert type(a) is cls and bits(a.angle) == bits(x)


@pytest.mark.parametrize("cls", [R, D])
@pytest.mark.parametrize("arg, expected", [(7, 7.0), (-720, -720.0), (True, 1.0), (2**53 + 1, float(2**53 + 1))])
def test_constructor_converts_and_never_wraps(cls, arg, expected):
    a = cls(arg)
    assert type(a.angle) is float and bits(a.angle) == bits(expected)


@pytest.mark.parametrize("cls, name", [(R, "AngleRadians"), (D, "AngleDegrees")])
@pytest.mark.parametrize("args, kwargs, exc, message", [
    ((), {}, TypeError, "{}.__new__() missing 1 required positional argument: 'angle'"),
    ((1, 2), {}, TypeError, "{}.__new__() takes 1 positional arguments but 2 were given"),
    ((1,), {"angle": 2}, TypeError, "{}.__new__() got multiple values for argument 'angle'"),
    ((), {"radians": 2}, TypeError, "{}.__new__() got an unexpected keyword argument 'radians'"),
    (("1",), {}, TypeError, "argument 'angle': must be real number, not str"),
    ((None,), {}, TypeError, "argument 'angle': must be real number, not NoneType"),
    ((10**400,), {}, OverflowError, "int too large to convert to float"),
])
def test_constructor_errors(cls, name, args, kwargs, exc, message):
    for call in (lambda: cls(*args, **kwargs), lambda: cls.__new__(cls, *args, **kwargs)):
        raises_exactly(exc, message.format(name), call)


@pytest.mark.parametrize("cls", [R, D])
def test_setter_is_seen_through_every_reference(cls):
    a = cls(1.0)
    alias = a
    a.angle = 2
    assert type(alias.angle) is float and alias.angle == 2.0


@pytest.mark.parametrize("cls", [R, D])
@pytest.mark.parametrize("bad, exc, message", [
    ("x", TypeError, "argument 'value': must be real number, not str"),
    (R, TypeError, "argument 'value': must be real number, not type"),
    (10**400, OverflowError, "int too large to convert to float"),
])
def test_failed_setter_keeps_the_old_value(cls, bad, exc, message):
    a = cls(1.5)
    raises_exactly(exc, message, setattr, a, "angle", bad)
    assert a.angle == 1.5


@pytest.mark.parametrize("cls", [R, D])
def test_delete_angle(cls):
    a = cls(1.5)
    with pytest.raises(AttributeError) as info:
        del a.angle
    assert str(info.value) == "property has no deleter"
    assert a.angle == 1.5


# ---------------------------------------------------------------------------
# Constants

@pytest.mark.parametrize("name", list(model.CONSTANTS))
def test_constants(name):
    a, b = getattr(R, name)(), getattr(R(5), name)()
    assert type(a) is R and a is not b
    assert bits(a.angle) == bits(model.CONSTANTS[name]) == bits(b.angle)


def test_pi_equals_the_literal():
    assert R.pi() == R(3.141592653589793)
    assert R.pi() is not R.pi()


# ---------------------------------------------------------------------------
# Trigonometry and conversions

@pytest.mark.parametrize("name", list(model.TRIG))
@settings(max_examples=200)
@given(x=doubles)
def test_trig_matches_model(name, x):
    r = getattr(R(x), name)()
    assert type(r) is float and same(r, model.TRIG[name](x))


@pytest.mark.parametrize("name", list(model.TRIG) + ["to_degrees"])
def test_trig_methods_take_no_arguments(name):
    with pytest.raises(TypeError) as info:
        getattr(R(1), name)(1)
    assert str(info.value) == f"AngleRadians.{name}() takes no arguments (1 given)"


@pytest.mark.parametrize("x, name, expected", [
    (0.0, "csc", math.inf), (-0.0, "csc", -math.inf),
    (0.0, "cot", math.inf), (-0.0, "cot", -math.inf),
    (0.0, "sin", 0.0), (-0.0, "sin", -0.0), (math.inf, "sin", math.nan), (math.nan, "cos", math.nan),
])
def test_reciprocal_and_special_values(x, name, expected):
    assert same(getattr(R(x), name)(), expected)


def test_half_pi_reciprocals_are_not_rounded_away():
    h = R.half_pi()
    assert same(h.sec(), div(1.0, math.cos(model.CONSTANTS["half_pi"])))
    assert h.sec() == pytest.approx(1.633123935319537e16)
    assert h.cot() == pytest.approx(6.123233995736766e-17) and h.cot() != 0.0


@settings(max_examples=200)
@given(doubles)
def test_conversions_match_model(x):
    d = R(x).to_degrees()
    assert exactly(d, D, model.to_degrees(x))
    r = D(x).to_radians()
    assert exactly(r, R, model.to_radians(x))


@pytest.mark.parametrize("make, cls, expected", [
    (lambda: R.third_pi().to_degrees(), D, 59.99999999999999),
    (lambda: R.sixth_pi().to_degrees(), D, 29.999999999999996),
    (lambda: R.pi().to_degrees(), D, 180.0),
    (lambda: R.half_pi().to_degrees(), D, 90.0),
    (lambda: R.quarter_pi().to_degrees(), D, 45.0),
    (lambda: R.two_pi().to_degrees(), D, 360.0),
    (lambda: D(60.0).to_radians(), R, model.CONSTANTS["third_pi"]),
    (lambda: D(-720.0).to_radians(), R, -12.566370614359172),
])
def test_documented_conversions(make, cls, expected):
    assert exactly(make(), cls, expected)


# ---------------------------------------------------------------------------
# Arithmetic

@settings(max_examples=200)
@given(doubles, doubles)
def test_arithmetic_matches_model(a, b):
    ra, rb = R(a), R(b)
    assert exactly(ra + rb, R, a + b)
    assert exactly(ra - rb, R, a - b)
    assert exactly(ra * b, R, a * b)
    assert exactly(ra / b, R, div(a, b))
    assert bits(ra.angle) == bits(a) and bits(rb.angle) == bits(b)


@pytest.mark.parametrize("cls", [R, D])
@settings(max_examples=100)
@given(x=doubles)
def test_negation_flips_the_sign_bit(cls, x):
    n = -cls(x)
    assert type(n) is cls and bits(n.angle) == bits(x) ^ SIGN


@pytest.mark.parametrize("make, expected", [
    (lambda: R(1.0) / 0, math.inf), (lambda: R(-1.0) / 0.0, -math.inf), (lambda: R(0.0) / 0.0, math.nan),
    (lambda: R(1.0) * 2, 2.0), (lambda: R(1.0) * True, 1.0), (lambda: R(3.0) / -0.0, -math.inf),
])
def test_documented_arithmetic(make, expected):
    assert exactly(make(), R, expected)


def test_negated_zero():
    n = -R(0.0)
    assert repr(n) == "-0 radians" and n == R(0.0)


@pytest.mark.parametrize("expr, message", [
    (lambda: 2 * R(1), "unsupported operand type(s) for *: 'int' and 'builtins.AngleRadians'"),
    (lambda: R(1) * R(1), "unsupported operand type(s) for *: 'builtins.AngleRadians' and 'builtins.AngleRadians'"),
    (lambda: R(1) + 1.0, "unsupported operand type(s) for +: 'builtins.AngleRadians' and 'float'"),
    (lambda: 1.0 + R(1), "unsupported operand type(s) for +: 'float' and 'builtins.AngleRadians'"),
    (lambda: R(1) + D(1), "unsupported operand type(s) for +: 'builtins.AngleRadians' and 'builtins.AngleDegrees'"),
    (lambda: R(1) - D(1), "unsupported operand type(s) for -: 'builtins.AngleRadians' and 'builtins.AngleDegrees'"),
    (lambda: 1 / R(1), "unsupported operand type(s) for /: 'int' and 'builtins.AngleRadians'"),
    (lambda: R(1) / R(1), "unsupported operand type(s) for /: 'builtins.AngleRadians' and 'builtins.AngleRadians'"),
    (lambda: R(1) * 10**400, "unsupported operand type(s) for *: 'builtins.AngleRadians' and 'int'"),
    (lambda: D(1) + D(1), "unsupported operand type(s) for +: 'builtins.AngleDegrees' and 'builtins.AngleDegrees'"),
    (lambda: D(1) * 2, "unsupported operand type(s) for *: 'builtins.AngleDegrees' and 'int'"),
    (lambda: D(1) / 2, "unsupported operand type(s) for /: 'builtins.AngleDegrees' and 'int'"),
    (lambda: +R(1), "bad operand type for unary +: 'builtins.AngleRadians'"),
    (lambda: abs(D(1)), "bad operand type for abs(): 'builtins.AngleDegrees'"),
])
def test_unsupported_operations(expr, message):
    raises_exactly(TypeError, message, expr)


@pytest.mark.parametrize("cls", [R, D])
@pytest.mark.parametrize("convert", [float, int])
def test_no_numeric_conversion(cls, convert):
    with pytest.raises(TypeError):
        convert(cls(1.0))


@pytest.mark.parametrize("call", [
    lambda: R.__add__(R(1), 1), lambda: R.__sub__(R(1), D(1)), lambda: R.__mul__(R(1), "2"),
    lambda: R.__truediv__(R(1), R(1)), lambda: R.__rmul__(R(1), 2), lambda: R.__radd__(R(1), 1.0),
])
def test_slots_answer_not_implemented(call):
    assert call() is NotImplemented


def test_augmented_assignment_rebinds():
    a = R(1.0)
    keep = a
    a += R(2.0)
    assert a is not keep and keep.angle == 1.0 and a.angle == 3.0
    a *= 2
    assert a.angle == 6.0 and keep.angle == 1.0


def test_rhs_conversion_sees_the_receivers_borrow():
    a = R(1.0)
    writer = Reenter(lambda: setattr(a, "angle", 9.0), 4.0, swallow=True)
    assert exactly(a * writer, R, 4.0)
    assert exactly(a / writer, R, 0.25)
    assert [(type(e), str(e)) for e in writer.refused] == [(RuntimeError, "Already borrowed")] * 2
    assert a.angle == 1.0


def test_failing_rhs_hands_over_to_the_other_operand():
    assert R(1) * FailsThenReflects(RuntimeError("no")) == "rmul"
    assert R(1) / FailsThenReflects(RuntimeError("no")) == "rtruediv"


# ---------------------------------------------------------------------------
# Comparison

OPS = [("__lt__", lambda a, b: a < b), ("__le__", lambda a, b: a <= b), ("__eq__", lambda a, b: a == b),
       ("__gt__", lambda a, b: a > b), ("__ge__", lambda a, b: a >= b), ("__ne__", lambda a, b: a != b)]


@pytest.mark.parametrize("cls", [R, D])
@pytest.mark.parametrize("name, op", OPS, ids=[o[0] for o in OPS])
@settings(max_examples=100)
@given(a=doubles, b=doubles)
def test_comparison_is_exact_ieee(cls, name, op, a, b):
    # Python's float comparisons are IEEE comparisons: they are the model.
    assert op(cls(a), cls(b)) is op(a, b)


@pytest.mark.parametrize("cls", [R, D])
def test_nan_and_signed_zero(cls):
    n1, n2 = cls(math.nan), cls(math.nan)
    assert (n1 == n2) is False and (n1 != n2) is True
    assert (n1 < n2) is False and (n1 >= n2) is False
    assert (cls(0.0) == cls(-0.0)) is True and (cls(0.0) != cls(-0.0)) is False


@pytest.mark.parametrize("a, b", [(R(1.0), 1.0), (R(0.0), D(0.0)), (D(0.0), R(0.0)), (R(1.0), None), (D(90), "90°")])
def test_foreign_comparisons(a, b):
    assert (a == b) is False and (b == a) is False
    assert (a != b) is True and (b != a) is True
    for op in ("__lt__", "__le__", "__gt__", "__ge__", "__eq__"):
        assert getattr(a, op)(b) is NotImplemented
    with pytest.raises(TypeError):
        a < b
    with pytest.raises(TypeError):
        a >= b


@pytest.mark.parametrize("cls", [R, D])
@pytest.mark.parametrize("answer, expected", [("yes", False), ("", True), (0, True), ([1], False)])
def test_not_equal_negates_equality_through_the_protocol(cls, answer, expected):
    # != is derived from == (reflected to the other operand here) and its truth
    # value, never from the other operand's __ne__.
    assert (cls(1.0) != EqAnswers(answer)) is expected


@pytest.mark.parametrize("cls", [R, D])
def test_not_equal_propagates_errors(cls):
    with pytest.raises(ValueError) as info:
        cls(1.0) != EqAnswers(TruthRaises(ValueError("no truth here")))
    assert str(info.value) == "no truth here"


@pytest.mark.parametrize("cls", [R, D])
def test_unhashable(cls):
    assert cls.__hash__ is None
    with pytest.raises(TypeError) as info:
        hash(cls(1.0))
    assert str(info.value) == f"unhashable type: 'builtins.{cls.__name__}'"
    with pytest.raises(TypeError):
        {cls(1.0)}


# ---------------------------------------------------------------------------
# Text

@pytest.mark.parametrize("a, text", [
    (R(3.141592653589793), "3.141592653589793 radians"), (R(1.0), "1 radians"), (R(-0.0), "-0 radians"),
    (D(90.0), "90°"), (D(-45.5), "-45.5°"), (R(1e-7), "0.0000001 radians"), (R(-math.nan), "NaN radians"),
    (D(math.inf), "inf°"), (D(-math.inf), "-inf°"), (R(1e20), "100000000000000000000 radians"),
])
def test_repr_examples(a, text):
    assert repr(a) == text and str(a) == text


def test_degree_sign_is_one_code_point():
    text = repr(D(90))
    assert len(text) == 3 and text[-1] == "\u00b0" and text.encode() == b"90\xc2\xb0"


@settings(max_examples=200)
@given(doubles)
def test_repr_matches_model(x):
    assert repr(R(x)) == model.radians_text(x)
    assert repr(D(x)) == model.degrees_text(x)


# ---------------------------------------------------------------------------
# Reference counts

CALLS = [
    lambda a, b: a + b, lambda a, b: a - b, lambda a, b: a * 2.0, lambda a, b: a / 3, lambda a, b: -a,
    lambda a, b: a == b, lambda a, b: a != b, lambda a, b: a < b, lambda a, b: a.sin(), lambda a, b: a.cot(),
    lambda a, b: a.to_degrees().to_radians(), lambda a, b: repr(a), lambda a, b: a.angle, lambda a, b: a != 1,
    lambda a, b: R(a.angle), lambda a, b: R.__new__(R, angle=a.angle),
]


@pytest.mark.parametrize("call", CALLS)
def test_operands_keep_their_reference_counts(call):
    a, b = R(1.0), R(2.0)
    before = sys.getrefcount(a), sys.getrefcount(b)
    for _ in range(100):
        call(a, b)
    assert (sys.getrefcount(a), sys.getrefcount(b)) == before


@pytest.mark.parametrize("make", [
    lambda: R(1) + R(2), lambda: R.pi(), lambda: R(1).to_degrees(), lambda: -D(1), lambda: D(1).to_radians(),
])
def test_results_hold_a_single_reference(make):
    result = make()
    baseline = object()
    assert sys.getrefcount(result) == sys.getrefcount(baseline)
