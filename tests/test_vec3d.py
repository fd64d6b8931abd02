"""Vec3d: values, methods and operators against the pure-Python model, the
error table, re-entrancy, hashing, text and reference counts."""
import math
import random
import sys
import tracemalloc

import pytest
from hypothesis import given, settings, strategies as st

from models import vec as model
from models.bits import bits, from_bits, same, same_seq, doubles
from support.helpers import raises_exactly, vt
from support.oddities import FailsThenReflects, Indexy, Reenter

orvath = pytest.importorskip("orvath")
Vec3d = orvath.Vec3d
AngleRadians = orvath.AngleRadians

triples = st.tuples(doubles, doubles, doubles)
SIGN = 1 << 63


def exactly(v, expected):
    """Bit-identical components (any NaN matching any NaN)."""
    return type(v) is Vec3d and same_seq(vt(v), expected)


# ---------------------------------------------------------------------------
# Construction and properties

@settings(max_examples=200)
@given(triples)
def test_constructor_keeps_every_bit(t):
    v = Vec3d(*t)
    # No arithmetic happens, so even NaN payloads and signs survive.
    assert [bits(c) for c in vt(v)] == [bits(c) for c in t]
    for other in (Vec3d(x=t[0], y=t[1], z=t[2]), Vec3d.__new__(Vec3d, *t)):
        assert type(other) is Vec3d and [bits(c) for c in vt(other)] == [bits(c) for c in t]


@pytest.mark.parametrize("args, expected", [
    ((1, 2, 3), (1.0, 2.0, 3.0)),
    ((True, False, 0), (1.0, 0.0, 0.0)),
    ((2**53 + 1, -(2**60), 10**300), (float(2**53 + 1), -float(2**60), 1e300)),
])
def test_constructor_converts_ints(args, expected):
    v = Vec3d(*args)
    assert all(type(c) is float for c in vt(v))
    assert same_seq(vt(v), expected)


@pytest.mark.parametrize("name", ["x", "y", "z"])
@settings(max_examples=50)
@given(new=doubles)
def test_setter_replaces_one_component(name, new):
    v = Vec3d(1.5, 2.5, 3.5)
    before = dict(zip("xyz", vt(v)))
    setattr(v, name, new)
    before[name] = new
    assert [bits(getattr(v, c)) for c in "xyz"] == [bits(before[c]) for c in "xyz"]


def test_setter_accepts_int_and_is_seen_through_every_reference():
    v = Vec3d(1, 2, 3)
    alias = v
    earlier = v * 1
    v.x = 5
    assert type(alias.x) is float and alias.x == 5.0
    assert v.to_array() == [5.0, 2.0, 3.0]
    assert vt(earlier) == (1.0, 2.0, 3.0)


@pytest.mark.parametrize("name", ["x", "y", "z"])
@pytest.mark.parametrize("bad, exc, message", [
    ("1", TypeError, "argument 'value': must be real number, not str"),
    (None, TypeError, "argument 'value': must be real number, not NoneType"),
    ([1], TypeError, "argument 'value': must be real number, not list"),
    (10**400, OverflowError, "int too large to convert to float"),
])
def test_failed_setter_changes_nothing(name, bad, exc, message):
    v = Vec3d(1, 2, 3)
    raises_exactly(exc, message, setattr, v, name, bad)
    assert vt(v) == (1.0, 2.0, 3.0)


@pytest.mark.parametrize("name", ["x", "y", "z"])
def test_delete_component(name):
    v = Vec3d(1, 2, 3)
    with pytest.raises(AttributeError) as info:
        delattr(v, name)
    assert str(info.value) == "property has no deleter"
    assert vt(v) == (1.0, 2.0, 3.0)


def test_setter_converts_before_borrowing():
    # The value's __float__ writes another component of the same vector; that
    # inner write can only succeed if the outer setter has not taken the
    # exclusive borrow yet.
    v = Vec3d(1, 2, 3)
    v.x = Reenter(lambda: setattr(v, "y", 20.0), 10.0)
    assert vt(v) == (10.0, 20.0, 3.0)


# ---------------------------------------------------------------------------
# Static constructors

@pytest.mark.parametrize("name, expected", [
    ("zero", (0.0, 0.0, 0.0)), ("i", (1.0, 0.0, 0.0)),
    ("j", (0.0, 1.0, 0.0)), ("k", (0.0, 0.0, 1.0)),
])
def test_named_vectors(name, expected):
    a, b = getattr(Vec3d, name)(), getattr(Vec3d, name)()
    assert a is not b
    assert [bits(c) for c in vt(a)] == [bits(c) for c in expected]


