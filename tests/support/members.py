"""Every public member of orvath as something a test can call.

The member list is read from the one description of the public surface
(tools/surface.py), so a member added there is walked by the hardening tests
(reference leaks, hostile input, released borrows) without editing them; the
comparisons that every class answers through its slot (or object's) without
declaring them are added here. Beside the list this module knows a valid
receiver and valid arguments for each member, how to take a bit-exact
snapshot of an object's value, and how to prove that an object was left with
no borrow held.
"""
import operator
import os
import sys
from typing import NamedTuple

_TOOLS = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "tools"))
if _TOOLS not in sys.path:
    sys.path.insert(0, _TOOLS)
import surface  # noqa: E402

import orvath  # noqa: E402
from orvath import geometry  # noqa: E402
from models.bits import bits  # noqa: E402
from support.oddities import SeqByIndex  # noqa: E402

Vec3d, VecList, Quat = orvath.Vec3d, orvath.VecList, orvath.Quat
AngleRadians, AngleDegrees = orvath.AngleRadians, orvath.AngleDegrees
Plane, Circle = geometry.Plane, geometry.Circle
VecListIterator = type(iter(VecList.empty()))

CLASSES = {cls.__name__: cls for cls in
           (Vec3d, VecList, VecListIterator, Quat, AngleRadians, AngleDegrees, Plane, Circle)}


class Member(NamedTuple):
    owner: str          # the class name, or "geometry" for the module functions
    kind: str           # ctor, get, set, del, static, method, op, function
    name: str
    params: tuple       # ((name, annotation), ...) as tools/surface.py writes them
    settable: bool = True
    supported: bool = True  # False: an operator the class answers with NotImplemented

    @property
    def id(self):
        return f"{self.owner}.{self.name}:{self.kind}"

    @property
    def has_receiver(self):
        return self.kind in ("get", "set", "del", "method", "op")


# Comparisons without a record of their own, which are calls like any other:
# `!=` of the angle classes and of Circle goes through the interpreter's whole
# equality protocol; the comparison slots of Vec3d, Quat and Circle answer the
# orderings with NotImplemented; Plane, VecList and the iterator have no slot
# of their own (object's: identity equality, no ordering).
_ORDERINGS = ("__lt__", "__le__", "__gt__", "__ge__")
_DERIVED_NE = ("AngleRadians", "AngleDegrees", "Circle")
_UNORDERED = ("Vec3d", "Quat", "Circle", "Plane", "VecList", "VecListIterator")
_IDENTITY_EQ = ("Plane", "VecList", "VecListIterator")


def members():
    out = []
    for owner, entries in surface.CLASSES.items():
        for e in entries:
            if e["kind"] == "slot":
                continue  # the interpreter's wrapper converts the arguments before orvath runs
            if e["kind"] == "property":
                out.append(Member(owner, "get", e["name"], ()))
                out.append(Member(owner, "set", e["name"], (("value", e["returns"]),), e["settable"]))
                out.append(Member(owner, "del", e["name"], ()))
            else:
                out.append(Member(owner, e["kind"], e["name"], tuple(e["params"])))
        other = (("other", ("cls", owner)),)
        if owner in _DERIVED_NE:
            out.append(Member(owner, "op", "__ne__", other))
        if owner in _IDENTITY_EQ:
            out.extend(Member(owner, "op", name, other) for name in ("__eq__", "__ne__"))
        if owner in _UNORDERED:
            out.extend(Member(owner, "op", name, other, supported=False) for name in _ORDERINGS)
    for f in surface.FUNCTIONS.values():
        out.append(Member("geometry", "function", f["name"], tuple(f["params"])))
    return out


MEMBERS = members()

# ---------------------------------------------------------------------------
# Calling a member

