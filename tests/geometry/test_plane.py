"""orvath.geometry.Plane: construction, fields, distances, containment, errors."""
import math
import sys

import pytest
from hypothesis import given, settings, strategies as st

from models import geometry as model
from models.bits import bits, doubles, finite, same, same_seq
from orvath import Vec3d
from orvath import geometry
from support.helpers import constructor_paths, raises_exactly, raw_plane, vt
from support.oddities import FloatSub, Indexy, RaisesOnConvert, Reenter

Plane = geometry.Plane

vectors = st.tuples(doubles, doubles, doubles)
finite_vectors = st.tuples(finite, finite, finite)


def fields(p):
    return vt(p.normal), p.distance


def same_plane(p, expected):
    n, d = fields(p)
    return same_seq(n, expected[0]) and same(d, expected[1])


CONSTRUCTORS = constructor_paths(Plane)


# --- specified values -------------------------------------------------------------------------

@CONSTRUCTORS
def test_constructor_normalises_and_negates(make):
    p = make(Vec3d(0, 0, 2), 5.0)
    assert vt(p.normal) == (0.0, 0.0, 1.0)
    assert p.distance == -5.0
    assert p.distance_to_point(Vec3d(1, 2, 5)) == 0.0
    assert p.contains_point(Vec3d(1, 2, 5)) is True


@CONSTRUCTORS
def test_keywords_in_any_order(make):
    p = make(distance=5.0, normal=Vec3d(0, 0, 2))
    assert same_plane(p, ((0.0, 0.0, 1.0), -5.0))


@pytest.mark.parametrize("plane", [lambda: Plane(Vec3d(0, 0, 1), 0.0), Plane.xy],
                         ids=["zero_distance", "xy"])
def test_zero_distance_is_stored_as_negative_zero(plane):
    assert bits(plane().distance) == bits(-0.0)


@pytest.mark.parametrize("factory, normal", [
    (Plane.xy, (0.0, 0.0, 1.0)),
    (Plane.xz, (0.0, 1.0, 0.0)),
    (Plane.yz, (1.0, 0.0, 0.0)),
])
def test_coordinate_planes(factory, normal):
    p = factory()
    assert same_plane(p, (normal, -0.0))
    assert factory() is not p


def test_static_constructors_work_on_an_instance():
    p = Plane.xy()
    assert same_plane(p.yz(), ((1.0, 0.0, 0.0), -0.0))
    assert same_plane(p.from_point(Vec3d(0, 0, 3), Vec3d(1, 1, 2)), ((0.0, 0.0, 1.0), -2.0))


def test_distance_setter_stores_without_sign_flip():
    p = Plane(Vec3d(0, 0, 1), 1.0)
    p.distance = 5.0
    assert p.distance == 5.0
    assert p.contains_point(Vec3d(3, 4, -5)) is True
    assert p.contains_point(Vec3d(0, 0, 5)) is False


def test_from_point():
    p = Plane.from_point(Vec3d(0, 0, 3), Vec3d(1, 1, 2))
    assert same_plane(p, ((0.0, 0.0, 1.0), -2.0))


@pytest.mark.parametrize("points, normal", [
    (((0, 0, 0), (1, 0, 0), (0, 1, 0)), (0.0, 0.0, 1.0)),
    (((0, 0, 0), (0, 1, 0), (1, 0, 0)), (0.0, 0.0, -1.0)),
])
def test_from_points_right_hand_rule(points, normal):
    p = Plane.from_points(*(Vec3d(*q) for q in points))
    assert same_plane(p, (normal, -0.0))


@pytest.mark.parametrize("points", [
    ((0, 0, 0), (1, 1, 1), (2, 2, 2)),
    ((1, 2, 3), (1, 2, 3), (1, 2, 3)),
])
def test_from_points_degenerate_gives_nan(points):
    p = Plane.from_points(*(Vec3d(*q) for q in points))
    assert all(math.isnan(c) for c in vt(p.normal))
    assert math.isnan(p.distance)
    for q in [(0, 0, 0), points[0], (1e300, -1e300, 0)]:
        assert p.contains_point(Vec3d(*q)) is False


