"""The functions of orvath.geometry: plane_line, circle_point, circle_point_unchecked, circle_circle."""
import math
import sys

import numpy as np
import pytest
from hypothesis import assume, given, settings, strategies as st

from models import geometry as model
from models.bits import doubles, finite, same_seq
from orvath import Vec3d, geometry
from support.helpers import circle, raises_exactly, raw_circle, raw_plane, vt
from support.oddities import fake_numpy_bool

Circle = geometry.Circle
Plane = geometry.Plane
plane_line = geometry.plane_line
circle_point = geometry.circle_point
circle_point_unchecked = geometry.circle_point_unchecked
circle_circle = geometry.circle_circle

vectors = st.tuples(doubles, doubles, doubles)
finite_vectors = st.tuples(finite, finite, finite)
any_vectors = st.one_of(vectors, finite_vectors)
EPS = 2.0 ** -52


def circle_fields(c):
    return vt(c.center), c.radius, vt(c.normal)


def points(pair):
    assert type(pair) is tuple and len(pair) == 2
    assert all(type(p) is Vec3d for p in pair)
    return tuple(vt(p) for p in pair)


# --- plane_line -------------------------------------------------------------------------------

@pytest.mark.parametrize("a, b, expected", [
    ((0, 0, 0), (0, 0, 10), (0.0, 0.0, 5.0)),
    ((1, 1, 1), (2, 2, 2), (5.0, 5.0, 5.0)),
    ((0, 0, 10), (0, 0, 0), (0.0, 0.0, 5.0)),
    ((3, -1, 5), (0, 0, 7), (3.0, -1.0, 5.0)),
])
def test_plane_line_values(a, b, expected):
    assert vt(plane_line(Plane(Vec3d(0, 0, 1), 5.0), Vec3d(*a), Vec3d(*b))) == expected


def test_plane_line_keywords():
    got = plane_line(b=Vec3d(0, 0, 10), plane=Plane(Vec3d(0, 0, 1), 5.0), a=Vec3d(0, 0, 0))
    assert vt(got) == (0.0, 0.0, 5.0)


@pytest.mark.parametrize("a, b", [((0, 0, 1), (1, 0, 1)), ((0, 0, 0), (1, 1, 0)), ((2, 2, 2), (2, 2, 2))])
def test_plane_line_parallel_or_degenerate_gives_non_finite(a, b):
    got = vt(plane_line(Plane.xy(), Vec3d(*a), Vec3d(*b)))
    assert not all(math.isfinite(x) for x in got)
    assert same_seq(got, model.plane_line(((0.0, 0.0, 1.0), -0.0), a, b))


def test_plane_line_uses_stored_fields():
    p = Plane(Vec3d(0, 0, 1), 5.0)
    p.normal = Vec3d(0, 0, 2)
    p.distance = -4.0
    # 2z - 4 = 0
    assert vt(plane_line(p, Vec3d(1, 1, 0), Vec3d(1, 1, 1))) == (1.0, 1.0, 2.0)


@settings(max_examples=200)
@given(any_vectors, doubles, any_vectors, any_vectors)
def test_plane_line_matches_model(n, d, a, b):
    got = plane_line(raw_plane(n, d), Vec3d(*a), Vec3d(*b))
    assert type(got) is Vec3d
    assert same_seq(vt(got), model.plane_line((n, d), a, b))


@settings(max_examples=200)
@given(st.integers(0, 2 ** 32 - 1))
def test_plane_line_lies_on_plane_and_line(seed):
    rng = np.random.default_rng(seed)
    n = rng.normal(size=3)
    n /= np.linalg.norm(n)
    a = rng.uniform(-10, 10, size=3)
    direction = rng.normal(size=3)
    assume(abs(n @ direction) > 0.1 * np.linalg.norm(direction))
    b = a + direction
    plane = Plane(Vec3d(*n), float(rng.uniform(-10, 10)))
    p = np.array(vt(plane_line(plane, Vec3d(*a), Vec3d(*b))))
    assert plane.distance_to_point(Vec3d(*p)) < 1e-9
    assert np.linalg.norm(np.cross(p - a, b - a)) < 1e-9 * (1 + np.linalg.norm(p - a))


# --- circle_point and circle_point_unchecked --------------------------------------------------

BOTH = pytest.mark.parametrize("test", [circle_point, circle_point_unchecked],
                               ids=["checked", "unchecked"])