BINARY = {
    "__add__": operator.add, "__sub__": operator.sub, "__mul__": operator.mul,
    "__truediv__": operator.truediv, "__getitem__": operator.getitem,
    "__eq__": operator.eq, "__ne__": operator.ne, "__lt__": operator.lt,
    "__le__": operator.le, "__gt__": operator.gt, "__ge__": operator.ge,
}
UNARY = {"__neg__": operator.neg, "__hash__": hash, "__repr__": repr, "__len__": len,
         "__iter__": iter, "__next__": next}


def invoke(m, receiver, args=(), kwargs=None, alt=False):
    """Calls member `m`. The plain form is what Python code writes (`v + w`,
    `Vec3d(...)`, `Vec3d.zero()`); `alt` takes the other road into the same
    code: the constructor through `__new__` (tp_new with a tuple and a dict),
    a static method through an instance, an operator through its slot wrapper
    (which hands back NotImplemented instead of raising)."""
    kwargs = kwargs or {}
    kind = m.kind
    if kind == "ctor":
        cls = CLASSES[m.owner]
        return cls.__new__(cls, *args, **kwargs) if alt else cls(*args, **kwargs)
    if kind == "static":
        return getattr(receiver if alt else CLASSES[m.owner], m.name)(*args, **kwargs)
    if kind == "function":
        return getattr(geometry, m.name)(*args, **kwargs)
    if kind == "method":
        return getattr(receiver, m.name)(*args, **kwargs)
    if kind == "get":
        return getattr(receiver, m.name)
    if kind == "set":
        (value,) = args
        return setattr(receiver, m.name, value)
    if kind == "del":
        return delattr(receiver, m.name)
    assert kind == "op", m
    if alt or kwargs:
        return getattr(receiver, m.name)(*args, **kwargs)
    if m.name == "__rmul__" and len(args) == 1:
        return args[0] * receiver
    if m.name in BINARY and len(args) == 1:
        return BINARY[m.name](receiver, args[0])
    if m.name in UNARY and not args:
        return UNARY[m.name](receiver)
    return getattr(receiver, m.name)(*args)


def has_alt(m):
    return m.kind in ("ctor", "static", "op")


# ---------------------------------------------------------------------------
# Valid receivers and arguments

RECEIVERS = {
    "Vec3d": lambda: Vec3d(1.0, -2.0, 0.5),
    "VecList": lambda: VecList([Vec3d(1.0, 2.0, 3.0), Vec3d(-4.0, 0.5, 6.0)]),
    "VecListIterator": lambda: iter(VecList([Vec3d(1.0, 2.0, 3.0), Vec3d(-4.0, 0.5, 6.0)])),
    "Quat": lambda: Quat(0.5, 0.5, -0.5, 0.5),
    "AngleRadians": lambda: AngleRadians(0.75),
    "AngleDegrees": lambda: AngleDegrees(-30.0),
    "Plane": lambda: Plane(Vec3d(0.0, 0.0, 2.0), 5.0),
    "Circle": lambda: Circle(Vec3d(1.0, 2.0, 3.0), 2.0, Vec3d(0.0, 0.0, 1.0)),
}


def receiver_for(m):
    return RECEIVERS[m.owner]() if m.has_receiver or (m.kind == "static") else None


MATRIX = ("coll", ("coll", ("b", "float")))


def annotation_key(annotation):
    tag = annotation[0]
    if tag == "b":
        return annotation[1]
    if tag == "cls":
        return annotation[1]
    if annotation == MATRIX:
        return "matrix"
    if tag in ("seq", "list"):
        return "seq"
    if annotation == ("attr", "typing.SupportsIndex"):
        return "int"
    if annotation == surface.INDICES:
        return "indices"
    if annotation == surface.MEMO:
        return "memo"
    if tag == "or":
        return "array"  # a buffer or a sequence of rows: VecList.from_array
    raise AssertionError(annotation)


