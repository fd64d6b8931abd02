"""Uses every public member of orvath under mypy --strict and pyright's strict
mode (and runs as a script).

assert_type makes both checkers fail when a stub's annotation drifts from what
the code below expects; running the file checks the calls are real.
"""
import copy
import pickle
from collections.abc import Buffer
from typing import assert_type

import numpy as np

import orvath
from orvath import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry


def vectors() -> None:
    v = Vec3d(1.0, 2.0, 3.0)
    w = Vec3d(x=4, y=5, z=6)
    v.x = 1.5
    v.y, v.z = 2.0, 3.0
    assert_type(v.x + v.y + v.z, float)
    for made in (Vec3d.zero(), Vec3d.i(), Vec3d.j(), Vec3d.k(), Vec3d.new_from_to(v, w)):
        assert_type(made, Vec3d)
    assert_type(v.angle_to(w), AngleRadians)
    assert_type(v.cross(w), Vec3d)
    assert_type(v.distance_squared(w), float)
    assert_type(v.distance_to(w), float)
    assert_type(v.distance_to_line(w, Vec3d.zero()), float)
    assert_type(v.dot(w), float)
    assert_type(v.is_unit(), bool)
    assert_type(v.magnitude(), float)
    assert_type(v.normalize(), Vec3d)
    assert_type(v.project_onto_line(w, Vec3d.zero()), Vec3d)
    assert_type(v.project_onto_plane(Vec3d.k()), Vec3d)
    assert_type(v.scalar_triple_product(w, Vec3d.k()), float)
    assert_type(v.to_array(), list[float])
    assert_type(v.to_quat(), Quat)
    assert_type(v + w, Vec3d)
    assert_type(v - w, Vec3d)
    assert_type(v * 2.0, Vec3d)
    assert_type(2.0 * v, Vec3d)
    assert_type(v / 2.0, Vec3d)
    assert_type(-v, Vec3d)
    assert_type(v == w, bool)
    assert_type(v != w, bool)
    assert_type(v[0], float)
    x, y, z = v
    assert_type([x, y, z], list[float])
    total: float = sum(c for c in v)
    assert total == v.x + v.y + v.z
    assert_type(hash(v), int)
    assert_type(repr(v), str)


def angles() -> None:
    a = AngleRadians(0.5)
    a.angle = 0.25
    consts = [AngleRadians.zero(), AngleRadians.pi(), AngleRadians.two_pi(), AngleRadians.half_pi(),
              AngleRadians.quarter_pi(), AngleRadians.third_pi(), AngleRadians.sixth_pi()]
    assert_type(consts, list[AngleRadians])
    assert_type([a.sin(), a.cos(), a.tan(), a.sec(), a.csc(), a.cot()], list[float])
    d = a.to_degrees()
    assert_type(d, AngleDegrees)
    assert_type(d.to_radians(), AngleRadians)
    d.angle = 90
    assert_type(a + a, AngleRadians)
    assert_type(a - a, AngleRadians)
    assert_type(a * 2.0, AngleRadians)
    assert_type(a / 2.0, AngleRadians)
    assert_type(-a, AngleRadians)
    assert_type(-d, AngleDegrees)
    assert_type([a == a, a < a, a <= a, a > a, a >= a, a != a], list[bool])
    assert_type([d == d, d < d, d <= d, d > d, d >= d], list[bool])


def quaternions() -> None:
    q = Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi())
    q.w, q.i, q.j, q.k = q.w, q.i, q.j, q.k
    assert_type(Quat(1.0, 0.0, 0.0, 0.0), Quat)
    assert_type(Quat.identity(), Quat)
    assert_type(q.conjugate(), Quat)
    assert_type(q.is_unit(), bool)
    assert_type(q.magnitude(), float)
    assert_type(q.normalize(), Quat)
    assert_type(q.rotate(Vec3d.i()), Vec3d)
    assert_type(q.to_axis_angle(), tuple[Vec3d, AngleRadians])
    assert_type(q.to_rotation_matrix(), list[list[float]])
    assert_type(q.to_vec3d(), tuple[float, float, float])
    assert_type(q.then(Quat.identity()), Quat)
    assert_type(q.inverse(), Quat)
    assert_type(q.slerp(Quat.identity(), 0.5), Quat)
    assert_type(Quat.from_rotation_matrix(q.to_rotation_matrix()), Quat)
    assert_type(Quat.from_rotation_matrix(((1, 0, 0), (0, 1, 0), (0, 0, 1))), Quat)
    assert_type(Quat.from_rotation_matrix(np.eye(3)), Quat)
    assert_type(Quat.from_two_vectors(Vec3d.i(), Vec3d.j()), Quat)
    assert_type(q == q, bool)
    assert_type(q != q, bool)


