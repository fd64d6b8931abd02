"""orvath.geometry.Circle: construction, fields, area, plane, tests, equality, errors."""
import math
import sys

import pytest
from hypothesis import given, settings, strategies as st

from models import geometry as model
from models.bits import bits, doubles, finite, same, same_seq
from orvath import Vec3d, geometry
from support.helpers import circle, constructor_paths, raises_exactly, raw_circle, vt
from support.oddities import EqAnswers, EqRaises, Reenter, TruthRaises

Circle = geometry.Circle
Plane = geometry.Plane

vectors = st.tuples(doubles, doubles, doubles)
finite_vectors = st.tuples(finite, finite, finite)
EPS = 2.0 ** -52
AREA_OF_2 = 12.566370614359172


def fields(c):
    return vt(c.center), c.radius, vt(c.normal)


def same_circle(c, expected):
    center, radius, normal = fields(c)
    return same_seq(center, expected[0]) and same(radius, expected[1]) and same_seq(normal, expected[2])


CONSTRUCTORS = constructor_paths(Circle)


# --- specified values -------------------------------------------------------------------------

@CONSTRUCTORS
def test_constructor_stores_absolute_radius_and_unit_normal(make):
    c = make(Vec3d(1, 2, 3), -2.0, Vec3d(0, 0, 5))
    assert same_circle(c, ((1.0, 2.0, 3.0), 2.0, (0.0, 0.0, 1.0)))
    assert c.area == AREA_OF_2


@CONSTRUCTORS
def test_keywords(make):
    c = make(normal=Vec3d(0, 3, 0), center=Vec3d(1, 1, 1), radius=-0.0)
    assert same_circle(c, ((1.0, 1.0, 1.0), 0.0, (0.0, 1.0, 0.0)))


def test_zero_normal_becomes_nan():
    c = circle(normal=(0, 0, 0), radius=1.0)
    assert all(math.isnan(x) for x in vt(c.normal))
    assert c.is_degenerate() is False


def test_radius_setter_keeps_sign():
    c = circle(center=(1, 2, 3), radius=2.0)
    c.radius = -2.0
    assert c.radius == -2.0
    assert c.is_degenerate() is False
    assert c.area == AREA_OF_2


def test_none():
    n = Circle.none()
    center, radius, normal = fields(n)
    assert [bits(x) for x in center] == [bits(0.0)] * 3
    assert bits(radius) == bits(0.0)
    assert all(math.isnan(x) for x in normal)
    assert n.is_degenerate() is True
    assert n.area == 0.0
    p = n.get_plane()
    assert type(p) is Plane
    assert all(math.isnan(x) for x in vt(p.normal)) and math.isnan(p.distance)
    assert (Circle.none() == Circle.none()) is False
    assert (n == n) is False and (n != n) is True
    assert Circle.none() is not Circle.none()


@pytest.mark.parametrize("radius, degenerate", [(0.0, True), (-0.0, True), (5e-324, False),
                                                (-1.0, False), (math.nan, False), (math.inf, False)])
def test_is_degenerate_reads_only_the_radius(radius, degenerate):
    for normal in [(0, 0, 1), (0, 0, 0), (math.nan, 0, 0)]:
        assert raw_circle((math.nan, 1, 2), radius, normal).is_degenerate() is degenerate


def test_get_plane_renormalises_the_stored_normal():
    c = circle()
    c.center = Vec3d(1, 1, 2)
    c.normal = Vec3d(0, 0, 3)
    p = c.get_plane()
    assert vt(p.normal) == (0.0, 0.0, 1.0) and p.distance == -2.0
    assert vt(c.normal) == (0.0, 0.0, 3.0)


@pytest.mark.parametrize("a, b, expected", [
    (((0, 0, 5), (0, 0, 1)), ((3, 0, 5), (0, 0, -1)), True),
    (((0, 0, 5), (0, 0, 1)), ((0, 0, -5), (0, 0, -1)), False),
    (((0, 0, 0), (0, 0, 1)), ((0, 0, 1e-17), (0, 0, 1)), True),
    (((0, 0, 0), (0, 0, 1)), ((0, 0, 1e-15), (0, 0, 1)), False),
    (((0, 0, 0), (0, 0, 1)), ((0, 0, 0), (1, 0, 0)), False),
])
def test_in_same_plane(a, b, expected):
    s = circle(center=a[0], normal=a[1])
    o = circle(center=b[0], normal=b[1], radius=1.0)
    assert s.in_same_plane(o) is expected
    assert o.in_same_plane(other=s) is expected