def test_normal_setter_does_not_normalise():
    p = Plane(Vec3d(0, 0, 1), 5.0)
    p.normal = Vec3d(0, 0, 2)
    assert vt(p.normal) == (0.0, 0.0, 2.0)
    assert p.distance_to_point(Vec3d(0, 0, 5)) == 5.0


def test_distance_below_plane_is_positive():
    assert Plane(Vec3d(0, 0, 1), 5.0).distance_to_point(Vec3d(0, 0, 1)) == 4.0


@pytest.mark.parametrize("z, inside", [(1e-15, False), (1e-17, True), (2.0 ** -52, False),
                                       (math.nextafter(2.0 ** -52, 0), True), (-1e-17, True)])
def test_contains_point_absolute_tolerance(z, inside):
    assert Plane.xy().contains_point(Vec3d(0, 0, z)) is inside


def test_identity_equality_and_hash():
    a, b = Plane(Vec3d(0, 0, 1), 5.0), Plane(Vec3d(0, 0, 1), 5.0)
    assert a == a and not a != a
    assert a != b and not a == b
    assert hash(a) == object.__hash__(a)
    assert len({a, b, a}) == 2


def test_default_repr():
    p = Plane.xy()
    assert repr(p) == object.__repr__(p)
    assert repr(p).startswith("<builtins.Plane object at 0x")


def test_normal_getter_returns_independent_copy():
    p = Plane(Vec3d(0, 0, 1), 5.0)
    n = p.normal
    n.x = 9.0
    assert vt(p.normal) == (0.0, 0.0, 1.0)
    assert p.normal is not p.normal


def test_constructor_keeps_no_link_to_its_argument():
    v = Vec3d(0, 0, 1)
    p = Plane(v, 5.0)
    v.z = -1.0
    assert vt(p.normal) == (0.0, 0.0, 1.0)
    q = Plane.xy()
    q.normal = v
    v.x = 3.0
    assert vt(q.normal) == (0.0, 0.0, -1.0)


def test_not_subclassable_and_no_dict():
    with pytest.raises(TypeError):
        type("P", (Plane,), {})
    with pytest.raises(AttributeError):
        Plane.xy().foo = 1


# --- bit-exact agreement with the model -------------------------------------------------------

@settings(max_examples=200)
@given(vectors, doubles)
def test_constructor_matches_model(n, d):
    assert same_plane(Plane(Vec3d(*n), d), model.plane_new(n, d))


@settings(max_examples=200)
@given(vectors, vectors)
def test_from_point_matches_model(n, q):
    assert same_plane(Plane.from_point(Vec3d(*n), Vec3d(*q)), model.plane_from_point(n, q))


@settings(max_examples=200)
@given(st.one_of(vectors, finite_vectors), vectors, st.one_of(vectors, finite_vectors))
def test_from_points_matches_model(p1, p2, p3):
    got = Plane.from_points(Vec3d(*p1), Vec3d(*p2), Vec3d(*p3))
    assert same_plane(got, model.plane_from_points(p1, p2, p3))


@settings(max_examples=200)
@given(st.one_of(vectors, finite_vectors), doubles, st.one_of(vectors, finite_vectors))
def test_distance_and_containment_match_model(n, d, q):
    p = raw_plane(n, d)
    assert same_plane(p, (n, d))
    assert same(p.distance_to_point(Vec3d(*q)), model.plane_distance_to_point((n, d), q))
    assert p.contains_point(Vec3d(*q)) is model.plane_contains_point((n, d), q)


@settings(max_examples=200)
@given(finite_vectors, finite, st.floats(min_value=-1e-15, max_value=1e-15))
def test_containment_near_the_plane_matches_model(n, d, off):
    p = Plane(Vec3d(*n), d)
    normal, dist = fields(p)
    # A point on the plane up to rounding, nudged along the normal.
    s = -dist + off
    q = (normal[0] * s, normal[1] * s, normal[2] * s)
    assert p.contains_point(Vec3d(*q)) is model.plane_contains_point((normal, dist), q)


# --- argument errors --------------------------------------------------------------------------

V = Vec3d(0, 0, 1)


