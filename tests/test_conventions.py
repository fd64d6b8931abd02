"""The calling conventions every member follows, exercised through Vec3d and
the angle classes: argument parsing messages, the argument-error rule, the
float and unsigned-integer conversions, the class-argument rule, borrows,
properties and the text signatures the parser shares with the docstrings."""
import math
import operator

import pytest

from support.helpers import constructor_paths, raises_exactly
from support.oddities import ConvertsToWrongType, Floaty, Indexy, IntSub, RaisesOnConvert, Reenter

orvath = pytest.importorskip("orvath")
Vec3d = orvath.Vec3d
R = orvath.AngleRadians
D = orvath.AngleDegrees
VecList = orvath.VecList


constructors = constructor_paths(Vec3d)
V = Vec3d(0, 0, 1)


# ---------------------------------------------------------------------------
# Argument parsing

@constructors
@pytest.mark.parametrize("args, kwargs, message", [
    ((1, 2, 3, 4), {}, "Vec3d.__new__() takes 3 positional arguments but 4 were given"),
    ((1, 2, 3, 4, 5), {"w": 1}, "Vec3d.__new__() takes 3 positional arguments but 5 were given"),
    ((1, 2, 3), {"x": 1}, "Vec3d.__new__() got multiple values for argument 'x'"),
    ((1, 2, 3), {"w": 1}, "Vec3d.__new__() got an unexpected keyword argument 'w'"),
    # Keywords are checked in the order given, before anything is missing.
    ((1, 2, 3), {"w": 1, "x": 1}, "Vec3d.__new__() got an unexpected keyword argument 'w'"),
    ((1, 2, 3), {"z": 1, "w": 1}, "Vec3d.__new__() got multiple values for argument 'z'"),
    ((), {"q": 1}, "Vec3d.__new__() got an unexpected keyword argument 'q'"),
    ((1, 2), {}, "Vec3d.__new__() missing 1 required positional argument: 'z'"),
    ((1,), {}, "Vec3d.__new__() missing 2 required positional arguments: 'y' and 'z'"),
    ((), {}, "Vec3d.__new__() missing 3 required positional arguments: 'x', 'y', and 'z'"),
    ((), {"y": 1}, "Vec3d.__new__() missing 2 required positional arguments: 'x' and 'z'"),
    ((), {"z": 1, "x": 2}, "Vec3d.__new__() missing 1 required positional argument: 'y'"),
    ((1, 2, None), {}, "argument 'z': must be real number, not NoneType"),
    (("1", None, None), {}, "argument 'x': must be real number, not str"),
    ((1, 2), {"z": "3"}, "argument 'z': must be real number, not str"),
])
def test_constructor_parsing(make, args, kwargs, message):
    raises_exactly(TypeError, message, lambda: make(*args, **kwargs))


@constructors
def test_keywords_in_any_order(make):
    v = make(z=3, x=1, y=2)
    assert (v.x, v.y, v.z) == (1.0, 2.0, 3.0)
    v = make(1, z=3, y=2)
    assert (v.x, v.y, v.z) == (1.0, 2.0, 3.0)