@pytest.mark.parametrize("point, inner, checked, unchecked", [
    ((3, 4, 0), True, True, True),
    ((3, 4, 0), False, True, True),
    ((1, 0, 0), True, True, True),
    ((1, 0, 0), False, False, False),
    ((6, 0, 0), True, False, False),
    ((6, 0, 0), False, False, False),
    ((1, 0, 1), True, False, True),
    ((1, 0, 1), False, False, False),
    ((3, 0, 4), True, False, True),
    ((0, 0, 0), True, True, True),
])
def test_circle_point_values(point, inner, checked, unchecked):
    c = circle()
    assert circle_point(c, Vec3d(*point), inner) is checked
    assert circle_point_unchecked(c, Vec3d(*point), inner) is unchecked


@BOTH
@pytest.mark.parametrize("radius, expected", [
    (1.0 + 2.0 ** -52, (False, False)),  # delta is exactly EPS: neither on nor inside
    (1.0 + 2.0 ** -51, (True, False)),   # delta just above EPS: inside
    (1.0, (True, True)),
    (1.0 - 2.0 ** -53, (True, True)),    # |delta| below EPS: on the circumference
])
def test_tolerance_boundary(test, radius, expected):
    c = circle(radius=radius)
    assert test(c, Vec3d(1, 0, 0), True) is expected[0]
    assert test(c, Vec3d(1, 0, 0), False) is expected[1]


def test_circle_point_renormalises_the_normal_for_the_plane_test():
    c = circle()
    c.normal = Vec3d(0, 0, 1e6)
    assert circle_point(c, Vec3d(3, 4, 0), False) is True
    c.normal = Vec3d(0, 0, 0)
    assert circle_point(c, Vec3d(3, 4, 0), True) is False
    assert circle_point_unchecked(c, Vec3d(3, 4, 0), False) is True


@BOTH
def test_negative_stored_radius_never_contains(test):
    c = circle()
    c.radius = -5.0
    assert test(c, Vec3d(0, 0, 0), True) is False
    assert test(c, Vec3d(5, 0, 0), True) is False


@BOTH
def test_numpy_bools_are_accepted(test):
    c = circle()
    assert test(c, Vec3d(1, 0, 0), np.bool_(True)) is True
    assert test(c, Vec3d(1, 0, 0), np.bool_(False)) is False
    assert test(c, Vec3d(1, 0, 0), np.True_) is True


@BOTH
@pytest.mark.parametrize("inner, message", [
    (1, "argument 'inner': 'int' object is not an instance of 'bool'"),
    (0, "argument 'inner': 'int' object is not an instance of 'bool'"),
    (None, "argument 'inner': 'None' is not an instance of 'bool'"),
    ("True", "argument 'inner': 'str' object is not an instance of 'bool'"),
    (1.0, "argument 'inner': 'float' object is not an instance of 'bool'"),
    (np.int64(1), "argument 'inner': 'int64' object is not an instance of 'bool'"),
])
def test_inner_must_be_a_bool(test, inner, message):
    with pytest.raises(TypeError) as info:
        test(circle(), Vec3d(1, 0, 0), inner)
    assert str(info.value) == message


@BOTH
def test_numpy_named_type_without_truth_slot(test):
    with pytest.raises(TypeError) as info:
        test(circle(), Vec3d(1, 0, 0), fake_numpy_bool())
    assert str(info.value) == "argument 'inner': object of type 'bool_' does not define a '__bool__' conversion"


@BOTH
def test_numpy_named_type_truth_slot_is_used(test):
    assert test(circle(), Vec3d(1, 0, 0), fake_numpy_bool("bool", lambda self: True)) is True
    other = fake_numpy_bool("bool_", lambda self: True, module="notnumpy")
    with pytest.raises(TypeError) as info:
        test(circle(), Vec3d(1, 0, 0), other)
    assert str(info.value) == "argument 'inner': 'bool_' object is not an instance of 'bool'"


@BOTH
@pytest.mark.parametrize("target", ["circle", "point"])
def test_arguments_stay_borrowed_while_inner_converts(test, target):
    c, p = circle(), Vec3d(1, 0, 0)

    def mutate(self):
        if target == "circle":
            c.radius = 100.0
        else:
            p.x = 100.0
        return True

    with pytest.raises(RuntimeError) as info:
        test(c, p, fake_numpy_bool("bool_", mutate))
    assert str(info.value) == "Already borrowed"
    assert circle_fields(c) == ((0.0, 0.0, 0.0), 5.0, (0.0, 0.0, 1.0))
    assert vt(p) == (1.0, 0.0, 0.0)


