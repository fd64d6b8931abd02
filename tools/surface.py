"""The public surface of orvath, described once.

tools/gen_surface.py turns this into C++: the parameter lists the binding layer
parses with, the docstrings (text signatures), and the exported typing records
from which tools/gen_stubs.py writes the stub package. Nothing here is used at
run time.

Annotations are small expression tuples:
    ("b", "float")            builtins.float
    ("cls", "Vec3d")          a class of this module, referred to by id
    ("list", X)               builtins.list[X]
    ("tuple", X, Y, ...)      builtins.tuple[X, Y, ...]
    ("seq", X)                collections.abc.Sequence[X]
    ("coll", X)               collections.abc.Collection[X]
    ("dict", K, V)            builtins.dict[K, V]
    ("iter", X)               collections.abc.Iterator[X]
    ("or_none", X)            X | None
    ("or", X, Y)              X | Y
    ("attr", "a.b.C")         a name from another module, written out in full
    None                      the constant None

How a member is bound (the keywords of the row helpers; none of them reaches a
typing record):
    calls="core::dot"         the core function the binder calls: receiver (for
                              a method), then the parameters, in order; for a
                              constructor, the one that makes the value
    constant="core::PI"       a static answering that constant
    kernel="Dot"              a VecList member running bulk::Dot on the pool
    field="constant"          a property's field of the value, when not its
                              name ("" for the whole value)
A member with none of them is hand-written: <class>_<member> in its class
file (vec3d_to_array, vec_list_get_list for a property).
"""

# What a property setter calls its value, and what a method calls its
# receiver (in messages and typing records).
SETTER_PARAM = "value"
RECEIVER_PARAM = "self"

FLOAT = ("b", "float")
INT = ("b", "int")
BOOL = ("b", "bool")
STR = ("b", "str")


def cls(name):
    return ("cls", name)


V = cls("Vec3d")


def ctor(*params, **binding):
    return {"kind": "ctor", "name": "__new__", "params": list(params), **binding}


def prop(name, returns, settable=True, **binding):
    return {"kind": "property", "name": name, "returns": returns, "settable": settable, **binding}


def static(name, params, returns, **binding):
    return {"kind": "static", "name": name, "params": list(params), "returns": returns, **binding}


def method(name, params, returns, **binding):
    return {"kind": "method", "name": name, "params": list(params), "returns": returns, **binding}


def op(name, params, returns):
    return {"kind": "op", "name": name, "params": list(params), "returns": returns}


def function(name, params, returns, **binding):
    return {"kind": "function", "name": name, "params": list(params), "returns": returns, **binding}


def slot(name, params, returns):
    """A member the interpreter makes from a C slot, with its own argument
    parsing: it has a typing record but no parameter list of ours."""
    return {"kind": "slot", "name": name, "params": list(params), "returns": returns}


BUFFER = ("attr", "collections.abc.Buffer")
# What __reduce__ hands pickle: the reconstructor and its arguments, the class
# name and the state block.
REDUCED = ("tuple", ("b", "object"), ("tuple", STR, ("b", "bytes")))
REDUCED_LIST = ("tuple", ("b", "object"), ("tuple", STR, BUFFER))
# take's indices: a buffer of integers or a sequence of them; the float
# results of the *_array members: a read-only memoryview of doubles.
INDICES = ("or", BUFFER, ("seq", INT))
FLOAT_ARRAY = ("b", "memoryview")
# copy.deepcopy's dictionary of the objects already copied.
MEMO = ("dict", INT, ("attr", "typing.Any"))


def reduce_method():
    return method("__reduce__", [], REDUCED, impl="reduce_value")


