"""A short walk through orvath: vectors, angles, quaternions, vector lists and
the geometry submodule, ending with a bulk operation timed against numpy."""
import time
from collections.abc import Callable

import numpy as np

from orvath import AngleDegrees, AngleRadians, Quat, Vec3d, VecList
# orvath.geometry is an attribute of orvath, not an importable module of its own.
from orvath import geometry as geo


def section(title: str) -> None:
    print(f"\n== {title}")


def vectors() -> None:
    section("Vec3d")
    v = Vec3d(3, 4, 0)
    w = Vec3d(0, 0, 2)
    print(f"v = {v!r}, w = {w!r}")
    print(f"|v| = {v.magnitude()}, v.normalize() = {v.normalize()!r}, v.is_unit() = {v.is_unit()}")
    print(f"v . w = {v.dot(w)}, v x w = {v.cross(w)!r}")
    print(f"v + w = {v + w!r}, 2 * v = {2 * v!r}, v / 0 = {v / 0!r}")
    print(f"angle from v to w: {v.angle_to(w)!r}")
    print(f"distance of (0, 1, 0) from the x axis: {Vec3d(0, 1, 0).distance_to_line(Vec3d.zero(), Vec3d.i())}")
    print(f"(1, 2, 3) onto the plane z = 0: {Vec3d(1, 2, 3).project_onto_plane(Vec3d.k())!r}")
    print(f"0.1 + 0.2 prints as {Vec3d(0.1 + 0.2, 1e20, -0.0)!r}")
    print(f"equal within 2**-52: {Vec3d(0, 0, 0) == Vec3d(1e-16, 0, 0)}; hash(zero) = {hash(Vec3d.zero())}")
    x, y, z = v.to_array()
    print(f"unpacked: x={x} y={y} z={z}; v[1] = {v[1]}")
    try:
        v[3]
    except IndexError as exc:
        print(f"v[3] -> IndexError: {exc}")
    try:
        v.dot(None)  # type: ignore[arg-type]
    except TypeError as exc:
        print(f"v.dot(None) -> TypeError: {exc}")


def angles() -> None:
    section("AngleRadians and AngleDegrees")
    third = AngleRadians.third_pi()
    print(f"{third!r} = {third.to_degrees()!r}; sin = {third.sin()}, sec = {third.sec()}")
    print(f"{AngleDegrees(-720)!r} in radians: {AngleDegrees(-720).to_radians()!r} (never wrapped)")
    print(f"pi / 2 == half_pi: {AngleRadians.pi() / 2 == AngleRadians.half_pi()}")
    print(f"-zero is {-AngleRadians.zero()!r}")


def quaternions() -> None:
    section("Quat")
    q = Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi())
    print(f"a quarter turn about z: {q!r}")
    print(f"rotating x: {q.rotate(Vec3d.i())!r}")
    axis, angle = q.to_axis_angle()
    print(f"axis-angle: {axis!r}, {angle!r}")
    print("rotation matrix:")
    for row in q.to_rotation_matrix():
        print("   ", row)
    print(f"conjugate of identity: {Quat.identity().conjugate()!r}, unit: {q.is_unit()}")


def vector_lists() -> None:
    section("VecList")
    points = VecList([Vec3d(4, 0, 0), Vec3d(9, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 3, 4)])
    print(repr(points))
    print(f"magnitudes: {points.magnitude()}")
    print(f"nearest to the origin (stride 1): {points.minimum_distance_to(Vec3d.zero(), 1)}")
    points.rotate(Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi()))
    print(f"after a quarter turn: {points.to_array()}")
    print(f"collapsed onto x = 0: {points.collapse(0).list}")


def geometry_tour() -> None:
    section("orvath.geometry")
    plane = geo.Plane(Vec3d(0, 0, 1), 5.0)
    print(f"the plane z = 5 stores distance {plane.distance}")
    print(f"line (1,1,1)-(2,2,2) meets it at {geo.plane_line(plane, Vec3d(1, 1, 1), Vec3d(2, 2, 2))!r}")
    print(f"xz plane normal: {geo.Plane.xz().normal!r}")
    a = geo.Circle(Vec3d(0, 0, 0), 5, Vec3d(0, 0, 1))
    b = geo.Circle(Vec3d(6, 0, 0), 5, Vec3d(0, 0, 1))
    print(f"circle area {a.area}; (3, 4, 0) on it: {geo.circle_point(a, Vec3d(3, 4, 0), False)}")
    print(f"two circles cross at {geo.circle_circle(a, b)!r}")
    try:
        geo.circle_circle(a, geo.Circle(Vec3d(11, 0, 0), 5, Vec3d(0, 0, 1)))
    except ValueError as exc:
        print(f"too far apart -> ValueError: {exc}")


def bulk() -> None:
    section("a bulk operation on a million points")
    rng = np.random.default_rng(7)
    array = rng.standard_normal((1_000_000, 3))
    points = VecList([Vec3d(*row) for row in array[:1000]] * 1000)
    array = np.array(points.to_array())

    def best(fn: Callable[[], object]) -> float:
        times: list[float] = []
        for _ in range(5):
            start = time.perf_counter()
            fn()
            times.append(time.perf_counter() - start)
        return min(times)

    ours = best(lambda: points.normalize())
    theirs = best(lambda: array / np.sqrt((array * array).sum(axis=1))[:, None])
    same = np.array_equal(np.array(points.normalize().to_array()),
                          array / np.sqrt((array[:, 0] * array[:, 0] + array[:, 1] * array[:, 1])
                                          + array[:, 2] * array[:, 2])[:, None])
    print(f"normalize 1e6 vectors: orvath {ours * 1e3:.2f} ms, numpy {theirs * 1e3:.2f} ms "
          f"({theirs / ours:.1f}x); bit-identical to numpy with the same operation order: {same}")


if __name__ == "__main__":
    vectors()
    angles()
    quaternions()
    vector_lists()
    geometry_tour()
    bulk()