VALID = {
    "float": lambda: 1.5,
    "int": lambda: 1,
    "bool": lambda: True,
    "seq": lambda: [Vec3d(1.0, 2.0, 3.0), Vec3d(0.0, -1.0, 2.0)],
    "matrix": lambda: Quat(0.5, 0.5, -0.5, 0.5).to_rotation_matrix(),
    "array": lambda: [[1.0, 2.0, 3.0], [0.0, -1.0, 2.0]],
    "indices": lambda: [1, 0, 1],
    "memo": dict,
    "Vec3d": lambda: Vec3d(0.5, -1.0, 2.0),
    "VecList": lambda: VecList([Vec3d(7.0, 8.0, 9.0)]),
    "Quat": lambda: Quat(0.5, 0.5, 0.5, 0.5),
    "AngleRadians": lambda: AngleRadians(0.25),
    "AngleDegrees": lambda: AngleDegrees(12.0),
    "Plane": lambda: Plane.xz(),
    "Circle": lambda: Circle(Vec3d(0.0, 0.0, 0.0), 5.0, Vec3d(0.0, 0.0, 1.0)),
    "VecListIterator": lambda: iter(VecList([Vec3d(7.0, 8.0, 9.0)])),
}

# Where the generic value would take a failure path: two different circles
# that do cross, and so on.
OVERRIDES = {
    ("geometry", "circle_circle", "circle2"): lambda: Circle(Vec3d(6.0, 0.0, 0.0), 5.0, Vec3d(0.0, 0.0, 1.0)),
    # The pair members need a list of the receiver's length.
    **{("VecList", m, "other"): lambda: VecList([Vec3d(7.0, 8.0, 9.0), Vec3d(-1.0, 0.5, 2.0)])
       for m in ("add_each", "sub_each", "cross_each", "dot_each")},
}


def valid_args(m):
    return [OVERRIDES.get((m.owner, m.name, p), VALID[annotation_key(a)])() for p, a in m.params]


# ---------------------------------------------------------------------------
# Snapshots and borrow probes

def _vec(v):
    return (bits(v.x), bits(v.y), bits(v.z))


def snapshot(obj):
    """The object's whole value as bit patterns (NaN payloads included), or
    None for objects without a readable value (iterators, foreign objects)."""
    t = type(obj)
    if t is Vec3d:
        return _vec(obj)
    if t is Quat:
        return tuple(bits(c) for c in (obj.w, obj.i, obj.j, obj.k))
    if t is AngleRadians or t is AngleDegrees:
        return (bits(obj.angle),)
    if t is Plane:
        return _vec(obj.normal) + (bits(obj.distance),)
    if t is Circle:
        return _vec(obj.center) + (bits(obj.radius),) + _vec(obj.normal)
    if t is VecList:
        return tuple(bits(c) for row in obj.to_array() for c in row)
    return None


def orvath_objects(value):
    """The orvath objects in a call's argument: the value itself, the items of
    a list, a tuple or a test sequence, the values of a keyword dict."""
    if type(value) in CLASSES.values():
        yield value
    elif isinstance(value, (list, tuple)):
        for item in value:
            yield from orvath_objects(item)
    elif isinstance(value, dict):
        for item in value.values():
            yield from orvath_objects(item)
    elif isinstance(value, SeqByIndex):
        yield from orvath_objects(value.items)


def release_check(obj):
    """Takes and drops the object's exclusive borrow through a write that
    changes nothing (an iterator's is taken by __next__, which consumes an
    element); raises RuntimeError if any borrow of it was left held."""
    t = type(obj)
    if t is Vec3d:
        obj.x = obj.x
    elif t is Quat:
        obj.w = obj.w
    elif t is AngleRadians or t is AngleDegrees:
        obj.angle = obj.angle
    elif t is Plane:
        obj.distance = obj.distance
    elif t is Circle:
        obj.radius = obj.radius
    elif t is VecList:
        obj.extend(VecList.empty())
    elif t is VecListIterator:
        next(obj, None)


def describe(value):
    """A comparable, bit-exact description of a call's result."""
    if isinstance(value, float):
        return ("float", bits(value))
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, tuple(describe(v) for v in value))
    if type(value) in CLASSES.values():
        return (type(value).__name__, snapshot(value))
    return (type(value).__name__, value)