@settings(max_examples=200)
@given(triples, triples)
def test_new_from_to(frm, to):
    r = Vec3d.new_from_to(Vec3d(*frm), Vec3d(*to))
    assert exactly(r, model.new_from_to(frm, to))
    assert exactly(Vec3d.new_from_to(**{"from": Vec3d(*frm), "to": Vec3d(*to)}), model.new_from_to(frm, to))


@pytest.mark.parametrize("args, kwargs, message", [
    ((1, Vec3d(0, 0, 0)), {}, "argument 'from': 'int' object is not an instance of 'Vec3d'"),
    ((Vec3d(0, 0, 0), "s"), {}, "argument 'to': 'str' object is not an instance of 'Vec3d'"),
    ((None, None), {}, "argument 'from': 'None' is not an instance of 'Vec3d'"),
    ((Vec3d(0, 0, 0),), {}, "Vec3d.new_from_to() missing 1 required positional argument: 'to'"),
    ((), {}, "Vec3d.new_from_to() missing 2 required positional arguments: 'from' and 'to'"),
    ((Vec3d(0, 0, 0),) * 3, {}, "Vec3d.new_from_to() takes 2 positional arguments but 3 were given"),
    ((Vec3d(0, 0, 0),), {"from": Vec3d(0, 0, 0)}, "Vec3d.new_from_to() got multiple values for argument 'from'"),
])
def test_new_from_to_errors(args, kwargs, message):
    raises_exactly(TypeError, message, Vec3d.new_from_to, *args, **kwargs)


# ---------------------------------------------------------------------------
# Methods, bit-exact against the model

VECTOR_METHODS = [
    # name, model, number of vector arguments, result kind
    ("dot", model.dot, 1, float),
    ("cross", model.cross, 1, Vec3d),
    ("distance_to", model.distance_to, 1, float),
    ("distance_squared", model.distance_squared, 1, float),
    ("distance_to_line", model.distance_to_line, 2, float),
    ("project_onto_line", model.project_onto_line, 2, Vec3d),
    ("project_onto_plane", model.project_onto_plane, 1, Vec3d),
    ("scalar_triple_product", model.scalar_triple_product, 2, float),
    ("magnitude", model.magnitude, 0, float),
    ("normalize", model.normalize, 0, Vec3d),
    ("is_unit", model.is_unit, 0, bool),
]


def check(result, expected, kind):
    if kind is Vec3d:
        assert exactly(result, expected), (vt(result), expected)
    elif kind is float:
        assert type(result) is float and same(result, expected), (result, expected)
    else:
        assert result is expected


@pytest.mark.parametrize("name, fn, arity, kind", VECTOR_METHODS, ids=[m[0] for m in VECTOR_METHODS])
@settings(max_examples=200)
@given(data=st.data())
def test_method_matches_model(name, fn, arity, kind, data):
    me = data.draw(triples)
    others = [data.draw(triples) for _ in range(arity)]
    objs = [Vec3d(*o) for o in others]
    v = Vec3d(*me)
    check(getattr(v, name)(*objs), fn(me, *others), kind)
    assert [bits(c) for c in vt(v)] == [bits(c) for c in me]


@settings(max_examples=200)
@given(triples, triples)
def test_angle_to_matches_model(a, b):
    r = Vec3d(*a).angle_to(Vec3d(*b))
    assert type(r) is AngleRadians
    assert same(r.angle, model.angle_to(a, b))


def test_angle_to_of_parallel_integer_vectors_is_never_nan():
    # Rounding pushes dot / (|a| |b|) past +-1 for about one pair in six here;
    # the quotient is clamped, so those give exactly 0 or pi. The rest keep the
    # arc cosine of their unclamped quotient, a few ulps inside the range.
    rng = random.Random(17)
    clamped = 0
    for _ in range(2000):
        a = [rng.randint(-20, 20) for _ in range(3)]
        if a == [0, 0, 0]:
            continue
        for m in (1, 2, 3, 5, 7, -1, -2, -3):
            b = [m * c for c in a]
            got = Vec3d(*a).angle_to(Vec3d(*b)).angle
            assert same(got, model.angle_to(a, b))
            far = math.pi if m < 0 else 0.0
            assert abs(got - far) <= math.acos(1.0 - 2.0 ** -50)
            d = model.dot(a, b) / (model.magnitude(a) * model.magnitude(b))
            if abs(d) > 1.0:
                clamped += 1
                assert got == far
    assert clamped > 1000
    assert Vec3d(-3, -8, 4).angle_to(Vec3d(-3, -8, 4)).angle == 0.0
    assert math.isnan(Vec3d(0, 0, 0).angle_to(Vec3d(0, 0, 0)).angle)
    assert math.isnan(Vec3d(math.nan, 1, 0).angle_to(Vec3d(1, 0, 0)).angle)