@BOTH
def test_truth_slot_error_passes_unchanged(test):
    def fail(self):
        raise ZeroDivisionError("no truth")

    with pytest.raises(ZeroDivisionError) as info:
        test(circle(), Vec3d(1, 0, 0), fake_numpy_bool("bool_", fail))
    assert str(info.value) == "no truth"


near = st.one_of(st.just(0.0), st.floats(min_value=-1e-15, max_value=1e-15),
                 st.sampled_from([EPS, -EPS, 2 * EPS, math.nan, math.inf]))


@st.composite
def circle_and_point(draw):
    center = draw(any_vectors)
    radius = draw(st.one_of(finite, doubles))
    normal = draw(st.one_of(st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -3.0), (0.6, 0.8, 0.0)]), any_vectors))
    if draw(st.booleans()):
        point = draw(any_vectors)
    else:
        # Near the circumference or the center, in or near the circle's plane.
        k = draw(st.sampled_from([0.0, 1.0, 0.5, 2.0]))
        in_plane = (-normal[1], normal[0], 0.0) if normal[0] or normal[1] else (1.0, 0.0, 0.0)
        m = model.magnitude(in_plane)
        point = tuple(c + k * radius * model.div(u, m) + e
                      for c, u, e in zip(center, in_plane, draw(st.tuples(near, near, near))))
    return (center, radius, normal), point


@settings(max_examples=300)
@given(circle_and_point(), st.booleans())
def test_circle_point_matches_model(cp, inner):
    fields, point = cp
    c = raw_circle(*fields)
    assert circle_point(c, Vec3d(*point), inner) is model.circle_point(fields, point, inner)
    assert circle_point_unchecked(c, Vec3d(*point), inner) is model.circle_point_unchecked(fields, point, inner)


# --- circle_circle ----------------------------------------------------------------------------

@pytest.mark.parametrize("second, expected", [
    (((6, 0, 0), 5.0), ((3.0, -4.0, 0.0), (3.0, 4.0, 0.0))),
    (((4, 0, 0), 3.0), ((4.0, -3.0, 0.0), (4.0, 3.0, 0.0))),
])
def test_circle_circle_values(second, expected):
    assert points(circle_circle(circle(), circle(center=second[0], radius=second[1]))) == expected


def test_circle_circle_touching_outside():
    got = points(circle_circle(circle(radius=1.0), circle(center=(2, 0, 0), radius=1.0)))
    assert got == ((1.0, 0.0, 0.0), (1.0, 0.0, 0.0))


def test_circle_circle_touching_inside():
    got = points(circle_circle(circle(radius=2.0), circle(center=(1, 0, 0), radius=1.0)))
    assert got == ((2.0, 0.0, 0.0), (2.0, 0.0, 0.0))


@pytest.mark.parametrize("first, second, touching", [
    (((0, 0, 0), 5.0), ((3, 0, 0), 2.0), (5.0, 0.0, 0.0)),
    (((-9, 0, 0), 1.0), ((-6, 0, 0), 2.0), (-8.0, 0.0, 0.0)),
])
def test_circle_circle_touching_where_rounding_went_negative(first, second, touching):
    a = circle(center=first[0], radius=first[1])
    b = circle(center=second[0], radius=second[1])
    q = model.circle_circle(circle_fields(a), circle_fields(b))
    p, r = points(circle_circle(a, b))
    assert same_seq(p, q[0]) and same_seq(r, q[1]) and p == r
    assert all(abs(g - e) <= 4 * EPS * 9 for g, e in zip(p, touching))


def test_circle_circle_all_touching_integer_pairs_give_the_touching_point():
    # Centres on the x axis, integer radii up to 12, touching from outside and
    # from inside: never NaN, and along the line of centres both points are the
    # touching point within a few ulps. Across it, a half-chord that rounding
    # left slightly positive is the square root of a rounding error, so up to
    # about sqrt(EPS) of the scale.
    count = 0
    for r1 in range(1, 13):
        for r2 in range(1, 13):
            for gap in {r1 + r2, abs(r1 - r2)} - {0}:
                for x in range(-10, 11, 4):
                    touch = x + r1 if r1 >= r2 or gap == r1 + r2 else x - r1
                    a = circle(center=(x, 0, 0), radius=float(r1))
                    b = circle(center=(x + gap, 0, 0), radius=float(r2))
                    p, r = points(circle_circle(a, b))
                    scale = abs(x) + gap + r1 + r2
                    for got in (p, r):
                        assert abs(got[0] - touch) <= 8 * EPS * scale
                        assert abs(got[1]) <= math.sqrt(EPS) * scale and got[2] == 0.0
                    count += 1
    assert count > 1000
    nan = circle(center=(3, 0, 0), radius=math.nan)
    assert all(math.isnan(c) for c in points(circle_circle(circle(), nan))[0])


