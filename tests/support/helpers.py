"""Small helpers shared by the test files."""
import pytest

from orvath import Vec3d, geometry


def raises_exactly(exc, message, call, /, *args, **kwargs):
    """Runs call(*args, **kwargs); it must raise exactly `exc` (not a
    subclass) with exactly `message`. Returns the exception."""
    with pytest.raises(BaseException) as info:
        call(*args, **kwargs)
    assert type(info.value) is exc, info.value
    assert str(info.value) == message
    return info.value


def vt(v):
    """A vector's components as a tuple."""
    return (v.x, v.y, v.z)


def constructor_paths(cls, argname="make"):
    """Parametrizes a test over the two roads into a constructor: the type's
    vectorcall, `Vec3d(...)`, and tp_new with an argument tuple and a keyword
    dict, `Vec3d.__new__(Vec3d, ...)`. Both must parse with one set of
    messages."""
    def via_tp_new(*args, **kwargs):
        return cls.__new__(cls, *args, **kwargs)

    return pytest.mark.parametrize(argname, [cls, via_tp_new], ids=["vectorcall", "tp_new"])


def raw_plane(normal, distance):
    """A plane holding exactly these fields (the setters store them without
    normalising or negating)."""
    p = geometry.Plane.xy()
    p.normal = Vec3d(*normal)
    p.distance = distance
    return p


def raw_circle(center, radius, normal):
    """A circle holding exactly these fields (the setters store them unchanged)."""
    c = geometry.Circle.none()
    c.center = Vec3d(*center)
    c.radius = radius
    c.normal = Vec3d(*normal)
    return c


def circle(center=(0, 0, 0), radius=5.0, normal=(0, 0, 1)):
    """A circle through its constructor (absolute radius, unit normal)."""
    return geometry.Circle(Vec3d(*center), radius, Vec3d(*normal))