# Components just past 1.34e154 make squares overflow; 0.6/0.8 is an exact unit.
near_overflow = st.floats(min_value=1.3e154, max_value=1.4e154)


@settings(max_examples=100)
@given(near_overflow, st.sampled_from([1.0, -1.0]))
def test_magnitude_near_overflow(big, sign):
    t = (big * sign, 0.5, -0.25)
    assert same(Vec3d(*t).magnitude(), model.magnitude(t))
    assert exactly(Vec3d(*t).normalize(), model.normalize(t))


@pytest.mark.parametrize("call, expected", [
    (lambda: Vec3d(3, 4, 0).magnitude(), 5.0),
    (lambda: Vec3d(1, 0, 0).angle_to(Vec3d(0, 1, 0)).angle, 1.5707963267948966),
    (lambda: Vec3d(1, 0, 0).angle_to(Vec3d(-1, 0, 0)).angle, 3.141592653589793),
    (lambda: Vec3d(0, 0, 0).angle_to(Vec3d(1, 0, 0)).angle, math.nan),
    (lambda: Vec3d.i().scalar_triple_product(Vec3d.j(), Vec3d.k()), 1.0),
    (lambda: Vec3d.j().scalar_triple_product(Vec3d.i(), Vec3d.k()), -1.0),
    (lambda: Vec3d(0, 1, 0).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0)), 1.0),
    (lambda: Vec3d(5, 1, 0).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0)), 1.0),
    (lambda: Vec3d(0, 1, 0).distance_to_line(Vec3d(1, 1, 1), Vec3d(1, 1, 1)), math.nan),
])
def test_documented_values(call, expected):
    assert same(call(), expected)


@pytest.mark.parametrize("call, expected", [
    (lambda: Vec3d(0, 0, 0).normalize(), (math.nan,) * 3),
    (lambda: Vec3d(0, 0, 2).normalize(), (0.0, 0.0, 1.0)),
    (lambda: Vec3d.i().cross(Vec3d.j()), (0.0, 0.0, 1.0)),
    (lambda: Vec3d.j().cross(Vec3d.i()), (0.0, 0.0, -1.0)),
    (lambda: Vec3d(1, 1, 0).project_onto_line(Vec3d(2, 0, 0), Vec3d(0, 0, 0)), (1.0, 0.0, 0.0)),
    (lambda: Vec3d(1, 2, 3).project_onto_plane(Vec3d(0, 0, 1)), (1.0, 2.0, 0.0)),
    (lambda: Vec3d(1, 2, 3).project_onto_plane(Vec3d(0, 0, 2)), (1.0, 2.0, -9.0)),
    (lambda: Vec3d(1, -1, 0) / 0.0, (math.inf, -math.inf, math.nan)),
    (lambda: Vec3d(1, 0, 0) / 0, (math.inf, math.nan, math.nan)),
    (lambda: Vec3d.new_from_to(Vec3d(1, 1, 1), Vec3d(2, 3, 4)), (1.0, 2.0, 3.0)),
])
def test_documented_vectors(call, expected):
    assert exactly(call(), expected)


@pytest.mark.parametrize("t, expected", [
    ((1, 0, 0), True), ((1 + 2.0**-52, 0, 0), False), ((0.6, 0.8, 0), True),
    ((1 - 2.0**-53, 0, 0), True), ((math.nan, 0, 0), False),
])
def test_is_unit_boundaries(t, expected):
    assert Vec3d(*t).is_unit() is expected


def test_same_object_as_receiver_and_arguments():
    v = Vec3d(1, 2, 3)
    assert v.dot(v) == 14.0
    assert v.scalar_triple_product(v, v) == 0.0
    assert exactly(v.project_onto_line(v, Vec3d(0, 0, 0)), (1.0, 2.0, 3.0))