@pytest.mark.parametrize("call, message", [
    (lambda: V.dot(V, V), "Vec3d.dot() takes 1 positional arguments but 2 were given"),
    (lambda: V.dot(V, other=V), "Vec3d.dot() got multiple values for argument 'other'"),
    (lambda: V.dot(others=V), "Vec3d.dot() got an unexpected keyword argument 'others'"),
    (lambda: V.dot(self=V), "Vec3d.dot() got an unexpected keyword argument 'self'"),
    (lambda: V.dot(), "Vec3d.dot() missing 1 required positional argument: 'other'"),
    (lambda: V.distance_to_line(b=V), "Vec3d.distance_to_line() missing 1 required positional argument: 'a'"),
    (lambda: V.project_onto_line(), "Vec3d.project_onto_line() missing 2 required positional arguments: "
                                    "'line_r' and 'line_q'"),
    (lambda: V.project_onto_line(V, V, V, V),
     "Vec3d.project_onto_line() takes 2 positional arguments but 4 were given"),
    (lambda: Vec3d.new_from_to(V, V, V, to=V), "Vec3d.new_from_to() takes 2 positional arguments but 3 were given"),
    (lambda: Vec3d.new_from_to(V, V, to=V), "Vec3d.new_from_to() got multiple values for argument 'to'"),
    (lambda: Vec3d.new_from_to(V, **{"from": V}), "Vec3d.new_from_to() got multiple values for argument 'from'"),
    (lambda: R(1, 2), "AngleRadians.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: D(), "AngleDegrees.__new__() missing 1 required positional argument: 'angle'"),
    (lambda: D(degrees=1), "AngleDegrees.__new__() got an unexpected keyword argument 'degrees'"),
])
def test_method_parsing(call, message):
    raises_exactly(TypeError, message, call)


def test_keywords_by_name_and_position_agree():
    a, b = Vec3d(1, 2, 3), Vec3d(-4, 5, 0.5)
    assert a.dot(other=b) == a.dot(b)
    assert a.distance_to_line(b=b, a=V) == a.distance_to_line(V, b)
    assert a.scalar_triple_product(V, c=b) == a.scalar_triple_product(V, b)
    assert Vec3d.new_from_to(to=b, **{"from": a}) == b - a


def test_keyword_names_built_at_run_time():
    # Keys that are equal to a parameter name but not the interned string.
    key = "".join(["oth", "er"])
    assert Vec3d(1, 2, 3).dot(**{key: Vec3d(1, 1, 1)}) == 6.0
    assert Vec3d(**{"".join(["x"]): 1, "y": 2, "z": 3}).x == 1.0


@pytest.mark.parametrize("call, message", [
    (lambda: V.magnitude(1), "Vec3d.magnitude() takes no arguments (1 given)"),
    (lambda: V.normalize(x=1), "Vec3d.normalize() takes no keyword arguments"),
    (lambda: Vec3d.zero(1), "Vec3d.zero() takes no arguments (1 given)"),
    (lambda: R.pi(2), "AngleRadians.pi() takes no arguments (1 given)"),
])
def test_parameterless_members_use_interpreter_messages(call, message):
    raises_exactly(TypeError, message, call)


@pytest.mark.parametrize("obj, text", [
    (Vec3d, "(x, y, z)"), (Vec3d.dot, "($self, other)"), (Vec3d.zero, "()"),
    (Vec3d.new_from_to, "(from, to)"), (Vec3d.distance_to_line, "($self, a, b)"), (Vec3d.magnitude, "($self)"),
    (R, "(angle)"), (D, "(angle)"), (R.pi, "()"), (R.sin, "($self)"), (D.to_radians, "($self)"),
])
def test_text_signatures(obj, text):
    assert obj.__text_signature__ == text


# ---------------------------------------------------------------------------
# Argument-error rule

class MyTypeError(TypeError):
    pass


def test_type_error_is_prefixed_and_keeps_its_cause():
    root = ValueError("root cause")
    inner = TypeError("inner message")
    inner.__cause__ = root
    err = raises_exactly(TypeError, "argument 'y': inner message", lambda: Vec3d(1, RaisesOnConvert(inner), 3))
    assert err is not inner and err.__cause__ is root


def test_type_error_without_cause():
    err = raises_exactly(TypeError, "argument 'angle': plain", lambda: R(RaisesOnConvert(TypeError("plain"))))
    assert err.__cause__ is None


@pytest.mark.parametrize("exc", [ValueError("v"), RuntimeError("r"), OverflowError("o"), MyTypeError("sub"),
                                 ZeroDivisionError("z"), KeyboardInterrupt("k")])
def test_other_errors_pass_unchanged(exc):
    with pytest.raises(BaseException) as info:
        Vec3d(RaisesOnConvert(exc), 0, 0)
    assert info.value is exc


@pytest.mark.parametrize("call, exc, message", [
    (lambda: Vec3d(10**400, 0, 0), OverflowError, "int too large to convert to float"),
    (lambda: Vec3d(0, -(10**400), 0), OverflowError, "int too large to convert to float"),
    (lambda: R(10**400), OverflowError, "int too large to convert to float"),
    (lambda: setattr(Vec3d(0, 0, 0), "z", 10**400), OverflowError, "int too large to convert to float"),
    (lambda: Vec3d(0, 0, 0)[-1], OverflowError, "can't convert negative int to unsigned"),
    (lambda: Vec3d(0, 0, 0)[2**64], OverflowError, "int too big to convert"),
    (lambda: Vec3d(0, 0, 0)["a"], TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
    (lambda: Vec3d(1, 2, 3).dot(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
    (lambda: setattr(R(1), "angle", "a"), TypeError, "argument 'value': must be real number, not str"),
])
def test_argument_errors(call, exc, message):
    raises_exactly(exc, message, call)


def test_first_bad_argument_wins():
    calls = []

    class Noisy:
        def __init__(self, name, ok):
            self.name, self.ok = name, ok

        def __float__(self):
            calls.append(self.name)
            if not self.ok:
                raise TypeError(f"{self.name} refused")
            return 1.0

    raises_exactly(TypeError, "argument 'y': y refused",
                   lambda: Vec3d(Noisy("x", True), Noisy("y", False), Noisy("z", False)))
    assert calls == ["x", "y"]


# ---------------------------------------------------------------------------
# Float rule

class F(float):
    def __float__(self):
        return 99.0


@pytest.mark.parametrize("arg, expected", [
    (1.25, 1.25), (3, 3.0), (True, 1.0), (False, 0.0), (F(4.5), 4.5), (Floaty(2.5), 2.5), (Indexy(7), 7.0),
    (2**53 + 1, 9007199254740992.0), (-(2**1023), -(2.0**1023)), (math.inf, math.inf), (-0.0, -0.0),
])
def test_float_rule_accepts(arg, expected):
    for got in (Vec3d(arg, 0, 0).x, R(arg).angle, D(angle=arg).angle, (V * arg).z, (arg * V).z):
        assert type(got) is float and math.copysign(1, got) == math.copysign(1, expected) and got == expected
    v = Vec3d(0, 0, 0)
    v.y = arg
    assert v.y == expected


def test_float_rule_accepts_nan():
    assert math.isnan(Vec3d(math.nan, 0, 0).x) and math.isnan(R(math.nan).angle)


@pytest.mark.parametrize("arg, message", [
    ("1.0", "must be real number, not str"), (None, "must be real number, not NoneType"),
    ([1.0], "must be real number, not list"), (1j, "must be real number, not complex"),
    # The interpreter names the type by its full tp_name here.
    (V, "must be real number, not builtins.Vec3d"), (R(1), "must be real number, not builtins.AngleRadians"),
])
def test_float_rule_refuses(arg, message):
    raises_exactly(TypeError, f"argument 'x': {message}", lambda: Vec3d(arg, 0, 0))
    raises_exactly(TypeError, f"argument 'angle': {message}", lambda: D(arg))
    v = Vec3d(1, 2, 3)
    raises_exactly(TypeError, f"argument 'value': {message}", lambda: setattr(v, "x", arg))
    assert (v.x, v.y, v.z) == (1.0, 2.0, 3.0)


def test_float_returned_of_wrong_type_is_the_interpreters_error():
    raises_exactly(TypeError, "argument 'x': ConvertsToWrongType.__float__ returned non-float (type str)",
                   lambda: Vec3d(ConvertsToWrongType(), 0, 0))


# ---------------------------------------------------------------------------
# Unsigned integer rule (through Vec3d subscription)

@pytest.mark.parametrize("index, expected", [(0, 1.0), (IntSub(2), 3.0), (True, 2.0), (Indexy(1), 2.0)])
def test_unsigned_rule_accepts(index, expected):
    assert Vec3d(1, 2, 3)[index] == expected


@pytest.mark.parametrize("index, exc, message", [
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (IntSub(-5), OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, "int too big to convert"),
    (2**64 - 1, IndexError, "Index out of bounds"),
    (3, IndexError, "Index out of bounds"),
    (Indexy(7), IndexError, "Index out of bounds"),
    (2.0, TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
    (slice(None), TypeError, "argument 'index': 'slice' object cannot be interpreted as an integer"),
    (RaisesOnConvert(TypeError("idx")), TypeError, "argument 'index': idx"),
    (RaisesOnConvert(ValueError("idx")), ValueError, "idx"),
])
def test_unsigned_rule_refuses(index, exc, message):
    raises_exactly(exc, message, lambda: Vec3d(1, 2, 3)[index])


# ---------------------------------------------------------------------------
# Class-argument rule

@pytest.mark.parametrize("arg, message", [
    (1, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
    ("v", "argument 'other': 'str' object is not an instance of 'Vec3d'"),
    ([0, 0, 1], "argument 'other': 'list' object is not an instance of 'Vec3d'"),
    (None, "argument 'other': 'None' is not an instance of 'Vec3d'"),
    (Vec3d, "argument 'other': 'type' object is not an instance of 'Vec3d'"),
    (R(1), "argument 'other': 'AngleRadians' object is not an instance of 'Vec3d'"),
    (Floaty(2.5), "argument 'other': 'Floaty' object is not an instance of 'Vec3d'"),
])
def test_class_argument_rule(arg, message):
    raises_exactly(TypeError, message, lambda: Vec3d(1, 2, 3).cross(arg))


def test_nested_class_qualname_in_message():
    class Inner:
        pass

    raises_exactly(TypeError,
                   "argument 'to': 'test_nested_class_qualname_in_message.<locals>.Inner' object is not an "
                   "instance of 'Vec3d'",
                   lambda: Vec3d.new_from_to(V, Inner()))


# ---------------------------------------------------------------------------
# Borrows

def test_index_conversion_sees_the_receivers_borrow():
    v = Vec3d(1, 2, 3)
    err = raises_exactly(RuntimeError, "Already borrowed", lambda: v[Reenter(lambda: setattr(v, "z", 30), 2)])
    assert err.__cause__ is None
    assert (v.x, v.y, v.z) == (1.0, 2.0, 3.0)
    # The borrow is released afterwards: writing now works.
    v.z = 30
    assert v[2] == 30.0


def test_borrow_released_after_every_failure():
    v = Vec3d(1, 2, 3)
    for n, bad in enumerate((lambda: v.dot(1), lambda: v[9], lambda: v["x"], lambda: v * "s", lambda: v.cross(),
                             lambda: v.distance_to_line(v, 2), lambda: v + 1)):
        with pytest.raises((TypeError, IndexError)):
            bad()
        v.x = n  # a shared borrow left behind would refuse this write
        assert v.x == float(n)


# ---------------------------------------------------------------------------
# Instances and results

@pytest.mark.parametrize("obj", [Vec3d(1, 2, 3), R(1), D(1)])
def test_no_instance_dictionary(obj):
    with pytest.raises(AttributeError):
        obj.foo = 1
    assert not hasattr(obj, "__dict__")


def test_results_never_alias():
    v = Vec3d(1, 2, 3)
    assert v.normalize() is not v.normalize()
    assert Vec3d.zero() is not Vec3d.zero()
    a = R(1)
    assert -(-a) is not a and a * 1 is not a


@pytest.mark.parametrize("obj, op, symbol", [
    (Vec3d(1, 2, 3), operator.mul, "*"), (Vec3d(1, 2, 3), operator.truediv, "/"),
    (VecList([Vec3d(1, 2, 3)]), operator.mul, "*"), (VecList([Vec3d(1, 2, 3)]), operator.truediv, "/"),
    (R(1), operator.mul, "*"), (R(1), operator.truediv, "/"),
])
def test_operand_whose_conversion_raised_gives_not_implemented(obj, op, symbol):
    # The slot drops the conversion's error and answers NotImplemented (a
    # result with an error still set would be a SystemError); the interpreter
    # then raises its own TypeError, which carries no trace of the raised error.
    slot = {"*": "__mul__", "/": "__truediv__"}[symbol]
    assert getattr(obj, slot)(RaisesOnConvert()) is NotImplemented
    message = f"unsupported operand type(s) for {symbol}: 'builtins.{type(obj).__name__}' and 'RaisesOnConvert'"
    err = raises_exactly(TypeError, message, lambda: op(obj, RaisesOnConvert()))
    assert err.__context__ is None