@pytest.mark.parametrize("call, exc, message", [
    (lambda: Plane(1, 2.0), TypeError, "argument 'normal': 'int' object is not an instance of 'Vec3d'"),
    (lambda: Plane(None, 2.0), TypeError, "argument 'normal': 'None' is not an instance of 'Vec3d'"),
    (lambda: Plane(V, "a"), TypeError, "argument 'distance': must be real number, not str"),
    (lambda: Plane(V, None), TypeError, "argument 'distance': must be real number, not NoneType"),
    (lambda: Plane(V, 10 ** 400), OverflowError, "int too large to convert to float"),
    (lambda: Plane("n", "d"), TypeError, "argument 'normal': 'str' object is not an instance of 'Vec3d'"),
    (lambda: Plane(), TypeError,
     "Plane.__new__() missing 2 required positional arguments: 'normal' and 'distance'"),
    (lambda: Plane(V), TypeError, "Plane.__new__() missing 1 required positional argument: 'distance'"),
    (lambda: Plane(V, 1.0, 2.0), TypeError, "Plane.__new__() takes 2 positional arguments but 3 were given"),
    (lambda: Plane(V, 1.0, normal=V), TypeError, "Plane.__new__() got multiple values for argument 'normal'"),
    (lambda: Plane(V, d=1.0), TypeError, "Plane.__new__() got an unexpected keyword argument 'd'"),
    (lambda: Plane.__new__(Plane, V), TypeError,
     "Plane.__new__() missing 1 required positional argument: 'distance'"),
    (lambda: Plane.__new__(Plane, V, 1.0, x=2), TypeError,
     "Plane.__new__() got an unexpected keyword argument 'x'"),
    (lambda: Plane.__new__(Plane, 1.0, 1.0), TypeError,
     "argument 'normal': 'float' object is not an instance of 'Vec3d'"),
    (lambda: Plane.from_point(V, [1]), TypeError,
     "argument 'point': 'list' object is not an instance of 'Vec3d'"),
    (lambda: Plane.from_point(Plane.xy(), V), TypeError,
     "argument 'normal': 'Plane' object is not an instance of 'Vec3d'"),
    (lambda: Plane.from_point(normal=V), TypeError,
     "Plane.from_point() missing 1 required positional argument: 'point'"),
    (lambda: Plane.from_points(1, V, V), TypeError,
     "argument 'point1': 'int' object is not an instance of 'Vec3d'"),
    (lambda: Plane.from_points(V, 1, V), TypeError,
     "argument 'point2': 'int' object is not an instance of 'Vec3d'"),
    (lambda: Plane.from_points(V, V, 1), TypeError,
     "argument 'point3': 'int' object is not an instance of 'Vec3d'"),
    (lambda: Plane.from_points(V), TypeError,
     "Plane.from_points() missing 2 required positional arguments: 'point2' and 'point3'"),
    (lambda: Plane.from_points(), TypeError,
     "Plane.from_points() missing 3 required positional arguments: 'point1', 'point2', and 'point3'"),
    (lambda: Plane.xy().distance_to_point(None), TypeError,
     "argument 'point': 'None' is not an instance of 'Vec3d'"),
    (lambda: Plane.xy().distance_to_point(V, V), TypeError,
     "Plane.distance_to_point() takes 1 positional arguments but 2 were given"),
    (lambda: Plane.xy().contains_point((0, 0, 0)), TypeError,
     "argument 'point': 'tuple' object is not an instance of 'Vec3d'"),
    (lambda: Plane.xy().contains_point(V, pt=V), TypeError,
     "Plane.contains_point() got an unexpected keyword argument 'pt'"),
])
def test_argument_errors(call, exc, message):
    raises_exactly(exc, message, call)


@pytest.mark.parametrize("call", [lambda: Plane.xy(1), lambda: Plane.yz(a=1), lambda: Plane.xz(None)])
def test_no_argument_static_methods_refuse_arguments(call):
    with pytest.raises(TypeError):
        call()


def test_argument_error_keeps_cause():
    with pytest.raises(TypeError) as info:
        Plane(V, RaisesOnConvert(TypeError("bad float"), cause=KeyError("inner")))
    assert str(info.value) == "argument 'distance': bad float"
    assert type(info.value.__cause__) is KeyError


def test_float_rule_accepts_int_bool_index_and_subclass():
    assert [Plane(V, d).distance for d in (2, True, Indexy(3), FloatSub(1.5))] == [-2.0, -1.0, -3.0, -1.5]


# --- setters ----------------------------------------------------------------------------------