@settings(max_examples=100)
@given(triples)
def test_to_array_and_to_quat(t):
    v = Vec3d(*t)
    arr = v.to_array()
    assert type(arr) is list and [bits(c) for c in arr] == [bits(c) for c in t]
    q = v.to_quat()
    assert type(q) is orvath.Quat
    assert [bits(c) for c in (q.w, q.i, q.j, q.k)] == [bits(c) for c in (0.0, *t)]


# ---------------------------------------------------------------------------
# Method argument errors (the first bad argument wins; nothing changes)

@pytest.mark.parametrize("name, args, message", [
    ("dot", (None,), "argument 'other': 'None' is not an instance of 'Vec3d'"),
    ("cross", (1,), "argument 'other': 'int' object is not an instance of 'Vec3d'"),
    ("angle_to", ((0, 0, 1),), "argument 'other': 'tuple' object is not an instance of 'Vec3d'"),
    ("distance_to", ([1, 2, 3],), "argument 'other': 'list' object is not an instance of 'Vec3d'"),
    ("distance_squared", (1.0,), "argument 'other': 'float' object is not an instance of 'Vec3d'"),
    ("distance_to_line", (1, "b"), "argument 'a': 'int' object is not an instance of 'Vec3d'"),
    ("distance_to_line", ("V", 1), "argument 'b': 'int' object is not an instance of 'Vec3d'"),
    ("project_onto_line", ("V", 2), "argument 'line_q': 'int' object is not an instance of 'Vec3d'"),
    ("project_onto_plane", (AngleRadians(1),),
     "argument 'normal': 'AngleRadians' object is not an instance of 'Vec3d'"),
    ("scalar_triple_product", ("V", None), "argument 'c': 'None' is not an instance of 'Vec3d'"),
    ("dot", (), "Vec3d.dot() missing 1 required positional argument: 'other'"),
    ("dot", ("V", "V"), "Vec3d.dot() takes 1 positional arguments but 2 were given"),
    ("distance_to_line", (), "Vec3d.distance_to_line() missing 2 required positional arguments: 'a' and 'b'"),
    ("scalar_triple_product", ("V", "V", "V"),
     "Vec3d.scalar_triple_product() takes 2 positional arguments but 3 were given"),
])
def test_method_argument_errors(name, args, message):
    v = Vec3d(1, 2, 3)
    args = tuple(Vec3d(0, 0, 1) if a == "V" else a for a in args)
    raises_exactly(TypeError, message, getattr(v, name), *args)
    assert vt(v) == (1.0, 2.0, 3.0)


@pytest.mark.parametrize("name", ["magnitude", "normalize", "is_unit", "to_array", "to_quat"])
def test_no_parameter_methods_refuse_arguments(name):
    with pytest.raises(TypeError) as info:
        getattr(Vec3d(1, 2, 3), name)(1)
    assert str(info.value) == f"Vec3d.{name}() takes no arguments (1 given)"


# ---------------------------------------------------------------------------
# Operators

@settings(max_examples=200)
@given(triples, triples)
def test_add_sub_match_model(a, b):
    va, vb = Vec3d(*a), Vec3d(*b)
    assert exactly(va + vb, model.add(a, b))
    assert exactly(va - vb, model.sub(a, b))
    assert [bits(c) for c in vt(va)] == [bits(c) for c in a]


@settings(max_examples=200)
@given(triples, doubles)
def test_scale_and_divide_match_model(a, s):
    v = Vec3d(*a)
    assert exactly(v * s, model.scale(a, s))
    assert exactly(s * v, model.scale(a, s))
    assert exactly(v / s, model.divide(a, s))


@settings(max_examples=100)
@given(triples)
def test_negation_flips_only_the_sign_bits(a):
    n = -Vec3d(*a)
    assert [bits(c) for c in vt(n)] == [bits(c) ^ SIGN for c in a]


@pytest.mark.parametrize("scalar, s", [(2, 2.0), (True, 1.0), (False, 0.0), (2**70, float(2**70))])
def test_scalar_operands_follow_float_rule(scalar, s):
    v = Vec3d(1, -2, 3)
    assert exactly(v * scalar, model.scale((1.0, -2.0, 3.0), s))
    assert exactly(scalar * v, model.scale((1.0, -2.0, 3.0), s))
    assert exactly(v / scalar, model.divide((1.0, -2.0, 3.0), s))