CLASSES = {
    "Vec3d": [
        ctor(("x", FLOAT), ("y", FLOAT), ("z", FLOAT)),
        prop("x", FLOAT), prop("y", FLOAT), prop("z", FLOAT),
        static("i", [], V, calls="core::unit_i"), static("j", [], V, calls="core::unit_j"),
        static("k", [], V, calls="core::unit_k"),
        static("new_from_to", [("from", V), ("to", V)], V, calls="core::new_from_to"),
        static("zero", [], V, calls="core::zero"),
        method("angle_to", [("other", V)], cls("AngleRadians"), calls="core::angle_to"),
        method("cross", [("other", V)], V, calls="core::cross"),
        method("distance_squared", [("other", V)], FLOAT, calls="core::distance_squared"),
        method("distance_to", [("other", V)], FLOAT, calls="core::distance_to"),
        method("distance_to_line", [("a", V), ("b", V)], FLOAT, calls="core::distance_to_line"),
        method("dot", [("other", V)], FLOAT, calls="core::dot"),
        method("is_unit", [], BOOL, calls="core::is_unit"),
        method("magnitude", [], FLOAT, calls="core::magnitude"),
        method("normalize", [], V, calls="core::normalize"),
        method("project_onto_line", [("line_r", V), ("line_q", V)], V, calls="core::project_onto_line"),
        method("project_onto_plane", [("normal", V)], V, calls="core::project_onto_plane"),
        method("scalar_triple_product", [("b", V), ("c", V)], FLOAT, calls="core::scalar_triple_product"),
        method("to_array", [], ("list", FLOAT)),
        method("to_quat", [], cls("Quat"), calls="core::to_quat"),
        op("__add__", [("other", V)], V),
        op("__sub__", [("other", V)], V),
        op("__mul__", [("rhs", FLOAT)], V),
        op("__rmul__", [("lhs", FLOAT)], V),
        op("__truediv__", [("rhs", FLOAT)], V),
        op("__neg__", [], V),
        op("__eq__", [("other", V)], BOOL),
        op("__ne__", [("other", V)], BOOL),
        op("__getitem__", [("index", INT)], FLOAT),
        op("__iter__", [], ("iter", FLOAT)),
        op("__hash__", [], INT),
        op("__repr__", [], STR),
        reduce_method(),
    ],
    "VecList": [
        ctor(("list", ("seq", V))),
        prop("list", ("list", V), settable=False),
        static("empty", [], cls("VecList")),
        method("append", [("vec", V)], None),
        method("collapse", [("axis", INT)], cls("VecList")),
        method("cross", [("other", V)], cls("VecList"), kernel="Cross"),
        method("distance_squared", [("other", V)], ("list", FLOAT), kernel="DistanceSquared"),
        method("distance_to", [("other", V)], ("list", FLOAT), kernel="DistanceTo"),
        method("dot", [("other", V)], ("list", FLOAT), kernel="Dot"),
        method("extend", [("other", cls("VecList"))], None),
        method("is_unit", [], ("list", BOOL), kernel="IsUnit"),
        method("magnitude", [], ("list", FLOAT), kernel="Magnitude"),
        method("minimum_distance_to", [("other", V), ("stride", INT)], ("tuple", INT, FLOAT)),
        method("normalize", [], cls("VecList"), kernel="Normalize"),
        method("rotate", [("quat", cls("Quat"))], None),
        method("to_array", [], ("list", ("list", FLOAT))),
        op("__add__", [("other", V)], cls("VecList")),
        op("__sub__", [("other", V)], cls("VecList")),
        op("__mul__", [("rhs", FLOAT)], cls("VecList")),
        op("__rmul__", [("lhs", FLOAT)], cls("VecList")),
        op("__truediv__", [("rhs", FLOAT)], cls("VecList")),
        op("__getitem__", [("index", INT)], V),
        op("__len__", [], INT),
        op("__iter__", [], cls("VecListIterator")),
        op("__repr__", [], STR),
        static("from_array", [("array", ("or", BUFFER, ("seq", ("seq", FLOAT))))], cls("VecList")),
        method("__reduce__", [], REDUCED_LIST),
        method("__reduce_ex__", [("protocol", ("attr", "typing.SupportsIndex"))], REDUCED_LIST),
        slot("__buffer__", [("flags", INT)], ("b", "memoryview")),
        slot("__release_buffer__", [("buffer", ("b", "memoryview"))], None),
        # Whole-array work: gathering, pairs of lists, float results as arrays, copies.
        method("take", [("indices", INDICES)], cls("VecList")),
        method("add_each", [("other", cls("VecList"))], cls("VecList")),
        method("sub_each", [("other", cls("VecList"))], cls("VecList")),
        method("cross_each", [("other", cls("VecList"))], cls("VecList")),
        method("dot_each", [("other", cls("VecList"))], FLOAT_ARRAY),
        method("magnitude_array", [], FLOAT_ARRAY),
        method("dot_array", [("other", V)], FLOAT_ARRAY),
        method("distance_to_array", [("other", V)], FLOAT_ARRAY),
        method("distance_squared_array", [("other", V)], FLOAT_ARRAY),
        method("__copy__", [], cls("VecList")),
        method("__deepcopy__", [("memo", MEMO)], cls("VecList")),
        method("sum", [], V),
        method("mean", [], V),
        method("bounds", [], ("tuple", V, V)),
    ],
    "VecListIterator": [
        op("__iter__", [], cls("VecListIterator")),
        op("__next__", [], ("or_none", V)),
    ],
    "Quat": [
        ctor(("w", FLOAT), ("i", FLOAT), ("j", FLOAT), ("k", FLOAT)),
        prop("w", FLOAT), prop("i", FLOAT), prop("j", FLOAT), prop("k", FLOAT),
        static("from_axis_angle", [("axis", V), ("angle", cls("AngleRadians"))], cls("Quat"),
               calls="core::from_axis_angle"),
        static("identity", [], cls("Quat"), calls="core::identity"),
        method("conjugate", [], cls("Quat"), calls="core::conjugate"),
        method("is_unit", [], BOOL, calls="core::is_unit"),
        method("magnitude", [], FLOAT, calls="core::magnitude"),
        method("normalize", [], cls("Quat"), calls="core::normalize"),
        method("rotate", [("v", V)], V, calls="core::rotate"),
        method("to_axis_angle", [], ("tuple", V, cls("AngleRadians"))),
        method("to_rotation_matrix", [], ("list", ("list", FLOAT))),
        method("to_vec3d", [], ("tuple", FLOAT, FLOAT, FLOAT)),
        op("__eq__", [("other", cls("Quat"))], BOOL),
        op("__ne__", [("other", cls("Quat"))], BOOL),
        op("__repr__", [], STR),
        # Read as a sequence at run time, but a numpy array is not a Sequence
        # to type checkers: the typing asks for what both have.
        static("from_rotation_matrix", [("m", ("coll", ("coll", FLOAT)))], cls("Quat")),
        static("from_two_vectors", [("a", V), ("b", V)], cls("Quat"), calls="core::from_two_vectors"),
        method("inverse", [], cls("Quat"), calls="core::inverse"),
        method("slerp", [("q", cls("Quat")), ("t", FLOAT)], cls("Quat"), calls="core::slerp"),
        method("then", [("q", cls("Quat"))], cls("Quat"), calls="core::then"),
        reduce_method(),
    ],
    "AngleRadians": [
        ctor(("angle", FLOAT)),
        prop("angle", FLOAT, field=""),
        *[static(n, [], cls("AngleRadians"), constant=value)
          for n, value in (("zero", "0.0"), ("pi", "core::PI"), ("two_pi", "core::TWO_PI"),
                           ("half_pi", "core::HALF_PI"), ("quarter_pi", "core::QUARTER_PI"),
                           ("third_pi", "core::THIRD_PI"), ("sixth_pi", "core::SIXTH_PI"))],
        *[method(n, [], FLOAT, calls=f"core::{n}") for n in ("sin", "cos", "tan", "sec", "csc", "cot")],
        method("to_degrees", [], cls("AngleDegrees"), calls="core::radians_to_degrees"),
        op("__add__", [("other", cls("AngleRadians"))], cls("AngleRadians")),
        op("__sub__", [("other", cls("AngleRadians"))], cls("AngleRadians")),
        op("__mul__", [("rhs", FLOAT)], cls("AngleRadians")),
        op("__truediv__", [("rhs", FLOAT)], cls("AngleRadians")),
        op("__neg__", [], cls("AngleRadians")),
        *[op(n, [("other", cls("AngleRadians"))], BOOL)
          for n in ("__eq__", "__lt__", "__le__", "__gt__", "__ge__")],
        op("__repr__", [], STR),
        reduce_method(),
    ],
    "AngleDegrees": [
        ctor(("angle", FLOAT)),
        prop("angle", FLOAT, field=""),
        method("to_radians", [], cls("AngleRadians"), calls="core::degrees_to_radians"),
        op("__neg__", [], cls("AngleDegrees")),
        *[op(n, [("other", cls("AngleDegrees"))], BOOL)
          for n in ("__eq__", "__lt__", "__le__", "__gt__", "__ge__")],
        op("__repr__", [], STR),
        reduce_method(),
    ],
    "Plane": [
        ctor(("normal", V), ("distance", FLOAT), calls="core::make_plane"),
        prop("normal", V), prop("distance", FLOAT, field="constant"),
        static("from_point", [("normal", V), ("point", V)], cls("Plane"), calls="core::plane_from_point"),
        static("from_points", [("point1", V), ("point2", V), ("point3", V)], cls("Plane"),
               calls="core::plane_from_points"),
        static("xy", [], cls("Plane"), calls="core::plane_xy"),
        static("xz", [], cls("Plane"), calls="core::plane_xz"),
        static("yz", [], cls("Plane"), calls="core::plane_yz"),
        method("contains_point", [("point", V)], BOOL, calls="core::contains_point"),
        method("distance_to_point", [("point", V)], FLOAT, calls="core::distance_to_point"),
        reduce_method(),
    ],
    "Circle": [
        ctor(("center", V), ("radius", FLOAT), ("normal", V), calls="core::make_circle"),
        prop("center", V), prop("radius", FLOAT), prop("normal", V),
        prop("area", FLOAT, settable=False, calls="core::area"),
        static("none", [], cls("Circle"), calls="core::circle_none"),
        method("get_plane", [], cls("Plane"), calls="core::get_plane"),
        method("in_same_plane", [("other", cls("Circle"))], BOOL, calls="core::in_same_plane"),
        method("is_degenerate", [], BOOL, calls="core::is_degenerate"),
        op("__eq__", [("other", cls("Circle"))], BOOL),
        reduce_method(),
    ],
}