@pytest.mark.parametrize("name", ["normal", "distance"])
def test_setters_refuse_deletion(name):
    p = Plane(Vec3d(0, 0, 2), 5.0)
    with pytest.raises(AttributeError) as info:
        delattr(p, name)
    assert str(info.value) == "property has no deleter"
    assert same_plane(p, ((0.0, 0.0, 1.0), -5.0))


@pytest.mark.parametrize("name, value, message", [
    ("normal", 1, "argument 'value': 'int' object is not an instance of 'Vec3d'"),
    ("normal", None, "argument 'value': 'None' is not an instance of 'Vec3d'"),
    ("normal", Plane.xy(), "argument 'value': 'Plane' object is not an instance of 'Vec3d'"),
    ("distance", "x", "argument 'value': must be real number, not str"),
    ("distance", V, "argument 'value': must be real number, not builtins.Vec3d"),
])
def test_setter_type_errors_change_nothing(name, value, message):
    p = Plane(Vec3d(0, 0, 2), 5.0)
    with pytest.raises(TypeError) as info:
        setattr(p, name, value)
    assert str(info.value) == message
    assert same_plane(p, ((0.0, 0.0, 1.0), -5.0))


def test_distance_setter_overflow_is_not_prefixed():
    p = Plane.xy()
    with pytest.raises(OverflowError) as info:
        p.distance = 10 ** 400
    assert str(info.value) == "int too large to convert to float"
    assert bits(p.distance) == bits(-0.0)


# --- re-entrancy and borrows ------------------------------------------------------------------

def test_setter_converts_before_borrowing():
    # The value is converted while the plane is not yet borrowed, so code run by
    # the conversion may use the plane; the outer assignment then wins.
    p = Plane(Vec3d(0, 0, 1), 5.0)
    seen = []

    def meddle():
        seen.append(p.distance_to_point(Vec3d(0, 0, 0)))
        p.distance = 1.0

    p.distance = Reenter(meddle, 2.0)
    assert seen == [5.0]
    assert p.distance == 2.0


def test_constructor_holds_normal_while_converting_distance():
    n = Vec3d(0, 0, 2)
    with pytest.raises(RuntimeError) as info:
        Plane(n, Reenter(lambda: setattr(n, "x", 7.0), 1.0))
    assert str(info.value) == "Already borrowed"
    assert vt(n) == (0.0, 0.0, 2.0)


def test_constructor_can_read_normal_while_converting_distance():
    n = Vec3d(0, 0, 2)

    class Reader:
        def __float__(self):
            return n.z

    assert same_plane(Plane(n, Reader()), ((0.0, 0.0, 1.0), -2.0))


def test_same_vector_for_every_argument():
    v = Vec3d(1, 2, 3)
    p = Plane.from_points(v, v, v)
    assert math.isnan(p.distance)
    q = Plane.from_point(v, v)
    assert same_plane(q, model.plane_from_point(vt(v), vt(v)))


# --- reference counts -------------------------------------------------------------------------

def test_reference_counts():
    n, q = Vec3d(0, 0, 2), Vec3d(1, 2, 3)
    d = 12345.678
    p = Plane(n, d)
    before = [sys.getrefcount(x) for x in (n, q, d, p)]
    for _ in range(100):
        Plane(n, d)
        Plane.__new__(Plane, n, d)
        Plane.from_point(n, q)
        Plane.from_points(n, q, n)
        p.distance_to_point(q)
        p.contains_point(point=q)
        p.normal = n
        p.normal
        p.distance
        with pytest.raises(TypeError):
            Plane(n, "x")
        with pytest.raises(TypeError):
            p.distance_to_point(d)
    p.distance = d
    assert [sys.getrefcount(x) for x in (n, q, d, p)] == before


def test_results_hold_no_extra_references():
    p = Plane.xy()
    baseline = (Vec3d(0, 0, 1), Plane.__new__(Plane, Vec3d(0, 0, 1), 0.0))
    got = (p.normal, Plane.xz())
    assert [sys.getrefcount(x) for x in got] == [sys.getrefcount(x) for x in baseline]
    got = (Plane.from_points(Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0)),
           Plane.from_point(Vec3d(0, 0, 1), Vec3d(0, 0, 0)))
    assert [sys.getrefcount(x) for x in got] == [sys.getrefcount(baseline[1])] * 2