@pytest.mark.parametrize("expr, message", [
    (lambda v: v + 1, "unsupported operand type(s) for +: 'builtins.Vec3d' and 'int'"),
    (lambda v: 1 + v, "unsupported operand type(s) for +: 'int' and 'builtins.Vec3d'"),
    (lambda v: v - (1, 2, 3), "unsupported operand type(s) for -: 'builtins.Vec3d' and 'tuple'"),
    (lambda v: v * v, "unsupported operand type(s) for *: 'builtins.Vec3d' and 'builtins.Vec3d'"),
    # str's own repetition gets the last word here.
    (lambda v: v * "2", "can't multiply sequence by non-int of type 'builtins.Vec3d'"),
    (lambda v: 2 / v, "unsupported operand type(s) for /: 'int' and 'builtins.Vec3d'"),
    (lambda v: v / v, "unsupported operand type(s) for /: 'builtins.Vec3d' and 'builtins.Vec3d'"),
    (lambda v: v * 10**400, "unsupported operand type(s) for *: 'builtins.Vec3d' and 'int'"),
    (lambda v: v + AngleRadians(1),
     "unsupported operand type(s) for +: 'builtins.Vec3d' and 'builtins.AngleRadians'"),
    (lambda v: v / None, "unsupported operand type(s) for /: 'builtins.Vec3d' and 'NoneType'"),
])
def test_unsupported_operands_raise_interpreters_type_error(expr, message):
    v = Vec3d(1, 2, 3)
    raises_exactly(TypeError, message, expr, v)
    assert vt(v) == (1.0, 2.0, 3.0)


@pytest.mark.parametrize("call", [
    lambda v: Vec3d.__add__(v, 1), lambda v: Vec3d.__sub__(v, None), lambda v: Vec3d.__mul__(v, "a"),
    lambda v: Vec3d.__mul__(v, v), lambda v: Vec3d.__truediv__(v, v), lambda v: Vec3d.__rtruediv__(v, 2),
    lambda v: Vec3d.__mul__(v, 10**400),
])
def test_slots_answer_not_implemented(call):
    assert call(Vec3d(1, 2, 3)) is NotImplemented


def test_reflected_multiplication_through_the_same_slot():
    assert exactly(Vec3d.__rmul__(Vec3d(1, 2, 3), 2), (2.0, 4.0, 6.0))


def test_failed_conversion_hands_over_to_the_other_operand():
    other = FailsThenReflects(ValueError("not today"))
    v = Vec3d(1, 2, 3)
    assert v * other == "rmul"
    assert v + other == "radd"
    assert v / other == "rtruediv"
    assert other.tried


def test_operand_conversion_sees_the_receivers_borrow():
    v = Vec3d(1, 2, 3)
    writer = Reenter(lambda: setattr(v, "x", 9), 2.0, swallow=True)
    assert exactly(v * writer, (2.0, 4.0, 6.0))
    assert exactly(v / writer, (0.5, 1.0, 1.5))
    assert [str(e) for e in writer.refused] == ["Already borrowed", "Already borrowed"]
    assert vt(v) == (1.0, 2.0, 3.0)


def test_operator_results_are_new_objects():
    v = Vec3d(1, 2, 3)
    for r in (v * 1, 1 * v, v / 1, -(-v), v + Vec3d.zero(), v - Vec3d.zero()):
        assert r is not v and vt(r) == vt(v)


# ---------------------------------------------------------------------------
# Comparison

@settings(max_examples=200)
@given(triples, triples)
def test_equality_matches_model(a, b):
    va, vb = Vec3d(*a), Vec3d(*b)
    expected = model.approx_eq(a, b)
    assert (va == vb) is expected
    assert (va != vb) is (not expected)


@settings(max_examples=200)
@given(triples, st.tuples(*[st.floats(min_value=-4e-16, max_value=4e-16)] * 3))
def test_equality_near_the_tolerance(a, delta):
    b = model.add(a, delta)
    assert (Vec3d(*a) == Vec3d(*b)) is model.approx_eq(a, b)