def test_in_same_plane_compares_normals_by_component():
    s = circle(center=(0, 0, 5))
    o = circle(center=(1, 0, 5))
    o.normal = Vec3d(0, 0, 2)
    assert s.in_same_plane(o) is False
    assert o.in_same_plane(o) is True


# --- equality -----------------------------------------------------------------------------------

@pytest.mark.parametrize("b, equal", [
    (((0, 0, 0), 5.0, (0, 0, -1)), True),
    (((1e-17, 0, 0), 5.0, (0, 0, -1)), True),
    (((0, 0, 1e-17), 5.0, (0, 0, 1)), True),
    (((0, 2.0 ** -52, 0), 5.0, (0, 0, 1)), False),
    (((0, 0, 0), math.nextafter(5.0, 6.0), (0, 0, 1)), False),
    (((0, 0, 0), 5.0, (0, 1, 0)), False),
    (((0, 0, 0), 5.0, (0, 0, 1 - 2.0 ** -53)), True),
    (((0, 0, 0), 5.0, (0, 0, 1 + 2.0 ** -52)), False),
    (((0, 0, 0), 5.0, (0, 0, -1 + 2.0 ** -53)), True),
])
def test_equality(b, equal):
    a = circle()
    other = raw_circle(*b)
    assert (a == other) is equal and (other == a) is equal
    assert (a != other) is (not equal) and (other != a) is (not equal)


def test_equal_to_itself_and_to_copies():
    a = circle()
    assert a == a and not a != a
    assert a == circle() and not a != circle()


def test_nan_radius_is_unequal():
    a = raw_circle((0, 0, 0), math.nan, (0, 0, 1))
    assert (a == a) is False and (a != a) is True


@pytest.mark.parametrize("other", [1, "a", None, 5.0, Vec3d(0, 0, 0), Plane.xy(), object()])
def test_foreign_operands(other):
    c = circle()
    assert (c == other) is False and (other == c) is False
    assert (c != other) is True and (other != c) is True
    assert c.__eq__(other) is NotImplemented
    with pytest.raises(TypeError):
        c < other


@pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
def test_orderings_are_not_implemented(op):
    c = circle()
    assert getattr(c, op)(c) is NotImplemented
    with pytest.raises(TypeError) as info:
        {"__lt__": lambda: c < c, "__le__": lambda: c <= c,
         "__gt__": lambda: c > c, "__ge__": lambda: c >= c}[op]()
    assert "not supported between instances of 'builtins.Circle' and 'builtins.Circle'" in str(info.value)


def test_not_equal_follows_the_full_equality_protocol():
    c = circle()
    assert (c != EqAnswers(True)) is False
    assert (c == EqAnswers(True)) is True
    with pytest.raises(LookupError):
        c != EqRaises(LookupError("no"))
    with pytest.raises(ArithmeticError):
        c != EqAnswers(TruthRaises(ArithmeticError("truth")))


def test_unhashable():
    assert Circle.__hash__ is None
    for make in (circle, Circle.none):
        with pytest.raises(TypeError):
            hash(make())
    with pytest.raises(TypeError):
        {circle()}


def test_default_repr():
    assert repr(circle()).startswith("<builtins.Circle object at 0x")


def test_getters_return_independent_copies():
    c = circle(center=(1, 2, 3))
    got = c.center
    got.x = 100.0
    c.normal.z = 7.0
    assert same_circle(c, ((1.0, 2.0, 3.0), 5.0, (0.0, 0.0, 1.0)))
    assert c.center is not c.center


def test_setters_copy_their_argument():
    v = Vec3d(4, 5, 6)
    c = circle()
    c.center = v
    c.normal = v
    v.x = -1.0
    assert same_circle(c, ((4.0, 5.0, 6.0), 5.0, (4.0, 5.0, 6.0)))


# --- bit-exact agreement with the model -------------------------------------------------------

@settings(max_examples=200)
@given(vectors, doubles, vectors)
def test_constructor_area_plane_match_model(center, radius, normal):
    c = Circle(Vec3d(*center), radius, Vec3d(*normal))
    expected = model.circle_new(center, radius, normal)
    assert same_circle(c, expected)
    assert same(c.area, model.circle_area(expected))
    p = c.get_plane()
    n, d = model.circle_get_plane(expected)
    assert same_seq(vt(p.normal), n) and same(p.distance, d)
    assert c.is_degenerate() is model.circle_is_degenerate(expected)