FUNCTIONS = {
    "plane_line": function("plane_line", [("plane", cls("Plane")), ("a", V), ("b", V)], V,
                           calls="core::plane_line"),
    "circle_point": function("circle_point",
                             [("circle", cls("Circle")), ("point", V), ("inner", BOOL)], BOOL,
                             calls="core::circle_point"),
    "circle_point_unchecked": function("circle_point_unchecked",
                                       [("circle", cls("Circle")), ("point", V), ("inner", BOOL)], BOOL,
                                       calls="core::circle_point_unchecked"),
    "circle_circle": function("circle_circle",
                              [("circle1", cls("Circle")), ("circle2", cls("Circle"))], ("tuple", V, V)),
}

# Functions of the top-level module that it does not publish (not in __all__,
# no typing record): parsed and documented like the others. _restore is the
# reconstructor that pickles and copies name, since the classes' own names
# ("builtins.Vec3d") cannot be imported.
PRIVATE_FUNCTIONS = {
    "_restore": function("_restore", [("name", STR), ("state", BUFFER)], None),
}

# Published names in publication order; "geometry" is the submodule.
MODULES = {
    "orvath": ["AngleDegrees", "AngleRadians", "Quat", "VecList", "Vec3d", "geometry"],
    "geometry": ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"],
}