@pytest.mark.parametrize("a, b, expected", [
    ((0, 0, 0), (1e-16, 0, 0), True),
    ((0, 0, 0), (2.220446049250313e-16, 0, 0), False),
    ((0, 0, 0), (0, 0, 2.220446049250313e-16), False),
    ((math.nan, 0, 0), (math.nan, 0, 0), False),
    ((0.0, -0.0, 0.0), (-0.0, 0.0, -0.0), True),
    ((1.0, 0, 0), (1.0 + 2.0**-52, 0, 0), False),
])
def test_documented_equalities(a, b, expected):
    assert (Vec3d(*a) == Vec3d(*b)) is expected
    assert (Vec3d(*a) != Vec3d(*b)) is (not expected)


def test_nan_vector_is_not_equal_to_itself():
    v = Vec3d(math.nan, 0, 0)
    assert (v == v) is False and (v != v) is True
    assert v in [v]  # containers check identity first


@pytest.mark.parametrize("other", [(0, 0, 0), [0, 0, 0], 0, None, "Vec3d(0, 0, 0)", AngleRadians(0)])
def test_foreign_objects_fall_back_to_identity(other):
    v = Vec3d(0, 0, 0)
    assert (v == other) is False and (other == v) is False
    assert (v != other) is True and (other != v) is True
    assert Vec3d.__eq__(v, other) is NotImplemented


@pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
def test_no_ordering(op):
    a, b = Vec3d(0, 0, 0), Vec3d(1, 1, 1)
    assert getattr(a, op)(b) is NotImplemented
    with pytest.raises(TypeError):
        a < b
    with pytest.raises(TypeError):
        a >= b


def test_containment_uses_tolerant_equality():
    assert Vec3d(0, 0, 0) in [Vec3d(1e-17, 0, 0)]
    assert Vec3d(0, 0, 0) not in [Vec3d(1e-15, 0, 0)]


# ---------------------------------------------------------------------------
# Subscription

@settings(max_examples=100)
@given(triples)
def test_subscription_and_iteration(t):
    v = Vec3d(*t)
    assert [bits(v[i]) for i in range(3)] == [bits(c) for c in t]
    assert [bits(c) for c in v] == [bits(c) for c in t]
    x, y, z = v
    assert [bits(c) for c in (x, y, z)] == [bits(c) for c in t]


@pytest.mark.parametrize("index, expected", [(True, 2.0), (False, 1.0), (Indexy(2), 3.0), (2**0, 2.0)])
def test_subscription_accepts_integers(index, expected):
    assert Vec3d(1, 2, 3)[index] == expected