@settings(max_examples=200)
@given(vectors, doubles, vectors)
def test_raw_fields_match_model(center, radius, normal):
    c = raw_circle(center, radius, normal)
    raw = (center, radius, normal)
    assert same_circle(c, raw)
    assert same(c.area, model.circle_area(raw))
    p = c.get_plane()
    n, d = model.circle_get_plane(raw)
    assert same_seq(vt(p.normal), n) and same(p.distance, d)


# Pairs that often land near the tolerance: a base circle and small perturbations of it.
small = st.one_of(st.just(0.0), st.just(-0.0), st.floats(min_value=-4e-16, max_value=4e-16),
                  st.sampled_from([EPS, -EPS, EPS / 2, math.nan]))
unit_normals = st.sampled_from([(0.0, 0.0, 1.0), (0.0, 1.0, 0.0), (1.0, 0.0, 0.0),
                                (0.6, 0.8, 0.0), (0.0, -0.6, 0.8)])


@st.composite
def circle_pairs(draw):
    center = draw(st.one_of(finite_vectors, vectors))
    normal = draw(st.one_of(unit_normals, vectors))
    radius = draw(st.one_of(finite, doubles))
    a = (center, radius, normal)
    if draw(st.booleans()):
        return a, (draw(st.one_of(finite_vectors, vectors)), draw(doubles), draw(vectors))
    sign = draw(st.sampled_from([1.0, -1.0]))
    dc = draw(st.tuples(small, small, small))
    dn = draw(st.tuples(small, small, small))
    b = (tuple(c + e for c, e in zip(center, dc)),
         draw(st.sampled_from([radius, -radius, math.nextafter(radius, math.inf)])),
         tuple(sign * n + e for n, e in zip(normal, dn)))
    return a, b


@settings(max_examples=300)
@given(circle_pairs())
def test_comparisons_match_model(pair):
    a, b = pair
    ca, cb = raw_circle(*a), raw_circle(*b)
    assert ca.in_same_plane(cb) is model.circle_in_same_plane(a, b)
    assert (ca == cb) is model.circle_eq(a, b)
    assert (ca != cb) is (not model.circle_eq(a, b))


# --- argument errors --------------------------------------------------------------------------

V = Vec3d(0, 0, 1)
C = Circle(Vec3d(0, 0, 0), 1.0, V)


@pytest.mark.parametrize("call, exc, message", [
    (lambda: Circle(1, 1.0, V), TypeError, "argument 'center': 'int' object is not an instance of 'Vec3d'"),
    (lambda: Circle(V, "r", V), TypeError, "argument 'radius': must be real number, not str"),
    (lambda: Circle(V, 1.0, None), TypeError, "argument 'normal': 'None' is not an instance of 'Vec3d'"),
    (lambda: Circle(None, "r", None), TypeError, "argument 'center': 'None' is not an instance of 'Vec3d'"),
    (lambda: Circle(V, None, 1), TypeError, "argument 'radius': must be real number, not NoneType"),
    (lambda: Circle(V, 10 ** 400, V), OverflowError, "int too large to convert to float"),
    (lambda: Circle(V, 1.0), TypeError, "Circle.__new__() missing 1 required positional argument: 'normal'"),
    (lambda: Circle(), TypeError,
     "Circle.__new__() missing 3 required positional arguments: 'center', 'radius', and 'normal'"),
    (lambda: Circle(radius=1.0), TypeError,
     "Circle.__new__() missing 2 required positional arguments: 'center' and 'normal'"),
    (lambda: Circle(V, 1.0, V, V), TypeError, "Circle.__new__() takes 3 positional arguments but 4 were given"),
    (lambda: Circle(V, 1.0, V, radius=2.0), TypeError,
     "Circle.__new__() got multiple values for argument 'radius'"),
    (lambda: Circle(V, 1.0, V, r=2.0), TypeError, "Circle.__new__() got an unexpected keyword argument 'r'"),
    (lambda: Circle.__new__(Circle, V, 1.0, V, V), TypeError,
     "Circle.__new__() takes 3 positional arguments but 4 were given"),
    (lambda: Circle.__new__(Circle, V, [], V), TypeError, "argument 'radius': must be real number, not list"),
    (lambda: C.in_same_plane(1), TypeError, "argument 'other': 'int' object is not an instance of 'Circle'"),
    (lambda: C.in_same_plane(Plane.xy()), TypeError,
     "argument 'other': 'Plane' object is not an instance of 'Circle'"),
    (lambda: C.in_same_plane(None), TypeError, "argument 'other': 'None' is not an instance of 'Circle'"),
    (lambda: C.in_same_plane(), TypeError, "Circle.in_same_plane() missing 1 required positional argument: 'other'"),
    (lambda: C.in_same_plane(C, C), TypeError,
     "Circle.in_same_plane() takes 1 positional arguments but 2 were given"),
    (lambda: C.in_same_plane(C, other=C), TypeError,
     "Circle.in_same_plane() got multiple values for argument 'other'"),
])
def test_argument_errors(call, exc, message):
    raises_exactly(exc, message, call)