def vector_lists() -> None:
    vl = VecList([Vec3d(1, 0, 0), Vec3d(0, 2, 0)])
    vl.append(Vec3d(0, 0, 3))
    vl.extend(VecList.empty())
    assert_type(vl.list, list[Vec3d])
    assert_type(vl.collapse(1), VecList)
    assert_type(vl.cross(Vec3d.k()), VecList)
    assert_type(vl.distance_squared(Vec3d.zero()), list[float])
    assert_type(vl.distance_to(Vec3d.zero()), list[float])
    assert_type(vl.dot(Vec3d.k()), list[float])
    assert_type(vl.is_unit(), list[bool])
    assert_type(vl.magnitude(), list[float])
    assert_type(vl.minimum_distance_to(Vec3d.zero(), 1), tuple[int, float])
    assert_type(vl.normalize(), VecList)
    vl.rotate(Quat.identity())
    assert_type(vl.to_array(), list[list[float]])
    assert_type(vl + Vec3d.i(), VecList)
    assert_type(vl - Vec3d.i(), VecList)
    assert_type(vl * 2.0, VecList)
    assert_type(2.0 * vl, VecList)
    assert_type(vl / 2.0, VecList)
    assert_type(vl[0], Vec3d)
    assert_type(len(vl), int)
    for e in vl:
        assert_type(e.x, float)
    it = iter(vl)
    assert_type(next(it), Vec3d)
    assert iter(it) is it
    assert_type(repr(vl), str)


def geometry_members() -> None:
    plane: orvath.geometry.Plane = geometry.Plane(Vec3d.k(), 5.0)
    plane.normal = Vec3d.k()
    plane.distance = -5.0
    for made in (geometry.Plane.xy(), geometry.Plane.xz(), geometry.Plane.yz(), geometry.Plane.from_point(Vec3d.k(), Vec3d.zero()),
                 geometry.Plane.from_points(Vec3d.zero(), Vec3d.i(), Vec3d.j())):
        assert_type(made, geometry.Plane)
    assert_type(plane.contains_point(Vec3d.zero()), bool)
    assert_type(plane.distance_to_point(Vec3d.zero()), float)
    assert_type(geometry.plane_line(plane, Vec3d.zero(), Vec3d(0, 0, 10)), Vec3d)

    c1 = geometry.Circle(Vec3d.zero(), 5.0, Vec3d.k())
    c2 = geometry.Circle(Vec3d(6, 0, 0), 5.0, Vec3d.k())
    c2.center, c2.radius, c2.normal = c2.center, c2.radius, c2.normal
    assert_type(c1.area, float)
    assert_type(geometry.Circle.none(), geometry.Circle)
    assert_type(c1.get_plane(), geometry.Plane)
    assert_type(c1.in_same_plane(c2), bool)
    assert_type(c1.is_degenerate(), bool)
    assert_type(c1 == c2, bool)
    assert_type(geometry.circle_point(c1, Vec3d(3, 4, 0), True), bool)
    assert_type(geometry.circle_point_unchecked(c1, Vec3d(3, 4, 0), False), bool)
    assert_type(geometry.circle_circle(c1, c2), tuple[Vec3d, Vec3d])
    assert orvath.geometry is geometry


def interoperation() -> None:
    vl = VecList.from_array([[1.0, 2.0, 3.0], (4, 5, 6)])
    assert_type(VecList.from_array(np.zeros((2, 3))), VecList)
    assert_type(VecList.from_array(vl), VecList)
    assert_type(VecList.from_array(vl.to_array()), VecList)
    with memoryview(vl) as view:
        assert view.shape == (2, 3)
    assert np.asarray(vl).shape == (2, 3)
    assert_type(vl.__reduce__(), tuple[object, tuple[str, Buffer]])
    assert_type(vl.__reduce_ex__(5), tuple[object, tuple[str, Buffer]])
    for value in (Vec3d.zero(), Quat.identity(), AngleRadians.pi(), AngleDegrees(90), geometry.Plane.xy(),
                  geometry.Circle.none()):
        assert_type(value.__reduce__(), tuple[object, tuple[str, bytes]])
    assert_type(copy.copy(vl), VecList)
    assert_type(copy.deepcopy(Vec3d.zero()), Vec3d)
    assert pickle.loads(pickle.dumps(vl, 5)).to_array() == vl.to_array()


if __name__ == "__main__":
    vectors()
    angles()
    quaternions()
    vector_lists()
    geometry_members()
    interoperation()
    print("ok")