@pytest.mark.parametrize("index, exc, message", [
    (3, IndexError, "Index out of bounds"),
    (2**64 - 1, IndexError, "Index out of bounds"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (1.0, TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
    (slice(0, 2), TypeError, "argument 'index': 'slice' object cannot be interpreted as an integer"),
])
def test_subscription_errors(index, exc, message):
    v = Vec3d(1, 2, 3)
    raises_exactly(exc, message, lambda: v[index])
    assert vt(v) == (1.0, 2.0, 3.0)


def test_sequence_protocol_without_length():
    v = Vec3d(1, 2, 3)
    assert list(v) == [1.0, 2.0, 3.0]
    assert 2.0 in v and 4.0 not in v
    with pytest.raises(TypeError):
        len(v)
    with pytest.raises(TypeError):
        v[0] = 1.0


# ---------------------------------------------------------------------------
# Hash

@pytest.mark.parametrize("t, expected", [
    ((0, 0, 0), -504348149136077492),
    ((-0.0, 0, 0), -504348149136077492),
    ((1, 2, 3), 3511550596308926913),
])
def test_documented_hashes(t, expected):
    assert hash(Vec3d(*t)) == expected
    assert model.hash_vec(tuple(float(c) for c in t)) == expected


@settings(max_examples=200)
@given(triples)
def test_hash_matches_siphash_model(t):
    assert hash(Vec3d(*t)) == model.hash_vec(t)


@pytest.mark.parametrize("nan_bits", [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001,
                                      0x7FFFFFFFFFFFFFFF, 0xFFF4000000000123])
def test_every_nan_hashes_alike(nan_bits):
    nan = from_bits(nan_bits)
    assert hash(Vec3d(nan, 1, nan)) == hash(Vec3d(math.nan, 1, math.nan)) == model.hash_vec((math.nan, 1.0, math.nan))


def test_equal_vectors_may_hash_differently_and_follow_mutation():
    a, b = Vec3d(0, 0, 0), Vec3d(1e-16, 0, 0)
    assert a == b and hash(a) != hash(b)
    d = {a: 1}
    a.x = 5
    assert hash(a) == model.hash_vec((5.0, 0.0, 0.0))
    assert Vec3d(5, 0, 0) not in d


# ---------------------------------------------------------------------------
# Text

@pytest.mark.parametrize("t, text", [
    ((1, 2, 3), "Vec3d(1, 2, 3)"),
    ((1, 2.5, -0.0), "Vec3d(1, 2.5, -0)"),
    ((math.nan, math.inf, -math.inf), "Vec3d(NaN, inf, -inf)"),
    ((-math.nan, 0, 0), "Vec3d(NaN, 0, 0)"),
    ((1e20, 0.1, 1e-6), "Vec3d(100000000000000000000, 0.1, 0.000001)"),
    ((0.1, -0.0, 1e-7), "Vec3d(0.1, -0, 0.0000001)"),
    ((0.1 + 0.2, 0, 0), "Vec3d(0.30000000000000004, 0, 0)"),
    ((1.7976931348623157e308, 5e-324, 0),
     "Vec3d(17976931348623157" + "0" * 292 + ", 0." + "0" * 323 + "5, 0)"),
])
def test_repr_examples(t, text):
    assert repr(Vec3d(*t)) == text
    assert str(Vec3d(*t)) == text


@settings(max_examples=200)
@given(triples)
def test_repr_matches_model(t):
    assert repr(Vec3d(*t)) == "Vec3d(" + ", ".join(model.float_text(c) for c in t) + ")"


# ---------------------------------------------------------------------------
# Reference counts and leaks

CALLS = [
    lambda v, w: v.dot(w), lambda v, w: v.cross(w), lambda v, w: v.angle_to(w),
    lambda v, w: v.distance_to_line(w, w), lambda v, w: v.to_array(), lambda v, w: v.to_quat(),
    lambda v, w: v + w, lambda v, w: v * 2.0, lambda v, w: 2 * v, lambda v, w: v / 3, lambda v, w: -v,
    lambda v, w: v == w, lambda v, w: v != 1, lambda v, w: v[1], lambda v, w: repr(v), lambda v, w: hash(v),
    lambda v, w: Vec3d.new_from_to(v, w), lambda v, w: v.x, lambda v, w: list(v),
]


@pytest.mark.parametrize("call", CALLS)
def test_arguments_keep_their_reference_counts(call):
    v, w = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    before = sys.getrefcount(v), sys.getrefcount(w)
    for _ in range(100):
        call(v, w)
    assert (sys.getrefcount(v), sys.getrefcount(w)) == before


FAILING = [
    lambda v, w: v.dot(1), lambda v, w: v.distance_to_line(w, None), lambda v, w: v[w],
    lambda v, w: v[5], lambda v, w: v + 1, lambda v, w: v * w, lambda v, w: Vec3d(w, 1, 2),
    lambda v, w: setattr(v, "x", w), lambda v, w: v.dot(w, w), lambda v, w: v.dot(other=w, x=w),
]


@pytest.mark.parametrize("call", FAILING)
def test_failed_calls_keep_reference_counts(call):
    v, w = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    before = sys.getrefcount(v), sys.getrefcount(w)
    for _ in range(100):
        with pytest.raises((TypeError, IndexError)):
            call(v, w)
    assert (sys.getrefcount(v), sys.getrefcount(w)) == before
    assert vt(v) == (1.0, 2.0, 3.0)


@pytest.mark.parametrize("make", [
    lambda v, w: v.cross(w), lambda v, w: v.normalize(), lambda v, w: v + w, lambda v, w: v.angle_to(w),
    lambda v, w: v.to_quat(), lambda v, w: v.to_array(), lambda v, w: v * 2, lambda v, w: v.dot(w),
])
def test_results_hold_a_single_reference(make):
    v, w = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    result = make(v, w)
    baseline = object()
    assert sys.getrefcount(result) == sys.getrefcount(baseline)


def test_repeated_calls_do_not_grow_memory():
    v, w = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    tracemalloc.start()
    try:
        for call in CALLS + FAILING:  # warm up free lists and caches
            try:
                call(v, w)
            except (TypeError, IndexError):
                pass
        start = tracemalloc.get_traced_memory()[0]
        for _ in range(2000):
            for call in CALLS + FAILING:
                try:
                    call(v, w)
                except (TypeError, IndexError):
                    pass
        grown = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert grown < 20000