@pytest.mark.parametrize("call", [lambda: Circle.none(1), lambda: C.get_plane(C), lambda: C.is_degenerate(x=1)])
def test_no_argument_members_refuse_arguments(call):
    with pytest.raises(TypeError):
        call()


# --- properties -------------------------------------------------------------------------------

@pytest.mark.parametrize("name", ["center", "radius", "normal"])
def test_deleting_a_property_is_refused(name):
    c = circle(center=(1, 2, 3))
    with pytest.raises(AttributeError) as info:
        delattr(c, name)
    assert str(info.value) == "property has no deleter"
    assert same_circle(c, ((1.0, 2.0, 3.0), 5.0, (0.0, 0.0, 1.0)))


@pytest.mark.parametrize("action", [lambda c: setattr(c, "area", 1.0), lambda c: delattr(c, "area")])
def test_area_is_read_only(action):
    c = circle()
    with pytest.raises(AttributeError) as info:
        action(c)
    assert str(info.value) == "attribute 'area' of 'builtins.Circle' objects is not writable"
    assert c.area == (5.0 * 5.0) * math.pi


@pytest.mark.parametrize("name, value, message", [
    ("center", 1, "argument 'value': 'int' object is not an instance of 'Vec3d'"),
    ("normal", C, "argument 'value': 'Circle' object is not an instance of 'Vec3d'"),
    ("normal", None, "argument 'value': 'None' is not an instance of 'Vec3d'"),
    ("radius", "5", "argument 'value': must be real number, not str"),
])
def test_setter_errors_change_nothing(name, value, message):
    c = circle(center=(1, 2, 3))
    with pytest.raises(TypeError) as info:
        setattr(c, name, value)
    assert str(info.value) == message
    assert same_circle(c, ((1.0, 2.0, 3.0), 5.0, (0.0, 0.0, 1.0)))


# --- re-entrancy and borrows ------------------------------------------------------------------

def test_constructor_holds_center_while_converting_radius():
    center = Vec3d(1, 2, 3)
    with pytest.raises(RuntimeError) as info:
        Circle(center, Reenter(lambda: setattr(center, "y", 0.0), 1.0), V)
    assert str(info.value) == "Already borrowed"
    assert vt(center) == (1.0, 2.0, 3.0)


def test_normal_is_read_after_radius():
    # Parameter order: the normal is not yet read while the radius converts.
    normal = Vec3d(0, 0, 1)

    def turn():
        normal.z = 0.0
        normal.x = 2.0

    c = Circle(Vec3d(0, 0, 0), Reenter(turn, 1.0), normal)
    assert vt(c.normal) == (1.0, 0.0, 0.0)


def test_radius_setter_converts_before_borrowing():
    c = circle()

    class Sneaky:
        def __float__(self):
            c.radius = 1.0
            return c.area

    c.radius = Sneaky()
    assert c.radius == (1.0 * 1.0) * math.pi


def test_same_object_on_both_sides():
    c = circle()
    assert c.in_same_plane(c) is True
    assert c == c


# --- reference counts -------------------------------------------------------------------------

def test_reference_counts():
    v, n, r = Vec3d(1, 2, 3), Vec3d(0, 0, 2), 1234.5
    c, other = Circle(v, r, n), Circle(n, r, v)
    before = [sys.getrefcount(x) for x in (v, n, r, c, other)]
    for _ in range(100):
        Circle(v, r, n)
        Circle.__new__(Circle, v, r, normal=n)
        c.get_plane()
        c.in_same_plane(other)
        c.is_degenerate()
        c.area
        c.center = v
        c.normal = n
        c == other
        c != other
        c == 1
        c != "x"
        with pytest.raises(TypeError):
            c.in_same_plane(v)
        with pytest.raises(TypeError):
            Circle(v, r, r)
    c.radius = r
    assert [sys.getrefcount(x) for x in (v, n, r, c, other)] == before


def test_results_hold_no_extra_references():
    c = circle()
    baseline = (Vec3d(0, 0, 0), Vec3d(0, 0, 1), Plane.xy(), Circle.__new__(Circle, Vec3d(0, 0, 0), 1.0, V))
    got = (c.center, c.normal, c.get_plane(), Circle.none())
    assert [sys.getrefcount(x) for x in got] == [sys.getrefcount(x) for x in baseline]