def test_circle_circle_keywords_and_fresh_results():
    a, b = circle(), circle(center=(6, 0, 0))
    pair = circle_circle(circle2=b, circle1=a)
    assert points(pair) == ((3.0, -4.0, 0.0), (3.0, 4.0, 0.0))


@pytest.mark.parametrize("first, second, message", [
    (((0, 0, 0), 5.0, (0, 0, 1)), ((11, 0, 0), 5.0, (0, 0, 1)), model.TOO_FAR),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((1, 0, 0), 2.0, (0, 0, 1)), model.CONTAINED),
    (((1, 0, 0), 2.0, (0, 0, 1)), ((0, 0, 0), 5.0, (0, 0, 1)), model.CONTAINED),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((0, 0, 0), 5.0, (0, 0, 1)), model.IDENTICAL),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((0, 0, 0), 5.0, (0, 0, -1)), model.IDENTICAL),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((1e-17, 0, 0), 5.0, (0, 0, 1)), model.IDENTICAL),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((3, 0, 0), 5.0, (1, 0, 0)), model.OUT_OF_PLANE),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((3, 0, 1), 5.0, (0, 0, 1)), model.OUT_OF_PLANE),
    # Out of plane is tested before the distances.
    (((0, 0, 0), 5.0, (0, 0, 1)), ((100, 0, 0), 5.0, (1, 0, 0)), model.OUT_OF_PLANE),
    (((0, 0, 0), 5.0, (0, 0, 1)), ((0, 0, 1), 1.0, (0, 0, 1)), model.OUT_OF_PLANE),
    # Identical is tested before out of plane (NaN-free normals that are not coplanar never
    # reach it, but equal circles do).
    (((0, 0, 0), 5.0, (0, 0, 1)), ((0, 0, 0), 5.0, (0, 0, -1)), model.IDENTICAL),
    # Concentric circles of different radii are one inside the other.
    (((0, 0, 0), 5.0, (0, 0, 1)), ((0, 0, 0), 4.0, (0, 0, 1)), model.CONTAINED),
])
def test_circle_circle_errors(first, second, message):
    raises_exactly(ValueError, message, circle_circle, circle(*first), circle(*second))


def test_too_far_is_tested_before_contained():
    # Only a negative radius stored through the setter can make both apply.
    a, b = circle(radius=5.0), circle(center=(1, 0, 0), radius=5.0)
    a.radius = -5.0
    with pytest.raises(ValueError) as info:
        circle_circle(a, b)
    assert str(info.value) == model.TOO_FAR


def test_same_object_twice_is_identical():
    c = circle()
    with pytest.raises(ValueError) as info:
        circle_circle(c, c)
    assert str(info.value) == model.IDENTICAL
    n = Circle.none()
    # NaN normals are never equal and never coplanar.
    with pytest.raises(ValueError) as info:
        circle_circle(n, n)
    assert str(info.value) == model.OUT_OF_PLANE


def test_opposite_normals_in_one_plane():
    a = circle(center=(0, 0, 5), normal=(0, 0, 1))
    b = circle(center=(6, 0, 5), normal=(0, 0, -1))
    up = points(circle_circle(a, b))
    assert up == ((3.0, 4.0, 5.0), (3.0, -4.0, 5.0))
    b.normal = Vec3d(0, 0, 1)
    assert points(circle_circle(a, b)) == (up[1], up[0])


def test_nearly_touching_may_give_nan_without_raising():
    a, b = circle(radius=1.0), circle(center=(2.0, 0, 0), radius=1.0)
    b.center = Vec3d(math.nextafter(2.0, 0.0), 0, 0)
    got = points(circle_circle(a, b))
    expected = model.circle_circle(circle_fields(a), circle_fields(b))
    assert same_seq(got[0], expected[0]) and same_seq(got[1], expected[1])


def check_against_model(a, b):
    expected = model.circle_circle(a, b)
    ca, cb = raw_circle(*a), raw_circle(*b)
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            circle_circle(ca, cb)
        assert str(info.value) == expected
    else:
        got = points(circle_circle(ca, cb))
        assert same_seq(got[0], expected[0]) and same_seq(got[1], expected[1])


