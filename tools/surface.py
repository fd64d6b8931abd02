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


def ctor(*params):
    return {"kind": "ctor", "name": "__new__", "params": list(params)}


def prop(name, returns, settable=True):
    return {"kind": "property", "name": name, "returns": returns, "settable": settable}


def static(name, params, returns):
    return {"kind": "static", "name": name, "params": list(params), "returns": returns}


def method(name, params, returns):
    return {"kind": "method", "name": name, "params": list(params), "returns": returns}


def op(name, params, returns):
    return {"kind": "op", "name": name, "params": list(params), "returns": returns}


def function(name, params, returns):
    return {"kind": "function", "name": name, "params": list(params), "returns": returns}


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
    return method("__reduce__", [], REDUCED)


CLASSES = {
    "Vec3d": [
        ctor(("x", FLOAT), ("y", FLOAT), ("z", FLOAT)),
        prop("x", FLOAT), prop("y", FLOAT), prop("z", FLOAT),
        static("i", [], V), static("j", [], V), static("k", [], V),
        static("new_from_to", [("from", V), ("to", V)], V),
        static("zero", [], V),
        method("angle_to", [("other", V)], cls("AngleRadians")),
        method("cross", [("other", V)], V),
        method("distance_squared", [("other", V)], FLOAT),
        method("distance_to", [("other", V)], FLOAT),
        method("distance_to_line", [("a", V), ("b", V)], FLOAT),
        method("dot", [("other", V)], FLOAT),
        method("is_unit", [], BOOL),
        method("magnitude", [], FLOAT),
        method("normalize", [], V),
        method("project_onto_line", [("line_r", V), ("line_q", V)], V),
        method("project_onto_plane", [("normal", V)], V),
        method("scalar_triple_product", [("b", V), ("c", V)], FLOAT),
        method("to_array", [], ("list", FLOAT)),
        method("to_quat", [], cls("Quat")),
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
        method("cross", [("other", V)], cls("VecList")),
        method("distance_squared", [("other", V)], ("list", FLOAT)),
        method("distance_to", [("other", V)], ("list", FLOAT)),
        method("dot", [("other", V)], ("list", FLOAT)),
        method("extend", [("other", cls("VecList"))], None),
        method("is_unit", [], ("list", BOOL)),
        method("magnitude", [], ("list", FLOAT)),
        method("minimum_distance_to", [("other", V), ("stride", INT)], ("tuple", INT, FLOAT)),
        method("normalize", [], cls("VecList")),
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
        static("from_axis_angle", [("axis", V), ("angle", cls("AngleRadians"))], cls("Quat")),
        static("identity", [], cls("Quat")),
        method("conjugate", [], cls("Quat")),
        method("is_unit", [], BOOL),
        method("magnitude", [], FLOAT),
        method("normalize", [], cls("Quat")),
        method("rotate", [("v", V)], V),
        method("to_axis_angle", [], ("tuple", V, cls("AngleRadians"))),
        method("to_rotation_matrix", [], ("list", ("list", FLOAT))),
        method("to_vec3d", [], ("tuple", FLOAT, FLOAT, FLOAT)),
        op("__eq__", [("other", cls("Quat"))], BOOL),
        op("__ne__", [("other", cls("Quat"))], BOOL),
        op("__repr__", [], STR),
        # Read as a sequence at run time, but a numpy array is not a Sequence
        # to type checkers: the typing asks for what both have.
        static("from_rotation_matrix", [("m", ("coll", ("coll", FLOAT)))], cls("Quat")),
        static("from_two_vectors", [("a", V), ("b", V)], cls("Quat")),
        method("inverse", [], cls("Quat")),
        method("slerp", [("q", cls("Quat")), ("t", FLOAT)], cls("Quat")),
        method("then", [("q", cls("Quat"))], cls("Quat")),
        reduce_method(),
    ],
    "AngleRadians": [
        ctor(("angle", FLOAT)),
        prop("angle", FLOAT),
        *[static(n, [], cls("AngleRadians"))
          for n in ("zero", "pi", "two_pi", "half_pi", "quarter_pi", "third_pi", "sixth_pi")],
        *[method(n, [], FLOAT) for n in ("sin", "cos", "tan", "sec", "csc", "cot")],
        method("to_degrees", [], cls("AngleDegrees")),
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
        prop("angle", FLOAT),
        method("to_radians", [], cls("AngleRadians")),
        op("__neg__", [], cls("AngleDegrees")),
        *[op(n, [("other", cls("AngleDegrees"))], BOOL)
          for n in ("__eq__", "__lt__", "__le__", "__gt__", "__ge__")],
        op("__repr__", [], STR),
        reduce_method(),
    ],
    "Plane": [
        ctor(("normal", V), ("distance", FLOAT)),
        prop("normal", V), prop("distance", FLOAT),
        static("from_point", [("normal", V), ("point", V)], cls("Plane")),
        static("from_points", [("point1", V), ("point2", V), ("point3", V)], cls("Plane")),
        static("xy", [], cls("Plane")), static("xz", [], cls("Plane")), static("yz", [], cls("Plane")),
        method("contains_point", [("point", V)], BOOL),
        method("distance_to_point", [("point", V)], FLOAT),
        reduce_method(),
    ],
    "Circle": [
        ctor(("center", V), ("radius", FLOAT), ("normal", V)),
        prop("center", V), prop("radius", FLOAT), prop("normal", V),
        prop("area", FLOAT, settable=False),
        static("none", [], cls("Circle")),
        method("get_plane", [], cls("Plane")),
        method("in_same_plane", [("other", cls("Circle"))], BOOL),
        method("is_degenerate", [], BOOL),
        op("__eq__", [("other", cls("Circle"))], BOOL),
        reduce_method(),
    ],
}

FUNCTIONS = {
    "plane_line": function("plane_line", [("plane", cls("Plane")), ("a", V), ("b", V)], V),
    "circle_point": function("circle_point",
                             [("circle", cls("Circle")), ("point", V), ("inner", BOOL)], BOOL),
    "circle_point_unchecked": function("circle_point_unchecked",
                                       [("circle", cls("Circle")), ("point", V), ("inner", BOOL)], BOOL),
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