@settings(max_examples=300)
@given(st.floats(min_value=-1e3, max_value=1e3), st.sampled_from([1.0, -1.0, 2.0]), st.sampled_from([1.0, -1.0]),
       st.tuples(finite, finite), st.tuples(finite, finite),
       st.one_of(finite, doubles), st.one_of(finite, doubles))
def test_coplanar_pairs_match_model(z, n1, n2, xy1, xy2, r1, r2):
    a = ((xy1[0], xy1[1], z), r1, (0.0, 0.0, n1))
    b = ((xy2[0], xy2[1], z), r2, (0.0, 0.0, n2))
    check_against_model(a, b)


@settings(max_examples=300)
@given(any_vectors, doubles, any_vectors, any_vectors, doubles, any_vectors)
def test_arbitrary_pairs_match_model(c1, r1, n1, c2, r2, n2):
    check_against_model((c1, r1, n1), (c2, r2, n2))


@settings(max_examples=200)
@given(st.integers(0, 2 ** 32 - 1), st.booleans())
def test_points_lie_on_both_circles(seed, flip):
    rng = np.random.default_rng(seed)
    n = rng.normal(size=3)
    n /= np.linalg.norm(n)
    e1 = np.cross(n, [1.0, 0.0, 0.0] if abs(n[0]) < 0.9 else [0.0, 1.0, 0.0])
    e1 /= np.linalg.norm(e1)
    e2 = np.cross(n, e1)
    normal = Vec3d(*n)
    stored = vt(Circle(Vec3d(0, 0, 0), 1.0, normal).normal)
    # Random coplanar centers rarely pass the absolute same-plane tolerance; draw until
    # a pair does, as the function requires.
    for _ in range(200):
        origin = rng.uniform(-1, 1, size=3)
        origin -= (origin @ n) * n
        r1, r2 = rng.uniform(0.5, 2.0, size=2)
        d = rng.uniform(abs(r1 - r2) + 0.05, r1 + r2 - 0.05)
        phi = rng.uniform(0, 2 * math.pi)
        c1 = origin
        c2 = origin + d * (math.cos(phi) * e1 + math.sin(phi) * e2)
        other = tuple(-x for x in stored) if flip else stored
        a = (tuple(map(float, c1)), float(r1), stored)
        b = (tuple(map(float, c2)), float(r2), other)
        if model.circle_in_same_plane(a, b):
            break
    else:
        assume(False)
    ca, cb = raw_circle(*a), raw_circle(*b)
    pair = circle_circle(ca, cb)
    plane = ca.get_plane()
    for p in points(pair):
        p = np.array(p)
        assert abs(np.linalg.norm(p - c1) - r1) < 1e-9
        assert abs(np.linalg.norm(p - c2) - r2) < 1e-9
        assert plane.distance_to_point(Vec3d(*p)) < 1e-9
    first, second = (np.array(p) for p in points(pair))
    assert np.linalg.norm(first - second) > 1e-6
    # The first point lies on the side that (c2 - c1) x circle2.normal points to.
    side = np.cross(c2 - c1, np.array(other))
    assert (first - second) @ side > 0


# --- argument errors --------------------------------------------------------------------------

V = Vec3d(0, 0, 1)
P = Plane.xy()
C = Circle(Vec3d(0, 0, 0), 1.0, V)


@pytest.mark.parametrize("call, message", [
    (lambda: plane_line(V, V, V), "argument 'plane': 'Vec3d' object is not an instance of 'Plane'"),
    (lambda: plane_line(C, V, V), "argument 'plane': 'Circle' object is not an instance of 'Plane'"),
    (lambda: plane_line(P, None, V), "argument 'a': 'None' is not an instance of 'Vec3d'"),
    (lambda: plane_line(P, V, 3), "argument 'b': 'int' object is not an instance of 'Vec3d'"),
    (lambda: plane_line(None, None, None), "argument 'plane': 'None' is not an instance of 'Plane'"),
    (lambda: plane_line(), "plane_line() missing 3 required positional arguments: 'plane', 'a', and 'b'"),
    (lambda: plane_line(P, b=V), "plane_line() missing 1 required positional argument: 'a'"),
    (lambda: plane_line(P, V, V, V), "plane_line() takes 3 positional arguments but 4 were given"),
    (lambda: plane_line(P, V, V, a=V), "plane_line() got multiple values for argument 'a'"),
    (lambda: plane_line(P, V, V, c=V), "plane_line() got an unexpected keyword argument 'c'"),
    (lambda: circle_point(P, V, True), "argument 'circle': 'Plane' object is not an instance of 'Circle'"),
    (lambda: circle_point(C, C, True), "argument 'point': 'Circle' object is not an instance of 'Vec3d'"),
    (lambda: circle_point(C, V, 1), "argument 'inner': 'int' object is not an instance of 'bool'"),
    (lambda: circle_point(1, 2, 3), "argument 'circle': 'int' object is not an instance of 'Circle'"),
    (lambda: circle_point(C, V), "circle_point() missing 1 required positional argument: 'inner'"),
    (lambda: circle_point(C, point=V, circle=C, inner=True),
     "circle_point() got multiple values for argument 'circle'"),
    (lambda: circle_point_unchecked(V, V, True),
     "argument 'circle': 'Vec3d' object is not an instance of 'Circle'"),
    (lambda: circle_point_unchecked(C, (0, 0, 0), True),
     "argument 'point': 'tuple' object is not an instance of 'Vec3d'"),
    (lambda: circle_point_unchecked(C, V, None), "argument 'inner': 'None' is not an instance of 'bool'"),
    (lambda: circle_point_unchecked(C, V, True, True),
     "circle_point_unchecked() takes 3 positional arguments but 4 were given"),
    (lambda: circle_point_unchecked(inner=True),
     "circle_point_unchecked() missing 2 required positional arguments: 'circle' and 'point'"),
    (lambda: circle_circle(V, C), "argument 'circle1': 'Vec3d' object is not an instance of 'Circle'"),
    (lambda: circle_circle(C, None), "argument 'circle2': 'None' is not an instance of 'Circle'"),
    (lambda: circle_circle(C), "circle_circle() missing 1 required positional argument: 'circle2'"),
    (lambda: circle_circle(C, C, C), "circle_circle() takes 2 positional arguments but 3 were given"),
    (lambda: circle_circle(C, C, circle=C), "circle_circle() got an unexpected keyword argument 'circle'"),
])
def test_argument_errors(call, message):
    raises_exactly(TypeError, message, call)


def test_same_vector_for_both_line_points():
    v = Vec3d(1, 2, 3)
    got = vt(plane_line(Plane.xy(), v, v))
    assert same_seq(got, model.plane_line(((0.0, 0.0, 1.0), -0.0), (1.0, 2.0, 3.0), (1.0, 2.0, 3.0)))


# --- reference counts -------------------------------------------------------------------------

def test_reference_counts():
    a, b = circle(), circle(center=(6, 0, 0))
    p, v, w = Plane.xy(), Vec3d(1, 2, 3), Vec3d(3, 2, 1)
    objs = (a, b, p, v, w, True, False)
    before = [sys.getrefcount(x) for x in objs]
    for _ in range(100):
        plane_line(p, v, w)
        plane_line(plane=p, a=v, b=w)
        circle_point(a, v, True)
        circle_point_unchecked(a, v, False)
        circle_circle(a, b)
        with pytest.raises(ValueError):
            circle_circle(a, a)
        with pytest.raises(TypeError):
            circle_point(a, v, 1)
        with pytest.raises(TypeError):
            plane_line(p, v, a)
    assert [sys.getrefcount(x) for x in objs] == before


def test_results_hold_no_extra_references():
    baseline_vec, baseline_tuple = Vec3d(0, 0, 0), (Vec3d(0, 0, 0), Vec3d(0, 0, 0))
    got = plane_line(Plane.xy(), Vec3d(0, 0, 1), Vec3d(0, 0, 2))
    assert sys.getrefcount(got) == sys.getrefcount(baseline_vec)
    pair = circle_circle(circle(), circle(center=(6, 0, 0)))
    assert sys.getrefcount(pair) == sys.getrefcount(baseline_tuple)
    assert [sys.getrefcount(x) for x in pair] == [sys.getrefcount(x) for x in baseline_tuple]
    assert pair[0] is not pair[1]


def test_function_attributes():
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked",
                                "plane_line", "Plane"]
    for f, sig in [(plane_line, "(plane, a, b)"), (circle_point, "(circle, point, inner)"),
                   (circle_point_unchecked, "(circle, point, inner)"), (circle_circle, "(circle1, circle2)")]:
        assert f.__module__ == "orvath.geometry"
        assert f.__self__ is geometry
        assert f.__text_signature__ == sig
