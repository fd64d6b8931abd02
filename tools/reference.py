"""The reference text of every public name of orvath, written once.

tools/gen_stubs.py puts each text into the stubs as the docstring of its class,
member or function (editors show these), and tools/gen_api_doc.py writes
docs/api.md from the same texts with their examples. Nothing here is used at
run time.

Keys: "orvath" and "orvath.geometry" for the modules, "Vec3d" for a class (its
text covers the constructor), "Vec3d.dot" for a member, "plane_line" for a
function of orvath.geometry. Adding a member means adding one entry;
tests/test_reference.py fails while a public name has no entry or an entry
names nothing.

Each entry has a text (what it computes, in which units and conventions, what
degenerate input gives, what it raises) and an example: an interactive session
run by the test suite after
    from orvath import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry
so its output is the true output. Texts are paragraphs separated by blank
lines; backticks mark code.
"""
from textwrap import dedent

EPS = "2**-52"


def ref(text, example):
    paragraphs = dedent(text).strip().split("\n\n")
    return {"text": "\n\n".join(" ".join(p.split()) for p in paragraphs),
            "example": dedent(example).strip("\n")}


# Shared wordings -------------------------------------------------------------

def settable_float(what, setter_note=""):
    return (f"{what}, a float. Assigning converts the value as `float()` does (an `int`, a `bool` or an "
            f"object with `__float__` or `__index__`; NaN and infinities are kept){setter_note}; a value that "
            "cannot be converted raises TypeError for the argument `value`, and `del` raises "
            "AttributeError(\"property has no deleter\").")


def vec3d_argument(*names):
    quoted = " or ".join(f"`{n}`" for n in names)
    return (f"Raises TypeError naming {quoted} if it is not a Vec3d (\"argument '{names[0]}': 'int' object "
            "is not an instance of 'Vec3d'\").")


def no_order(plural, instance, symbol):
    cls = instance.split("(")[0].split(".")[-1]
    return ref(f"""
        {plural} have no ordering: this comparison always answers NotImplemented, so `<`, `<=`, `>` and `>=`
        raise TypeError.
        """, f"""
        >>> a = {instance}
        >>> a {symbol} a
        Traceback (most recent call last):
        TypeError: '{symbol}' not supported between instances of 'builtins.{cls}' and 'builtins.{cls}'
        """)


def unhashable(plural, instance):
    cls = instance.split("(")[0].split(".")[-1]
    return ref(f"""
        None: {plural} define `==` but no hash, so they are unhashable: `hash()`, set members and dictionary
        keys raise TypeError.
        """, f"""
        >>> hash({instance})
        Traceback (most recent call last):
        TypeError: unhashable type: 'builtins.{cls}'
        """)


def pickled(cls, fields, example):
    """The __reduce__ text of a class whose state is its stored doubles."""
    return ref(f"""
        Pickling and copying: `(orvath._restore, ("{cls}", state))`, where the state is the stored doubles
        ({fields}) as little-endian bytes. Every bit survives a round trip in every protocol, -0.0, infinities
        and NaN payloads included; `copy.copy` and `copy.deepcopy` give a new, independent object with the
        same bits. The reconstructor is a private function of the module, because the class is named
        `builtins.{cls}`, where pickle cannot find it.
        """, example)


def ordered(cls, other):
    """The four orderings of an angle class: its own kind only."""
    return {f"{cls}.{n}": ref(f"""
        `a {o} b`: the IEEE comparison of the two doubles (False whenever a NaN is involved). Any other
        operand, an {other} included, gives NotImplemented, so the interpreter raises TypeError.
        """, f"""
        >>> {cls}(1) {o} {cls}(2)
        {r}
        """) for n, o, r in [("__lt__", "<", True), ("__le__", "<=", True), ("__gt__", ">", False),
                              ("__ge__", ">=", False)]}


def never_reflected(text, example, message):
    return ref(text, f"""
        >>> {example}
        Traceback (most recent call last):
        TypeError: {message}
        """)


REFERENCE = {
    # -------------------------------------------------------------------------
    "orvath": ref(f"""
        Exact 3-D geometry in double precision: vectors (`Vec3d`), lists of vectors (`VecList`), quaternions
        (`Quat`), angles (`AngleRadians`, `AngleDegrees`) and, in the attribute `geometry`, planes, circles and
        their intersections.

        Every result is an IEEE-754 double computed in one fixed order of operations without fused
        multiply-adds, so results are the same to the bit everywhere; only `sin`, `cos`, `tan` and `acos`
        are the platform's. Angles are in radians unless the class says degrees, and rotations follow the
        right-hand rule. The one tolerance is {EPS}, absolute and strict: two values agree when they differ by
        less than {EPS}, whatever their size. Degenerate input (zero vectors, zero divisors, NaN, infinities)
        is not checked: it gives NaN or infinite results, never an exception, unless a member says otherwise.

        A wrong argument raises TypeError naming it ("argument 'other': 'int' object is not an instance of
        'Vec3d'"), a negative integer OverflowError. Using an object while another call writes to it raises
        RuntimeError("Already mutably borrowed"); writing to one that is being read raises
        RuntimeError("Already borrowed"). Broken internal assertions raise `OrvathFault`, which derives from
        BaseException. A failed call changes nothing. Operators answer NotImplemented for operands they do
        not take, so the interpreter raises its own TypeError.
        """, """
        >>> import orvath
        >>> orvath.__all__
        ['AngleDegrees', 'AngleRadians', 'Quat', 'VecList', 'Vec3d', 'geometry']
        """),
    "orvath.geometry": ref("""
        Planes (`Plane`), circles lying in a plane of space (`Circle`), and the functions that intersect a
        plane with a line (`plane_line`), test a point against a circle (`circle_point`,
        `circle_point_unchecked`) and intersect two circles (`circle_circle`).

        An attribute of orvath, not an importable module: write `from orvath import geometry`;
        `import orvath.geometry` raises ModuleNotFoundError.
        """, """
        >>> geometry.__all__
        ['Circle', 'circle_circle', 'circle_point', 'circle_point_unchecked', 'plane_line', 'Plane']
        """),

    # -------------------------------------------------------------------------
    "Vec3d": ref(f"""
        A mutable 3-D vector of three doubles x, y and z. `Vec3d(x, y, z)` converts each argument as
        `float()` does (an `int`, a `bool` or an object with `__float__` or `__index__`; NaN and infinities
        are kept) and raises TypeError naming the first that cannot be converted ("argument 'z': must be real
        number, not str").

        Vectors compare with `==` within {EPS} per component and hash by their exact bits, so two equal
        vectors can hash differently. Iterating yields x, y and z. Only the setters of x, y and z change a
        vector; every method and operator returns a new object.
        """, """
        >>> v = Vec3d(1, 2.5, -0.0)
        >>> v
        Vec3d(1, 2.5, -0)
        >>> x, y, z = v
        >>> x, y, z
        (1.0, 2.5, -0.0)
        """),
    "Vec3d.x": ref(settable_float("The x component"), """
        >>> v = Vec3d(1, 2, 3)
        >>> v.x = 5
        >>> v.x, v
        (5.0, Vec3d(5, 2, 3))
        """),
    "Vec3d.y": ref(settable_float("The y component"), """
        >>> Vec3d(1, 2, 3).y
        2.0
        """),
    "Vec3d.z": ref(settable_float("The z component"), """
        >>> v = Vec3d(1, 2, 3)
        >>> del v.z
        Traceback (most recent call last):
        AttributeError: property has no deleter
        """),
    "Vec3d.i": ref("The unit vector along x, (1, 0, 0); a new object on every call.", """
        >>> Vec3d.i()
        Vec3d(1, 0, 0)
        """),
    "Vec3d.j": ref("The unit vector along y, (0, 1, 0); a new object on every call.", """
        >>> Vec3d.j()
        Vec3d(0, 1, 0)
        """),
    "Vec3d.k": ref("The unit vector along z, (0, 0, 1); a new object on every call.", """
        >>> Vec3d.k()
        Vec3d(0, 0, 1)
        """),
    "Vec3d.zero": ref("The zero vector (0, 0, 0); a new object on every call.", """
        >>> Vec3d.zero()
        Vec3d(0, 0, 0)
        """),
    "Vec3d.new_from_to": ref(f"""
        The vector that leads from the point `from` to the point `to`: `to - from`, component by component.
        `from` is a Python keyword, so pass it by position (or as `**{{"from": a, "to": b}}`).
        {vec3d_argument("from", "to")}
        """, """
        >>> Vec3d.new_from_to(Vec3d(1, 1, 1), Vec3d(2, 3, 4))
        Vec3d(1, 2, 3)
        """),
    "Vec3d.angle_to": ref(f"""
        The angle between this vector and `other`, in radians in [0, pi], as an AngleRadians:
        acos(dot / (|self| * |other|)), with the quotient clamped into [-1, 1] first, so parallel vectors give
        exactly 0 and antiparallel ones pi even where rounding pushes the quotient past 1. Where a length
        would be scaled by `magnitude()`, each vector is scaled by its own power of two (the angle does not
        depend on the lengths), so huge and tiny vectors give the angle of their directions. A zero-length
        vector or a NaN component gives NaN. The arc cosine is the platform's. {vec3d_argument("other")}
        """, """
        >>> Vec3d(1, 0, 0).angle_to(Vec3d(0, 1, 0))
        1.5707963267948966 radians
        >>> Vec3d(1, 1, 1).angle_to(Vec3d(2, 2, 2))
        0 radians
        >>> Vec3d(1, 0, 0).angle_to(Vec3d(0, 0, 0))
        NaN radians
        """),
    "Vec3d.cross": ref(f"""
        The cross product `self x other` by the right-hand rule (i x j = k): (y*oz - z*oy, z*ox - x*oz,
        x*oy - y*ox). {vec3d_argument("other")}
        """, """
        >>> Vec3d.i().cross(Vec3d.j()), Vec3d.j().cross(Vec3d.i())
        (Vec3d(0, 0, 1), Vec3d(0, 0, -1))
        """),
    "Vec3d.distance_squared": ref(f"""
        The squared distance between the two points, ((x - ox)^2 + (y - oy)^2) + (z - oz)^2, without a square
        root. {vec3d_argument("other")}
        """, """
        >>> Vec3d(1, 2, 3).distance_squared(Vec3d(4, 6, 3))
        25.0
        """),
    "Vec3d.distance_to": ref(f"""
        The distance between the two points: the length of self - other, computed as `magnitude()`, so the
        correctly rounded square root of `distance_squared` wherever that is finite and not below 2**-1022,
        and scaled like `magnitude()` elsewhere. A difference that itself overflows gives inf.
        {vec3d_argument("other")}
        """, """
        >>> Vec3d(1, 2, 3).distance_to(Vec3d(4, 6, 3))
        5.0
        """),
    "Vec3d.distance_to_line": ref(f"""
        The distance of this point from the infinite line through `a` and `b`; the line does not end at `a`
        or `b`. With `a` equal to `b` there is no line and the result is NaN. {vec3d_argument("a", "b")}
        """, """
        >>> Vec3d(5, 1, 0).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0))
        1.0
        >>> Vec3d(5, 1, 0).distance_to_line(Vec3d(1, 1, 1), Vec3d(1, 1, 1))
        nan
        """),
    "Vec3d.dot": ref(f"""
        The dot product (x*ox + y*oy) + z*oz, added in that order. {vec3d_argument("other")}
        """, """
        >>> Vec3d(1, 2, 3).dot(Vec3d(4, 5, 6))
        32.0
        """),
    "Vec3d.is_unit": ref(f"""
        True when the length is within {EPS} of 1: |magnitude() - 1| < {EPS}, strict and absolute. Only a
        computed length of 1.0 or of the double just below it passes; NaN gives False.
        """, """
        >>> Vec3d(0.6, 0.8, 0).is_unit(), Vec3d(1 + 2**-52, 0, 0).is_unit()
        (True, False)
        """),
    "Vec3d.magnitude": ref("""
        The length sqrt((x*x + y*y) + z*z), correctly rounded. Where that sum of squares would overflow to
        inf (a component beyond about 1.34e154 in size) or fall below 2**-1022 and lose bits (components
        below about 1.5e-154), the same formula runs on the vector scaled by the power of two that brings its
        largest component into [1, 2), and the length is scaled back: the result the formula gives with an
        unbounded exponent range, rounded once (inf only for a length beyond the double range). Every other
        vector gets the plain formula's bits.
        """, """
        >>> Vec3d(3, 4, 0).magnitude(), Vec3d(3e200, 4e200, 0).magnitude(), Vec3d(3e-200, 4e-200, 0).magnitude()
        (5.0, 4.9999999999999995e+200, 5e-200)
        """),
    "Vec3d.normalize": ref("""
        This vector scaled to length 1: each component divided by `magnitude()` (three divisions, never a
        multiplication by the reciprocal). A vector whose length `magnitude()` scales is scaled by the same
        power of two first, so very large and very small vectors have directions too. A zero vector gives
        Vec3d(NaN, NaN, NaN) and an infinite component zeros or NaN; nothing is raised.
        """, """
        >>> Vec3d(3e200, 4e200, 0).normalize()
        Vec3d(0.6000000000000001, 0.8, 0)
        >>> Vec3d(0, 0, 2).normalize()
        Vec3d(0, 0, 1)
        >>> Vec3d.zero().normalize()
        Vec3d(NaN, NaN, NaN)
        """),
    "Vec3d.project_onto_line": ref(f"""
        The orthogonal projection of this point onto the infinite line through `line_r` and `line_q`:
        `line_q - t * (line_r - line_q)` with t = ((line_q - p) . d) / (d . d) and d = line_r - line_q. With
        `line_r` equal to `line_q` every component is NaN. {vec3d_argument("line_r", "line_q")}
        """, """
        >>> Vec3d(1, 1, 0).project_onto_line(Vec3d(2, 0, 0), Vec3d(0, 0, 0))
        Vec3d(1, 0, 0)
        """),
    "Vec3d.project_onto_plane": ref(f"""
        This vector with its part along `normal` removed, `p - (p . n) * n`: the projection onto the plane
        through the origin with that normal. The normal is used as given, not normalised, so the result is
        the orthogonal projection only for a unit normal (a normal of length L removes L^2 times that part);
        a zero normal returns the vector unchanged. {vec3d_argument("normal")}
        """, """
        >>> Vec3d(1, 2, 3).project_onto_plane(Vec3d(0, 0, 1))
        Vec3d(1, 2, 0)
        >>> Vec3d(1, 2, 3).project_onto_plane(Vec3d(0, 0, 2))
        Vec3d(1, 2, -9)
        """),
    "Vec3d.scalar_triple_product": ref(f"""
        `self . (b x c)`: the signed volume of the parallelepiped spanned by this vector, `b` and `c` in that
        order, positive when they form a right-handed system. {vec3d_argument("b", "c")}
        """, """
        >>> Vec3d.i().scalar_triple_product(Vec3d.j(), Vec3d.k())
        1.0
        >>> Vec3d.j().scalar_triple_product(Vec3d.i(), Vec3d.k())
        -1.0
        """),
    "Vec3d.to_array": ref("The components as a new list [x, y, z].", """
        >>> Vec3d(1, 2, 3).to_array()
        [1.0, 2.0, 3.0]
        """),
    "Vec3d.to_quat": ref("The pure quaternion Quat(0, x, y, z).", """
        >>> Vec3d(1, 2, 3).to_quat()
        Quat(0, 1, 2, 3)
        """),
    "Vec3d.__add__": ref("""
        `v + w`: the component-wise sum. Any right operand but a Vec3d gives NotImplemented, so the
        interpreter raises TypeError.
        """, """
        >>> Vec3d(1, 2, 3) + Vec3d(1, 1, 1)
        Vec3d(2, 3, 4)
        """),
    "Vec3d.__radd__": ref("""
        `v.__radd__(w)` computes `w + v`, with `w` as the left operand: a Vec3d adds as `+` does, anything
        else gives NotImplemented.
        """, """
        >>> Vec3d(1, 2, 3).__radd__(Vec3d(1, 1, 1))
        Vec3d(2, 3, 4)
        """),
    "Vec3d.__sub__": ref("""
        `v - w`: the component-wise difference. Any right operand but a Vec3d gives NotImplemented, so the
        interpreter raises TypeError.
        """, """
        >>> Vec3d(1, 2, 3) - Vec3d(1, 1, 1)
        Vec3d(0, 1, 2)
        """),
    "Vec3d.__rsub__": ref("""
        `v.__rsub__(w)` computes `w - v`, with `w` as the left operand: a Vec3d subtracts as `-` does,
        anything else gives NotImplemented.
        """, """
        >>> Vec3d(1, 1, 1).__rsub__(Vec3d(1, 2, 3))
        Vec3d(0, 1, 2)
        """),
    "Vec3d.__mul__": ref("""
        `v * s`: each component multiplied by the number `s` (anything `float()` accepts; infinities and NaN
        flow through). Another operand, a Vec3d included, gives NotImplemented, so `v * w` raises TypeError.
        """, """
        >>> Vec3d(1, 2, 3) * 2
        Vec3d(2, 4, 6)
        """),
    "Vec3d.__rmul__": ref("`s * v`: the same as `v * s`.", """
        >>> 0.5 * Vec3d(1, 2, 3)
        Vec3d(0.5, 1, 1.5)
        """),
    "Vec3d.__truediv__": ref("""
        `v / s`: each component divided by the number `s` (three divisions, never a multiplication by 1/s).
        Dividing by zero raises nothing: components become inf or -inf, or NaN for a zero component.
        """, """
        >>> Vec3d(1, -1, 0) / 0
        Vec3d(inf, -inf, NaN)
        """),
    "Vec3d.__rtruediv__": never_reflected("""
        Always NotImplemented: a number cannot be divided by a vector, so `s / v` raises TypeError.
        """, "2 / Vec3d(1, 2, 3)", "unsupported operand type(s) for /: 'int' and 'builtins.Vec3d'"),
    "Vec3d.__neg__": ref("`-v`: every component's sign flipped exactly (0.0 becomes -0.0).", """
        >>> -Vec3d(1, 0, -2)
        Vec3d(-1, -0, 2)
        """),
    "Vec3d.__eq__": ref(f"""
        True when every component differs by less than {EPS} (tested x, y, z; strict and absolute). So
        components of size 1 or more must be identical, NaN is unequal to everything, itself included, and
        the relation is not transitive. Any other object is unequal (the interpreter falls back to
        identity).
        """, """
        >>> Vec3d(0, 0, 0) == Vec3d(1e-16, 0, 0), Vec3d(0, 0, 0) == Vec3d(2**-52, 0, 0)
        (True, False)
        >>> Vec3d(1, 2, 3) == (1, 2, 3)
        False
        """),
    "Vec3d.__ne__": ref("The negation of `==`.", """
        >>> Vec3d(float("nan"), 0, 0) != Vec3d(float("nan"), 0, 0)
        True
        """),
    "Vec3d.__lt__": no_order("Vectors", "Vec3d(0, 0, 0)", "<"),
    "Vec3d.__le__": no_order("Vectors", "Vec3d(0, 0, 0)", "<="),
    "Vec3d.__gt__": no_order("Vectors", "Vec3d(0, 0, 0)", ">"),
    "Vec3d.__ge__": no_order("Vectors", "Vec3d(0, 0, 0)", ">="),
    "Vec3d.__getitem__": ref("""
        `v[index]`: the component 0 -> x, 1 -> y, 2 -> z. An index of 3 or more raises IndexError("Index out
        of bounds"); a negative one raises OverflowError (it is never counted from the end); a non-integer,
        such as a slice, raises TypeError for the argument `index`.
        """, """
        >>> Vec3d(1, 2, 3)[2]
        3.0
        >>> Vec3d(1, 2, 3)[-1]
        Traceback (most recent call last):
        OverflowError: can't convert negative int to unsigned
        """),
    "Vec3d.__iter__": ref("""
        An iterator over x, y and z, each read when it is reached, so `x, y, z = v`, `list(v)` and `sum(v)`
        work. A vector has no `len()`.
        """, """
        >>> list(Vec3d(1, 2, 3)), sum(Vec3d(1, 2, 3))
        ([1.0, 2.0, 3.0], 6.0)
        """),
    "Vec3d.__hash__": ref("""
        SipHash-1-3 with a zero key of the exact bits of x, y and z, the same in every process; -0.0 hashes
        as 0.0 and every NaN alike. Vectors equal within the tolerance can hash differently, and a vector
        changed through a setter is no longer found under its old hash.
        """, """
        >>> hash(Vec3d(1, 2, 3)), hash(Vec3d(-0.0, 0, 0)) == hash(Vec3d.zero())
        (3511550596308926913, True)
        """),
    "Vec3d.__reduce__": pickled("Vec3d", "x, y, z", """
        >>> import copy, pickle
        >>> pickle.loads(pickle.dumps(Vec3d(1, -0.0, float("nan"))))
        Vec3d(1, -0, NaN)
        """),
    "Vec3d.__repr__": ref("""
        "Vec3d(x, y, z)", each component as the shortest decimal that reads back as the same double, never
        in exponent notation and without ".0": 1.0 is 1, -0.0 is -0, 1e-7 is 0.0000001; NaN, inf and -inf.
        """, """
        >>> Vec3d(0.1, -0.0, 1e20)
        Vec3d(0.1, -0, 100000000000000000000)
        """),

    # -------------------------------------------------------------------------
    "VecList": ref("""
        A growable list of 3-D vectors stored as one contiguous array of values. `VecList(list)` copies the
        Vec3d items of any sequence (a list, a tuple, another VecList) in order; changing those Vec3d objects
        later does not change the list. It raises TypeError for the argument `list` when given a str
        ("Can't extract `str` to `Vec`"), something that is not a sequence (naming 'Sequence'), or an item
        that is not a Vec3d.

        The element-wise members run on a process-wide pool of worker threads and give, element for
        element, the bits of the Vec3d method of the same name. Only `append`, `extend` and `rotate` change
        a list; they raise RuntimeError("Already borrowed") while another call is reading it.
        """, """
        >>> vl = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
        >>> len(vl), vl[1]
        (2, Vec3d(4, 5, 6))
        """),
    "VecList.list": ref("""
        A new Python list of new Vec3d copies of the elements, in order; changing them does not change the
        VecList. Read-only.
        """, """
        >>> VecList([Vec3d(1, 2, 3)]).list
        [Vec3d(1, 2, 3)]
        """),
    "VecList.empty": ref("A new VecList with no elements.", """
        >>> len(VecList.empty())
        0
        """),
    "VecList.append": ref(f"""
        Adds a copy of `vec` at the end and returns None. {vec3d_argument("vec")}
        """, """
        >>> vl = VecList.empty()
        >>> vl.append(Vec3d(1, 2, 3))
        >>> vl.list
        [Vec3d(1, 2, 3)]
        """),
    "VecList.extend": ref("""
        Adds copies of the elements of `other` at the end, in order, and returns None. Raises TypeError if
        `other` is not a VecList; extending a list with itself raises RuntimeError("Already mutably
        borrowed") and leaves it unchanged.
        """, """
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> vl.extend(VecList([Vec3d(4, 5, 6)]))
        >>> vl.list
        [Vec3d(1, 2, 3), Vec3d(4, 5, 6)]
        """),
    "VecList.collapse": ref("""
        A new VecList whose elements have component `axis` (0 for x, 1 for y, 2 for z) set to +0.0. An axis
        above 2 raises OrvathFault("assertion failed: axis <= 2"), which derives from BaseException; a
        negative one raises OverflowError.
        """, """
        >>> VecList([Vec3d(1, 2, 3)]).collapse(2).list
        [Vec3d(1, 2, 0)]
        """),
    "VecList.cross": ref(f"""
        A new VecList of `e x other` for every element e, by the right-hand rule as `Vec3d.cross`.
        {vec3d_argument("other")}
        """, """
        >>> VecList([Vec3d.i(), Vec3d.j()]).cross(Vec3d.k()).list
        [Vec3d(0, -1, 0), Vec3d(1, 0, 0)]
        """),
    "VecList.distance_squared": ref(f"""
        A list of the squared distances of the elements from `other`, as `Vec3d.distance_squared`.
        {vec3d_argument("other")}
        """, """
        >>> VecList([Vec3d(3, 4, 0), Vec3d(0, 0, 1)]).distance_squared(Vec3d.zero())
        [25.0, 1.0]
        """),
    "VecList.distance_to": ref(f"""
        A list of the distances of the elements from `other`, as `Vec3d.distance_to`.
        {vec3d_argument("other")}
        """, """
        >>> VecList([Vec3d(3, 4, 0), Vec3d(0, 0, 1)]).distance_to(Vec3d.zero())
        [5.0, 1.0]
        """),
    "VecList.dot": ref(f"""
        A list of the dot products of the elements with `other`, as `Vec3d.dot`. {vec3d_argument("other")}
        """, """
        >>> VecList([Vec3d(1, 2, 3), Vec3d(0, 0, 1)]).dot(Vec3d(1, 1, 1))
        [6.0, 1.0]
        """),
    "VecList.is_unit": ref(f"""
        A list of bools: whether each element's length is within {EPS} of 1, as `Vec3d.is_unit`.
        """, """
        >>> VecList([Vec3d(0.6, 0.8, 0), Vec3d(1, 1, 0)]).is_unit()
        [True, False]
        """),
    "VecList.magnitude": ref("A list of the lengths of the elements, as `Vec3d.magnitude`.", """
        >>> VecList([Vec3d(3, 4, 0), Vec3d(0, 0, -2)]).magnitude()
        [5.0, 2.0]
        """),
    "VecList.minimum_distance_to": ref("""
        The element nearest to `other`, found coarse to fine, as (index, distance). First the elements at
        0, stride, 2*stride, ... are compared; then, around the best of them at index c, only the elements
        from c - stride up to but not including c + stride. With a stride of 1, or at least the length, the
        result is the exact nearest element (the lowest index among ties); otherwise a nearer element far
        from the best sample can be missed. Squared distances are compared in the IEEE total order (a NaN with the sign bit clear is
        the largest).

        A stride of 0 raises OrvathFault("assertion failed: stride != 0"), an empty list OrvathFault("called
        `Option::unwrap()` on a `None` value") (derived from BaseException); a negative stride
        OverflowError.
        """, """
        >>> points = VecList([Vec3d(4, 0, 0), Vec3d(9, 0, 0), Vec3d(9, 0, 0), Vec3d(1, 0, 0)])
        >>> points.minimum_distance_to(Vec3d.zero(), 1)
        (3, 1.0)
        >>> points.minimum_distance_to(Vec3d.zero(), 2)
        (0, 4.0)
        """),
    "VecList.normalize": ref("""
        A new VecList of the elements scaled to length 1, as `Vec3d.normalize`; a zero element gives NaN
        components.
        """, """
        >>> VecList([Vec3d(0, 0, 2), Vec3d.zero()]).normalize().list
        [Vec3d(0, 0, 1), Vec3d(NaN, NaN, NaN)]
        """),
    "VecList.rotate": ref("""
        Rotates every element in place by `quat`, exactly as `Quat.rotate` does (the quaternion is not
        normalised: a magnitude m also scales by m^2), and returns None. Vec3d objects read from the list
        earlier keep their values. Raises TypeError if `quat` is not a Quat.
        """, """
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> vl.rotate(Quat(2, 0, 0, 0))
        >>> vl.list
        [Vec3d(4, 8, 12)]
        """),
    "VecList.to_array": ref("The elements as a new list of [x, y, z] lists.", """
        >>> VecList([Vec3d(1, 2, 3)]).to_array()
        [[1.0, 2.0, 3.0]]
        """),
    "VecList.__add__": ref("""
        `vl + v`: a new VecList with the Vec3d `v` added to every element. Any other right operand (a
        number, another VecList) gives NotImplemented, so the interpreter raises TypeError.
        """, """
        >>> (VecList([Vec3d(1, 2, 3)]) + Vec3d(1, 1, 1)).list
        [Vec3d(2, 3, 4)]
        """),
    "VecList.__radd__": never_reflected("""
        Always NotImplemented: a VecList is never the right operand of `+`, so `v + vl` raises TypeError.
        """, "Vec3d(1, 1, 1) + VecList.empty()",
        "unsupported operand type(s) for +: 'builtins.Vec3d' and 'builtins.VecList'"),
    "VecList.__sub__": ref("""
        `vl - v`: a new VecList with the Vec3d `v` subtracted from every element. Any other right operand
        gives NotImplemented, so the interpreter raises TypeError.
        """, """
        >>> (VecList([Vec3d(1, 2, 3)]) - Vec3d(1, 1, 1)).list
        [Vec3d(0, 1, 2)]
        """),
    "VecList.__rsub__": never_reflected("""
        Always NotImplemented: a VecList is never the right operand of `-`, so `v - vl` raises TypeError.
        """, "Vec3d(1, 1, 1) - VecList.empty()",
        "unsupported operand type(s) for -: 'builtins.Vec3d' and 'builtins.VecList'"),
    "VecList.__mul__": ref("""
        `vl * s`: a new VecList with every component multiplied by the number `s`. A non-number gives
        NotImplemented.
        """, """
        >>> (VecList([Vec3d(1, 2, 3)]) * 2).list
        [Vec3d(2, 4, 6)]
        """),
    "VecList.__rmul__": ref("`s * vl`: the same as `vl * s`.", """
        >>> (2 * VecList([Vec3d(1, 2, 3)])).list
        [Vec3d(2, 4, 6)]
        """),
    "VecList.__truediv__": ref("""
        `vl / s`: a new VecList with every component divided by the number `s`; dividing by zero gives
        infinities or NaN and raises nothing.
        """, """
        >>> (VecList([Vec3d(1, -1, 0)]) / 0).list
        [Vec3d(inf, -inf, NaN)]
        """),
    "VecList.__rtruediv__": never_reflected("""
        Always NotImplemented: a number cannot be divided by a list, so `s / vl` raises TypeError.
        """, "2 / VecList.empty()", "unsupported operand type(s) for /: 'int' and 'builtins.VecList'"),
    "VecList.__getitem__": ref("""
        `vl[index]`: a new Vec3d copy of element `index`. An index at or beyond the length raises
        IndexError("Index out of bounds"); a negative one raises OverflowError (it is never counted from the
        end).
        """, """
        >>> VecList([Vec3d(1, 2, 3)])[0]
        Vec3d(1, 2, 3)
        >>> VecList([Vec3d(1, 2, 3)])[1]
        Traceback (most recent call last):
        IndexError: Index out of bounds
        """),
    "VecList.__iter__": ref("""
        An iterator over a snapshot of the elements taken now; later changes to the list do not reach it.
        """, """
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> it = iter(vl)
        >>> vl.append(Vec3d(4, 5, 6))
        >>> list(it)
        [Vec3d(1, 2, 3)]
        """),
    "VecList.__len__": ref("The number of elements; an empty list is false.", """
        >>> len(VecList([Vec3d.zero()] * 3)), bool(VecList.empty())
        (3, False)
        """),
    "VecList.from_array": ref("""
        A new VecList from `array`: any object with the buffer protocol of shape (n, 3) (a numpy array, a
        memoryview, another VecList), in any number format, byte order and strides, or any sequence of rows of
        three numbers (such as the result of `to_array`). Numbers convert as `float()` converts them;
        float64 in native byte order is copied straight, on the worker pool for long arrays. Peak memory is
        the input plus the new list.

        Errors, with nothing created: ValueError("expected an array of shape (n, 3), got (4, 2)") for a
        buffer of another shape, ValueError("expected a sequence of length 3 at index 1, got length 2") for a
        short row; TypeError naming `array` for a format that is not a real number (object, complex, bytes),
        for a row that is not a sequence, or for an element that `float()` refuses; BufferError for an
        exporter whose description contradicts itself.
        """, """
        >>> VecList.from_array([[1, 2, 3], (4.5, -0.0, 6)])
        [Vec3d(1, 2, 3)
        Vec3d(4.5, -0, 6)]
        >>> import numpy as np
        >>> VecList.from_array(np.arange(6, dtype=np.int32).reshape(2, 3)).to_array()
        [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]
        >>> VecList.from_array(np.zeros((4, 2)))
        Traceback (most recent call last):
        ValueError: expected an array of shape (n, 3), got (4, 2)
        """),
    "VecList.__buffer__": ref("""
        The elements as a read-only, C-contiguous buffer of doubles: format "d", shape (len, 3), strides
        (24, 8); an empty list gives shape (0, 3). `np.asarray(vl)` and `memoryview(vl)` are views (nothing
        is copied), `bytes(vl)` and `np.array(vl)` copies. A writable request raises BufferError("Object is
        not writable."). While any view is alive, `append` and `extend` raise BufferError("Existing exports of
        data: object cannot be re-sized") and change nothing; `rotate` still works and the views show the new
        values. A view keeps the list alive.
        """, """
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> m = memoryview(vl)
        >>> m.tolist(), m.readonly
        ([[1.0, 2.0, 3.0]], True)
        >>> vl.append(Vec3d(0, 0, 0))
        Traceback (most recent call last):
        BufferError: Existing exports of data: object cannot be re-sized
        >>> m.release()
        >>> vl.append(Vec3d(0, 0, 0)); len(vl)
        2
        """),
    "VecList.__release_buffer__": ref("""
        Ends one view of `__buffer__` (the interpreter calls it when a memoryview is released or a numpy
        array that views the list is freed); once the last view has ended, `append` and `extend` work again.
        """, """
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> with memoryview(vl) as m:
        ...     m.shape
        (1, 3)
        >>> vl.extend(vl.normalize()); len(vl)
        2
        """),
    "VecList.__array_ufunc__": ref("""
        None: numpy's scalars and arrays defer to the list's own operators instead of reading the list as an
        array, so `np.float64(2) * vl` is a VecList and `vl + np.float64(1)` raises TypeError as `vl + 1`
        does.
        """, """
        >>> import numpy as np
        >>> np.float64(2) * VecList([Vec3d(1, 2, 3)])
        [Vec3d(2, 4, 6)]
        """),
    "VecList.__reduce__": ref("""
        Pickling and copying with protocols below 5: `(orvath._restore, ("VecList", state))`, the state being
        the elements as one block of little-endian doubles. Every bit survives; `copy.copy` and
        `copy.deepcopy` give a new, independent list.
        """, """
        >>> import copy
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> c = copy.copy(vl); c.append(Vec3d(0, 0, 0))
        >>> len(vl), len(c)
        (1, 2)
        """),
    "VecList.__reduce_ex__": ref("""
        What pickle calls: below protocol 5 as `__reduce__`; from protocol 5 the state is a
        `pickle.PickleBuffer` over the list itself, written straight from the elements, or handed out of band
        to a `buffer_callback` without a copy. Like any view it blocks `append` and `extend` while the
        PickleBuffer lives. `protocol` follows the unsigned integer rule.
        """, """
        >>> import pickle
        >>> vl, buffers = VecList([Vec3d(1, 2, 3)]), []
        >>> data = pickle.dumps(vl, 5, buffer_callback=buffers.append)
        >>> pickle.loads(data, buffers=buffers).to_array()
        [[1.0, 2.0, 3.0]]
        """),
    "VecList.__repr__": ref("""
        "[", the elements in the text form of Vec3d joined by line feeds, "]"; an empty list gives "[]".
        """, """
        >>> print(repr(VecList([Vec3d(1, 2, 3), Vec3d(0.5, -0.0, 1e20)])))
        [Vec3d(1, 2, 3)
        Vec3d(0.5, -0, 100000000000000000000)]
        """),

    # Whole-array work.
    "VecList.take": ref("""
        A new VecList of the elements at the positions in `indices`, in that order, repeats allowed: any
        sequence of integers (a `range` within the list is one contiguous copy), or any 1-D buffer of integers
        of any width, signedness, byte order and stride, such as a numpy index array, read where it lies. The
        gather runs on the worker pool.

        Every index is checked before anything is allocated, and the lowest bad position is reported:
        IndexError("index 7 at position 3 is out of range for a VecList of length 5"), or OverflowError for a
        negative index, which is never counted from the end (as `vl[-1]`). TypeError naming `indices` for
        anything else (an item `__index__` refuses, a float array); ValueError for a buffer of more than one
        dimension. The items of a sequence are taken into a tuple before any converts, so an `__index__` that
        changes the sequence does not change what is read; one that changes the list itself is refused (the
        list is borrowed for the call).
        """, """
        >>> vl = VecList([Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(2, 0, 0)])
        >>> vl.take([2, 0, 2]).to_array()
        [[2.0, 0.0, 0.0], [0.0, 0.0, 0.0], [2.0, 0.0, 0.0]]
        >>> import numpy as np
        >>> len(vl.take(np.array([[0, 1], [1, 2]])[:, 1]))
        2
        >>> vl.take([0, 1, 5])
        Traceback (most recent call last):
        IndexError: index 5 at position 2 is out of range for a VecList of length 3
        """),
    **{f"VecList.{name}": ref(f"""
        A new VecList whose element i is `a {symbol} b` for element i of this list and of `other`, bit for
        bit as the Vec3d {what}. `other` may be the list itself. Raises TypeError naming `other` if it is
        not a VecList, ValueError("expected a VecList of length 5, got 4") if its length differs.
        """, f"""
        >>> a = VecList([Vec3d(1, 2, 3), Vec3d(0, 1, 0)])
        >>> a.{name}(VecList([Vec3d(0, 0, 1), Vec3d(1, 0, 0)])).to_array()
        {result}
        """) for name, symbol, what, result in [
            ("add_each", "+", "operator", "[[1.0, 2.0, 4.0], [1.0, 1.0, 0.0]]"),
            ("sub_each", "-", "operator", "[[1.0, 2.0, 2.0], [-1.0, 1.0, 0.0]]"),
            ("cross_each", "x", "method `cross`", "[[2.0, -1.0, 0.0], [0.0, 0.0, -1.0]]")]},
    "VecList.dot_each": ref(f"""
        The dot products of element i of this list and of `other`, bit for bit as `Vec3d.dot`, as a float
        array like `magnitude_array`'s. `other` as for `add_each`.
        """, """
        >>> VecList([Vec3d(1, 2, 3), Vec3d(0, 1, 0)]).dot_each(VecList([Vec3d(1, 1, 1), Vec3d(2, 2, 2)])).tolist()
        [6.0, 2.0]
        """),
    "VecList.magnitude_array": ref("""
        The values of `magnitude()`, bit for bit, as a float array instead of a list: a read-only memoryview
        of format "d" and shape (len,), C-contiguous, over a block of doubles the module owns, written by the
        worker pool and never changed afterwards. No float object is made per element: it indexes to floats,
        `tolist()` gives the list, and `np.asarray` views it without a copy. A memoryview is a standard type
        that every buffer consumer takes, so nothing new is needed to read it; it keeps its block alive.
        """, """
        >>> m = VecList([Vec3d(3, 4, 0), Vec3d(0, 0, -2)]).magnitude_array()
        >>> m[0], m.tolist(), m.shape, m.readonly
        (5.0, [5.0, 2.0], (2,), True)
        >>> import numpy as np
        >>> np.asarray(m).flags.owndata
        False
        """),
    **{f"VecList.{name}_array": ref(f"""
        The values of `{name}(other)`, bit for bit, as a float array like `magnitude_array`'s.
        {vec3d_argument("other")}
        """, f"""
        >>> VecList([Vec3d(3, 4, 0), Vec3d(1, 2, 3)]).{name}_array(Vec3d(0, 0, 0)).tolist()
        {result}
        """) for name, result in [("dot", "[0.0, 0.0]"), ("distance_to", "[5.0, 3.7416573867739413]"),
                                  ("distance_squared", "[25.0, 14.0]")]},
    "VecList.__copy__": ref("""
        `copy.copy(vl)`: a new, independent list with the same elements, bit for bit, copied once on the
        worker pool.
        """, """
        >>> import copy
        >>> copy.copy(VecList([Vec3d(-0.0, float("inf"), 1e-310)])).to_array()
        [[-0.0, inf, 1e-310]]
        """),
    "VecList.__deepcopy__": ref("""
        `copy.deepcopy(vl)`: the same copy as `__copy__`, since the elements are values; `memo` is the
        dictionary of `copy.deepcopy` (TypeError naming `memo` for anything else).
        """, """
        >>> import copy
        >>> vl = VecList([Vec3d(1, 2, 3)])
        >>> copy.deepcopy([vl, vl])[1].to_array()
        [[1.0, 2.0, 3.0]]
        """),
    "VecList.sum": ref("""
        The sum of the elements as a Vec3d: each component is the exact sum of that component over all
        elements, rounded once to the nearest double (ties to even), which is what `math.fsum` gives for the
        same numbers. The result has the same bits for any number of worker threads and any order of the
        elements. A NaN anywhere, or both infinities, give NaN (always the same NaN, whichever came in);
        one kind of infinity gives that infinity; an exact sum beyond the double range gives an infinity
        (where `math.fsum` raises OverflowError); an exact zero gives +0.0. An empty list gives
        Vec3d(0, 0, 0).
        """, """
        >>> VecList([Vec3d(1e308, 0.1, 1), Vec3d(1.0, 0.2, 2), Vec3d(-1e308, 0.3, 3)]).sum()
        Vec3d(1, 0.6, 6)
        >>> VecList([Vec3d(1e308, 0, 0), Vec3d(1e308, 0, 0)]).sum()
        Vec3d(inf, 0, 0)
        """),
    "VecList.mean": ref("""
        The mean of the elements as a Vec3d: each component is that of `sum` divided by the length (two
        roundings: the bits of `math.fsum(column) / len(vl)`), with the same guarantees. An empty list raises
        ValueError("mean of an empty VecList"). Centring a point cloud is `cloud - cloud.mean()`.
        """, """
        >>> cloud = VecList([Vec3d(1, 2, 3), Vec3d(3, 2, 1), Vec3d(2, 5, 2)])
        >>> cloud.mean()
        Vec3d(2, 3, 2)
        >>> (cloud - cloud.mean()).list
        [Vec3d(-1, -1, 1), Vec3d(1, -1, -1), Vec3d(0, 2, 0)]
        >>> VecList.empty().mean()
        Traceback (most recent call last):
        ValueError: mean of an empty VecList
        """),
    "VecList.bounds": ref("""
        The axis-aligned bounding box of the elements as (low, high): two Vec3d of the componentwise minimum
        and maximum. -0.0 counts as below +0.0, so the result does not depend on the order of the elements; a
        NaN in a component makes that component NaN in both. An empty list raises ValueError("bounds of an
        empty VecList").
        """, """
        >>> VecList([Vec3d(1, -0.0, 5), Vec3d(-2, 0, 4)]).bounds()
        (Vec3d(-2, -0, 4), Vec3d(1, 0, 5))
        """),

    # -------------------------------------------------------------------------
    "VecListIterator": ref("""
        The iterator of a VecList: it hands out new Vec3d copies of the snapshot that `iter(vl)` took. The
        class is not published in the module (reach it as `type(iter(vl))`) and cannot be instantiated.
        """, """
        >>> type(iter(VecList.empty())).__name__
        'VecListIterator'
        """),
    "VecListIterator.__iter__": ref("Returns the iterator itself.", """
        >>> it = iter(VecList.empty())
        >>> iter(it) is it
        True
        """),
    "VecListIterator.__next__": ref("""
        The next element as a new Vec3d. At the end it raises StopIteration (never returns None), and an
        exhausted iterator stays exhausted.
        """, """
        >>> it = iter(VecList([Vec3d(1, 2, 3)]))
        >>> next(it)
        Vec3d(1, 2, 3)
        >>> next(it)
        Traceback (most recent call last):
        StopIteration
        """),

    # -------------------------------------------------------------------------
    "Quat": ref(f"""
        A quaternion of four doubles w, i, j and k, kept as given: there is no unit-length invariant and
        nothing is normalised except by `normalize`. `Quat(w, i, j, k)` converts each argument as `float()`
        does and raises TypeError naming the first that cannot be converted.

        It rotates vectors: `Quat.from_axis_angle(axis, angle)` and `rotate` turn by +angle (radians) about
        the axis by the right-hand rule. Quaternions compare with `==` within {EPS} per component, are
        unhashable and have no arithmetic operators.
        """, """
        >>> Quat(1, 0, 0, 0) == Quat.identity()
        True
        """),
    "Quat.w": ref(settable_float("The scalar part w"), """
        >>> q = Quat.identity()
        >>> q.w = 2
        >>> q.magnitude()
        2.0
        """),
    "Quat.i": ref(settable_float("The coefficient i of the first imaginary unit"), """
        >>> Quat(1, 2, 3, 4).i
        2.0
        """),
    "Quat.j": ref(settable_float("The coefficient j of the second imaginary unit"), """
        >>> Quat(1, 2, 3, 4).j
        3.0
        """),
    "Quat.k": ref(settable_float("The coefficient k of the third imaginary unit"), """
        >>> Quat(1, 2, 3, 4).k
        4.0
        """),
    "Quat.from_axis_angle": ref("""
        The quaternion with which `rotate` turns vectors by `angle` (an AngleRadians, in radians) about
        `axis` by the right-hand rule: (cos(-t/2), axis * sin(-t/2)). The half angle is negative: this is the
        conjugate of the common textbook quaternion, and `rotate` is built to match it. The axis is not
        normalised (a unit axis gives a unit quaternion; a zero axis gives a zero vector part).

        Raises TypeError naming `axis` if it is not a Vec3d, then `angle` if it is not an AngleRadians (an
        AngleDegrees or a plain number is refused).
        """, """
        >>> q = Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi())
        >>> q
        Quat(0.7071067811865476, -0, -0, -0.7071067811865475)
        >>> q.rotate(Vec3d.i())
        Vec3d(0.0000000000000002220446049250313, 1, 0)
        """),
    "Quat.identity": ref("The identity quaternion (1, 0, 0, 0), which rotates by nothing.", """
        >>> Quat.identity()
        Quat(1, 0, 0, 0)
        """),
    "Quat.conjugate": ref("(w, -i, -j, -k), each sign flipped exactly (0.0 becomes -0.0).", """
        >>> Quat.identity().conjugate()
        Quat(1, -0, -0, -0)
        """),
    "Quat.is_unit": ref(f"""
        True when |magnitude() - 1| < {EPS}, strict and absolute; NaN gives False.
        """, """
        >>> Quat(0.5, 0.5, 0.5, 0.5).is_unit(), Quat(1, 1, 0, 0).is_unit()
        (True, False)
        """),
    "Quat.magnitude": ref("""
        The length sqrt(((w*w + i*i) + j*j) + k*k), correctly rounded; scaled by a power of two where the sum
        of squares would overflow or fall below 2**-1022, as `Vec3d.magnitude`.
        """, """
        >>> Quat(1, 2, 2, 4).magnitude()
        5.0
        """),
    "Quat.normalize": ref("""
        This quaternion divided by its magnitude (four divisions), scaled first where `magnitude()` scales.
        The zero quaternion gives four NaN; nothing is raised.
        """, """
        >>> Quat(0, 0, 0, 2).normalize(), Quat(0, 0, 0, 0).normalize()
        (Quat(0, 0, 0, 1), Quat(NaN, NaN, NaN, NaN))
        """),
    "Quat.rotate": ref(f"""
        `v` rotated by this quaternion, conj(q) * v * q in Hamilton products. For a quaternion from
        `from_axis_angle` this turns `v` by +angle about the axis, right-handed. Not normalised: a magnitude
        m also scales the result by m^2. The identity returns every finite vector exactly, except that -0.0
        components come back as 0.0. {vec3d_argument("v")}
        """, """
        >>> Quat(2, 0, 0, 0).rotate(Vec3d(1, 2, 3))
        Vec3d(4, 8, 12)
        """),
    "Quat.to_axis_angle": ref(f"""
        (axis, angle) read under the textbook convention (vector part +sin(angle/2) * axis): angle =
        2 * acos(w) in radians as an AngleRadians, axis = (i, j, k) / sin(angle/2) as a Vec3d. So it is not
        the inverse of `from_axis_angle`: for a unit axis n and 0 < t < 2*pi it gives (-n, t).

        When |w - 1| < {EPS} the result is (Vec3d(1, 0, 0), 0 radians) whatever i, j and k hold. w is not
        clamped: |w| > 1 gives NaN throughout, and w = -1 with a zero vector part gives 2*pi and a zero
        axis.
        """, """
        >>> Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi()).to_axis_angle()
        (Vec3d(-0, -0, -1), 1.5707963267948966 radians)
        >>> Quat(2, 0, 0, 0).to_axis_angle()
        (Vec3d(NaN, NaN, NaN), NaN radians)
        """),
    "Quat.to_rotation_matrix": ref("""
        The 3x3 rotation matrix of the textbook convention as a list of three row lists, computed without
        normalising first (a non-unit quaternion gives a matrix that is not a rotation). Applied to a column
        vector it turns the opposite way from `rotate`: for a unit quaternion, `rotate(v)` is, up to
        rounding, the transposed matrix times v.
        """, """
        >>> Quat.identity().to_rotation_matrix()
        [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
        """),
    "Quat.to_vec3d": ref("The vector part as a tuple (i, j, k) of floats, not a Vec3d.", """
        >>> Quat(1, 2, 3, 4).to_vec3d()
        (2.0, 3.0, 4.0)
        """),
    "Quat.then": ref("""
        The rotation "self first, then `q`": `p.then(q).rotate(v)` equals `q.rotate(p.rotate(v))` up to
        rounding. It is the Hamilton product of self and `q` in that order (w = ((w1*w2 - x1*x2) - y1*y2) -
        z1*z2 and so on), nothing normalised, so the magnitudes multiply. There is deliberately no `*`: in
        the textbook convention `p * q` means "q first". Raises TypeError naming `q` if it is not a Quat.
        """, """
        >>> q = Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi())
        >>> r = Quat.from_axis_angle(Vec3d.i(), AngleRadians.half_pi())
        >>> q.then(r).rotate(Vec3d.i())
        Vec3d(0.0000000000000002220446049250313, 0.0000000000000002220446049250313, 1)
        """),
    "Quat.inverse": ref("""
        The rotation that undoes this one, for any non-zero quaternion: `q.then(q.inverse())` returns every
        vector to itself up to rounding. It is the conjugate divided component by component by n = ((w*w +
        i*i) + j*j) + k*k, four divisions and no reciprocal. The zero quaternion gives four NaN; one whose n
        overflows gives zeros.
        """, """
        >>> Quat(0, 0, 0, 2).inverse()
        Quat(0, -0, -0, -0.5)
        """),
    "Quat.slerp": ref("""
        Spherical linear interpolation from self (`t` = 0) to `q` (`t` = 1) along the shorter arc, at
        constant angular speed for unit inputs; `t` outside [0, 1] extrapolates. With d = ((w1*w2 + i1*i2) +
        j1*j2) + k1*k2: if d < 0, `q` and d are negated (so `t` = 1 gives `-q`, the same rotation); if d >
        1 - 2**-26 the result is p*(1 - t) + q*t, normalised; otherwise, with th = acos(d), it is p*a + q*b
        with a = sin((1 - t)*th) / sin(th) and b = sin(t*th) / sin(th), computed per component as p*a + q*b
        and not normalised. Neither input is normalised; NaN flows through. `t` is converted as `float()`
        does. Raises TypeError naming `q` or `t`.
        """, """
        >>> q = Quat.from_axis_angle(Vec3d.k(), AngleRadians.half_pi())
        >>> Quat.identity().slerp(q, 0.5)
        Quat(0.9238795325112868, 0, 0, -0.3826834323650898)
        """),
    "Quat.from_rotation_matrix": ref("""
        The inverse of `to_rotation_matrix`: for a unit quaternion q, `Quat.from_rotation_matrix(
        q.to_rotation_matrix())` is q or -q up to rounding, and the result always has w >= 0. So `rotate` of
        the result multiplies by the transpose of `m`: pass the matrix that `to_rotation_matrix` gives, not a
        matrix that rotates column vectors the way `rotate` does. The branch is the largest of the trace T =
        (m00 + m11) + m22 and m00, m11, m22 (strictly greater wins, ties keep the earlier) and gives a
        four-vector, the quaternion times twice the square root of its largest component's argument: for T,
        (1 + T, m21 - m12, m02 - m20, m10 - m01); for m00, (m21 - m12, ((1 + m00) - m11) - m22, m01 + m10,
        m02 + m20), and correspondingly for m11 and m22. All signs flip if w < 0, and the four components are
        multiplied by 1 / sqrt(((w*w + i*i) + j*j) + k*k). The result is a unit quaternion to within 2 ulps
        for every finite matrix with a positive determinant. A matrix that is not quite a rotation (noise,
        float32 storage, an accumulated product) gives that normalised quaternion of its branch, not the
        nearest rotation in the least-squares sense. Where the sum of squares overflows (entries beyond about
        2**510), the matrix is first scaled by a power of two so that its largest entry lies in [0.5, 1).

        `m` is any three rows of three numbers (lists, tuples, a (3, 3) numpy array), each converted as
        `float()` does. Another shape raises ValueError("expected a 3x3 matrix (three rows of three numbers),
        got 2 rows") or ("..., row 1 has 4 items"); a non-sequence or a non-number raises TypeError naming
        `m`. A mirror or a singular matrix is not a rotation: when the determinant (the scalar triple product
        of the rows; where that is zero, subnormal or not finite, taken again with the matrix scaled by a
        power of two, so that its sign is right) is not positive, it raises ValueError("expected a rotation
        matrix (positive determinant), got a determinant of -1"). A NaN or infinite entry gives four NaN
        components. The parameter is typed as a Collection of Collections of floats, which numpy arrays are
        to type checkers; at run time it must be a sequence of sequences.
        """, """
        >>> Quat.from_rotation_matrix([[1, 0, 0], [0, -1, 0], [0, 0, -1]])
        Quat(0, 1, 0, 0)
        >>> Quat.from_rotation_matrix([[1, 0, 0], [0, 1, 0], [0, 0, -1]])
        Traceback (most recent call last):
        ValueError: expected a rotation matrix (positive determinant), got a determinant of -1
        >>> Quat.from_rotation_matrix([[1, 0], [0, 1]])
        Traceback (most recent call last):
        ValueError: expected a 3x3 matrix (three rows of three numbers), got 2 rows
        """),
    "Quat.from_two_vectors": ref(f"""
        The shortest-arc rotation taking the direction of `a` to that of `b`, in the convention of
        `from_axis_angle`: `Quat.from_two_vectors(a, b).rotate(a)` points along `b`, to within a few ulps
        however close the directions are to parallel or opposite. It is the turn by the angle t between
        them about the unit vector n of cross(a, b), (cos(t/2), -sin(t/2) * n), computed without
        trigonometry. Each vector is first scaled by a power of two so that its largest component lies in
        [0.5, 1) (sa, sb; so any finite non-zero size works, 1e-300 as well as 1e300), then ua = sa * (1 /
        |sa|), ub = sb * (1 / |sb|), ls = |ua + ub| and ld = |ua - ub| (2cos(t/2) and 2sin(t/2)), r = 1 /
        sqrt(ls*ls + ld*ld), f = ld * r; c = cross(sa, sb) with each component a difference of products
        computed with fused multiply-adds (the rounding error of the second product is added back), and n is
        c scaled and normalised like the inputs. The result is (ls * r, -(n.x*f), -(n.y*f), -(n.z*f)). When c
        is exactly
        zero, exactly parallel vectors give exactly the identity and exactly opposite ones the half turn (0,
        u) with u the unit vector of cross(ua, x), x = Vec3d(1, 0, 0), or Vec3d(0, 1, 0) when |ua.x| > 0.9.
        A zero or non-finite vector gives NaN components. {vec3d_argument("a", "b")}
        """, """
        >>> Quat.from_two_vectors(Vec3d(1, 0, 0), Vec3d(0, 2, 0))
        Quat(0.7071067811865476, -0, -0, -0.7071067811865476)
        >>> Quat.from_two_vectors(Vec3d(1, 0, 0), Vec3d(-1, 0, 0))
        Quat(0, 0, 0, 1)
        """),
    "Quat.__eq__": ref(f"""
        True when all four components differ by less than {EPS} (strict and absolute); NaN is unequal to
        everything, itself included, and the relation is not transitive. Any other object is unequal.
        """, """
        >>> Quat.identity() == Quat(1, 0, 0, 1e-16), Quat.identity() == (1, 0, 0, 0)
        (True, False)
        """),
    "Quat.__ne__": ref("The negation of `==`, from the same four tests.", """
        >>> Quat(float("nan"), 0, 0, 0) != Quat(float("nan"), 0, 0, 0)
        True
        """),
    "Quat.__lt__": no_order("Quaternions", "Quat(1, 0, 0, 0)", "<"),
    "Quat.__le__": no_order("Quaternions", "Quat(1, 0, 0, 0)", "<="),
    "Quat.__gt__": no_order("Quaternions", "Quat(1, 0, 0, 0)", ">"),
    "Quat.__ge__": no_order("Quaternions", "Quat(1, 0, 0, 0)", ">="),
    "Quat.__hash__": unhashable("quaternions", "Quat(1, 0, 0, 0)"),
    "Quat.__reduce__": pickled("Quat", "w, i, j, k", """
        >>> import copy, pickle
        >>> pickle.loads(pickle.dumps(Quat(1, -0.0, 2, 3)))
        Quat(1, -0, 2, 3)
        """),
    "Quat.__repr__": ref("""
        "Quat(w, i, j, k)", each component in the text form of Vec3d (shortest round-trip decimal, no
        exponent, -0 for -0.0, NaN, inf).
        """, """
        >>> Quat(0.5, 0.25, float("nan"), float("inf"))
        Quat(0.5, 0.25, NaN, inf)
        """),

    # -------------------------------------------------------------------------
    "AngleRadians": ref("""
        An angle in radians: one double, kept exactly as given and never wrapped (7.0 stays 7.0; NaN and
        infinities are kept). `AngleRadians(angle)` converts its argument as `float()` does. Angles compare
        and order exactly as their doubles do (NaN is unequal to everything, 0.0 equals -0.0) and are
        unhashable; an AngleRadians never equals an AngleDegrees. Returned by `Vec3d.angle_to` and
        `Quat.to_axis_angle`, taken by `Quat.from_axis_angle`.
        """, """
        >>> AngleRadians(7), AngleRadians(1) == AngleDegrees(1)
        (7 radians, False)
        """),
    "AngleRadians.angle": ref(settable_float("The angle in radians"), """
        >>> a = AngleRadians(1)
        >>> a.angle = 2
        >>> a.angle
        2.0
        """),
    **{f"AngleRadians.{n}": ref(f"A new AngleRadians of exactly the double nearest to {v}.", f"""
        >>> AngleRadians.{n}()
        {r} radians
        """) for n, v, r in [
        ("pi", "pi", "3.141592653589793"),
        ("two_pi", "2*pi", "6.283185307179586"),
        ("half_pi", "pi/2", "1.5707963267948966"),
        ("quarter_pi", "pi/4", "0.7853981633974483"),
        ("third_pi", "pi/3", "1.0471975511965976"),
        ("sixth_pi", "pi/6", "0.5235987755982988"),
    ]},
    "AngleRadians.zero": ref("A new AngleRadians of 0.0 (positive zero).", """
        >>> AngleRadians.zero()
        0 radians
        """),
    "AngleRadians.sin": ref("The sine of the angle, from the C library.", """
        >>> AngleRadians.half_pi().sin()
        1.0
        """),
    "AngleRadians.cos": ref("The cosine of the angle, from the C library.", """
        >>> AngleRadians.pi().cos()
        -1.0
        """),
    "AngleRadians.tan": ref("""
        The tangent of the angle, from the C library. pi/2 is not exactly representable, so its tangent is
        large and finite.
        """, """
        >>> AngleRadians.quarter_pi().tan()
        0.9999999999999999
        """),
    "AngleRadians.sec": ref("""
        The secant 1.0 / cos(angle), one IEEE division: a zero cosine gives an infinity, never an error.
        """, """
        >>> AngleRadians.zero().sec(), AngleRadians.half_pi().sec()
        (1.0, 1.633123935319537e+16)
        """),
    "AngleRadians.csc": ref("""
        The cosecant 1.0 / sin(angle), one IEEE division: the angle 0.0 gives inf and -0.0 gives -inf.
        """, """
        >>> AngleRadians(0.0).csc(), AngleRadians(-0.0).csc()
        (inf, -inf)
        """),
    "AngleRadians.cot": ref("""
        The cotangent 1.0 / tan(angle), one IEEE division (not cos/sin): at pi/2 it is about 6.1e-17, not
        0, and at 0.0 it is inf.
        """, """
        >>> AngleRadians.half_pi().cot()
        6.123233995736766e-17
        """),
    "AngleRadians.to_degrees": ref("""
        The angle in degrees as an AngleDegrees: (angle * 180) / 3.141592653589793, multiplied first. So pi,
        pi/2, pi/4 and 2*pi give exactly 180, 90, 45 and 360, while pi/3 gives 59.99999999999999.
        """, """
        >>> AngleRadians.pi().to_degrees(), AngleRadians.third_pi().to_degrees()
        (180°, 59.99999999999999°)
        """),
    "AngleRadians.__add__": ref("""
        `a + b` for two AngleRadians. Any other operand (an AngleDegrees, a number) gives NotImplemented, so
        the interpreter raises TypeError: units are never converted silently.
        """, """
        >>> AngleRadians(1) + AngleRadians(0.5)
        1.5 radians
        """),
    "AngleRadians.__radd__": ref("""
        `a.__radd__(b)` computes `b + a` with `b` as the left operand: an AngleRadians adds as `+` does,
        anything else gives NotImplemented.
        """, """
        >>> AngleRadians(1).__radd__(AngleRadians(0.5))
        1.5 radians
        """),
    "AngleRadians.__sub__": ref("""
        `a - b` for two AngleRadians; any other operand gives NotImplemented, so the interpreter raises
        TypeError.
        """, """
        >>> AngleRadians(1) - AngleRadians(0.5)
        0.5 radians
        """),
    "AngleRadians.__rsub__": ref("""
        `a.__rsub__(b)` computes `b - a` with `b` as the left operand: an AngleRadians subtracts as `-`
        does, anything else gives NotImplemented.
        """, """
        >>> AngleRadians(0.5).__rsub__(AngleRadians(1))
        0.5 radians
        """),
    "AngleRadians.__mul__": ref("""
        `a * s`: the angle times the number `s` (anything `float()` accepts). Only this order works; another
        AngleRadians gives NotImplemented, so the interpreter raises TypeError.
        """, """
        >>> AngleRadians(1) * 2
        2 radians
        """),
    "AngleRadians.__rmul__": never_reflected("""
        Always NotImplemented: the number must be on the right (`a * 2`), so `2 * a` raises TypeError.
        """, "2 * AngleRadians(1)", "unsupported operand type(s) for *: 'int' and 'builtins.AngleRadians'"),
    "AngleRadians.__truediv__": ref("""
        `a / s`: the angle divided by the number `s`. Division by zero gives inf, -inf or NaN, never
        ZeroDivisionError.
        """, """
        >>> AngleRadians(1) / 0, AngleRadians(0.0) / 0.0
        (inf radians, NaN radians)
        """),
    "AngleRadians.__rtruediv__": never_reflected("""
        Always NotImplemented: a number cannot be divided by an angle, so `s / a` raises TypeError.
        """, "2 / AngleRadians(1)", "unsupported operand type(s) for /: 'int' and 'builtins.AngleRadians'"),
    "AngleRadians.__neg__": ref("`-a`: the sign flipped exactly (0.0 becomes -0.0).", """
        >>> -AngleRadians(0.0)
        -0 radians
        """),
    "AngleRadians.__eq__": ref("""
        Exact IEEE equality of the two doubles, no tolerance: NaN is unequal to everything and 0.0 equals
        -0.0. Any other object, an AngleDegrees included, is unequal.
        """, """
        >>> AngleRadians.pi() == AngleRadians(3.141592653589793), AngleRadians(0) == AngleDegrees(0)
        (True, False)
        """),
    "AngleRadians.__ne__": ref("The negation of `==`, also for other objects.", """
        >>> AngleRadians(float("nan")) != AngleRadians(float("nan")), AngleRadians(1) != 1.0
        (True, True)
        """),
    **ordered("AngleRadians", "AngleDegrees"),
    "AngleRadians.__hash__": unhashable("angles", "AngleRadians(1)"),
    "AngleRadians.__reduce__": pickled("AngleRadians", "the angle", """
        >>> import copy, pickle
        >>> pickle.loads(pickle.dumps(AngleRadians(-0.0)))
        -0 radians
        """),
    "AngleRadians.__repr__": ref("""
        The angle in the text form of Vec3d components, a space and "radians": "1 radians", "-0 radians",
        "NaN radians".
        """, """
        >>> AngleRadians(1e-7)
        0.0000001 radians
        """),

    # -------------------------------------------------------------------------
    "AngleDegrees": ref("""
        An angle in degrees: one double, kept exactly as given and never wrapped. `AngleDegrees(angle)`
        converts its argument as `float()` does. It can only be negated, compared and converted: there is
        no arithmetic, and `to_radians` is the one road to the rest of the module. Angles compare and order
        exactly as their doubles do and are unhashable.
        """, """
        >>> AngleDegrees(-720), AngleDegrees(-720).to_radians()
        (-720°, -12.566370614359172 radians)
        """),
    "AngleDegrees.angle": ref(settable_float("The angle in degrees"), """
        >>> AngleDegrees(90).angle
        90.0
        """),
    "AngleDegrees.to_radians": ref("""
        The angle in radians as an AngleRadians: (angle * 3.141592653589793) / 180, multiplied first; 60
        degrees gives exactly the double of `AngleRadians.third_pi()`.
        """, """
        >>> AngleDegrees(60).to_radians() == AngleRadians.third_pi()
        True
        """),
    "AngleDegrees.__neg__": ref("`-a`: the sign flipped exactly (0.0 becomes -0.0).", """
        >>> -AngleDegrees(45.5)
        -45.5°
        """),
    "AngleDegrees.__eq__": ref("""
        Exact IEEE equality of the two doubles, no tolerance: NaN is unequal to everything and 0.0 equals
        -0.0. Any other object, an AngleRadians included, is unequal.
        """, """
        >>> AngleDegrees(90) == AngleDegrees(90.0)
        True
        """),
    "AngleDegrees.__ne__": ref("The negation of `==`, also for other objects.", """
        >>> AngleDegrees(90) != AngleRadians.half_pi()
        True
        """),
    **ordered("AngleDegrees", "AngleRadians"),
    "AngleDegrees.__hash__": unhashable("angles", "AngleDegrees(1)"),
    "AngleDegrees.__reduce__": pickled("AngleDegrees", "the angle", """
        >>> import copy, pickle
        >>> pickle.loads(pickle.dumps(AngleDegrees(90)))
        90°
        """),
    "AngleDegrees.__repr__": ref("""
        The angle in the text form of Vec3d components followed directly by the degree sign: "90°",
        "-45.5°".
        """, """
        >>> AngleDegrees(0.5)
        0.5°
        """),

    # -------------------------------------------------------------------------
    "Plane": ref("""
        An infinite plane: the points p with normal . p + distance = 0. `Plane(normal, distance)` normalises
        the normal and negates the distance: the argument is the signed distance of the plane from the
        origin along the normal, so Plane(Vec3d(0, 0, 1), 5) is the plane z = 5 and its `distance` property
        reads -5.0. A normal of any finite size, however large or small, gives a unit normal (it is
        normalised as `Vec3d.normalize`); a zero normal gives NaN fields, no error. Raises TypeError naming `normal` if it is not a
        Vec3d, then `distance` if it is not a number.

        Planes keep the identity equality and hash of `object` and its default repr.
        """, """
        >>> p = geometry.Plane(Vec3d(0, 0, 2), 5)
        >>> p.normal, p.distance
        (Vec3d(0, 0, 1), -5.0)
        """),
    "Plane.normal": ref("""
        The stored normal, as a new Vec3d copy. The setter stores the vector as given, without normalising,
        and every method then uses it as it is (`distance_to_point` is a true distance only for a unit
        normal). Raises
        TypeError for the argument `value` if it is not a Vec3d; `del` raises AttributeError("property has
        no deleter").
        """, """
        >>> p = geometry.Plane(Vec3d(0, 0, 1), 5)
        >>> p.normal = Vec3d(0, 0, 2)
        >>> p.distance_to_point(Vec3d(0, 0, 5))
        5.0
        """),
    "Plane.distance": ref(settable_float("""
        The constant term of normal . p + distance = 0: the negated offset of the plane along a unit normal,
        so the plane z = 5 holds -5.0""", " and is stored as given, without the constructor's sign flip"), """
        >>> p = geometry.Plane.xy()
        >>> p.distance
        -0.0
        >>> p.distance = 5
        >>> p.contains_point(Vec3d(0, 0, -5))
        True
        """),
    "Plane.from_point": ref(f"""
        The plane through `point` with the normalised `normal`: its distance is -(n . point). A zero normal
        gives NaN fields. {vec3d_argument("normal", "point")}
        """, """
        >>> p = geometry.Plane.from_point(Vec3d(0, 0, 3), Vec3d(1, 1, 2))
        >>> p.normal, p.distance
        (Vec3d(0, 0, 1), -2.0)
        """),
    "Plane.from_points": ref(f"""
        The plane through three points. Its normal is (point2 - point1) x (point3 - point1), normalised, by
        the right-hand rule: seen from the side the normal points to, the points run counter-clockwise.
        Collinear or coincident points give a NaN normal and distance, no error.
        {vec3d_argument("point1", "point2", "point3")}
        """, """
        >>> geometry.Plane.from_points(Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0)).normal
        Vec3d(0, 0, 1)
        >>> geometry.Plane.from_points(Vec3d(0, 0, 0), Vec3d(0, 1, 0), Vec3d(1, 0, 0)).normal
        Vec3d(0, 0, -1)
        """),
    "Plane.xy": ref("The plane z = 0: normal (0, 0, 1), distance -0.0.", """
        >>> geometry.Plane.xy().normal
        Vec3d(0, 0, 1)
        """),
    "Plane.__reduce__": ref("""
        Pickling and copying: `(orvath._restore, ("Plane", state))`, where the state is the stored normal and
        distance as little-endian bytes, restored exactly as stored (a normal set through the setter is not
        normalised again). `copy.copy` and `copy.deepcopy` give a new plane with the same bits. The
        reconstructor is a private function of the module, because the class is named `builtins.Plane`, where
        pickle cannot find it.
        """, """
        >>> import pickle
        >>> p = geometry.Plane.xy()
        >>> p.normal = Vec3d(0, 0, 2)
        >>> q = pickle.loads(pickle.dumps(p))
        >>> q.normal, q.distance, q is p
        (Vec3d(0, 0, 2), -0.0, False)
        """),
    "Plane.xz": ref("The plane y = 0: normal (0, 1, 0), distance -0.0.", """
        >>> geometry.Plane.xz().normal
        Vec3d(0, 1, 0)
        """),
    "Plane.yz": ref("The plane x = 0: normal (1, 0, 0), distance -0.0.", """
        >>> geometry.Plane.yz().normal
        Vec3d(1, 0, 0)
        """),
    "Plane.contains_point": ref(f"""
        True when |normal . point + distance| < {EPS}, strict. The tolerance does not grow with the
        coordinates, so far from the origin rounding alone can put a point of the plane outside it. NaN (a
        degenerate plane) gives False. {vec3d_argument("point")}
        """, """
        >>> xy = geometry.Plane.xy()
        >>> xy.contains_point(Vec3d(0, 0, 1e-17)), xy.contains_point(Vec3d(0, 0, 1e-15))
        (True, False)
        """),
    "Plane.distance_to_point": ref(f"""
        |normal . point + distance|, never negative: the distance of the point from the plane while the
        normal has unit length. {vec3d_argument("point")}
        """, """
        >>> geometry.Plane(Vec3d(0, 0, 1), 5).distance_to_point(Vec3d(0, 0, 1))
        4.0
        """),

    # -------------------------------------------------------------------------
    "Circle": ref(f"""
        A circle in a plane of space: a center, a radius and the normal of its plane.
        `Circle(center, radius, normal)` stores |radius| and the normal normalised as `Vec3d.normalize` (a
        unit normal for any finite size; a zero normal becomes NaN); the setters store their values as given. A normal and its negation describe the same circle.
        Raises TypeError naming `center`, `radius` or `normal`, the first that is of the wrong type.

        Circles compare with `==` (centers within {EPS} per component, equal radii, parallel or opposite
        normals), are unhashable and have the default repr.
        """, """
        >>> c = geometry.Circle(Vec3d(1, 2, 3), -2, Vec3d(0, 0, 5))
        >>> c.radius, c.normal
        (2.0, Vec3d(0, 0, 1))
        """),
    "Circle.center": ref("""
        The center, as a new Vec3d copy. The setter stores a copy of the given Vec3d (TypeError for the
        argument `value` otherwise); `del` raises AttributeError("property has no deleter").
        """, """
        >>> geometry.Circle(Vec3d(1, 2, 3), 1, Vec3d.k()).center
        Vec3d(1, 2, 3)
        """),
    "Circle.radius": ref(settable_float(
        "The radius", " and is stored as given: a negative radius is kept (the area is the same)"), """
        >>> c = geometry.Circle(Vec3d.zero(), 1, Vec3d.k())
        >>> c.radius = -2
        >>> c.radius, c.area
        (-2.0, 12.566370614359172)
        """),
    "Circle.normal": ref("""
        The normal of the circle's plane, as a new Vec3d copy. The setter stores the vector as given, not
        normalised, and the other members use it as it is (except `get_plane`, which normalises). Raises
        TypeError for the argument `value` if it is not a Vec3d; `del` raises AttributeError("property has no
        deleter").
        """, """
        >>> geometry.Circle(Vec3d.zero(), 1, Vec3d(0, 0, -3)).normal
        Vec3d(0, 0, -1)
        """),
    "Circle.area": ref("(radius * radius) * pi, with pi = 3.141592653589793. Read-only.", """
        >>> geometry.Circle(Vec3d.zero(), 2, Vec3d.k()).area
        12.566370614359172
        """),
    "Circle.none": ref("""
        A placeholder circle with no plane: center (0, 0, 0), radius 0.0 and a NaN normal. It is degenerate
        and unequal to every circle, itself included.
        """, """
        >>> c = geometry.Circle.none()
        >>> c.is_degenerate(), c == c
        (True, False)
        """),
    "Circle.get_plane": ref("""
        The plane the circle lies in: `Plane.from_point(normal, center)`, so a normal stored at another
        length by the setter is normalised here. A NaN normal gives a plane of NaN.
        """, """
        >>> p = geometry.Circle(Vec3d(1, 1, 2), 1, Vec3d(0, 0, 3)).get_plane()
        >>> p.normal, p.distance
        (Vec3d(0, 0, 1), -2.0)
        """),
    "Circle.in_same_plane": ref(f"""
        True when both circles lie in one plane: their stored normals are parallel or opposite within {EPS}
        per component (not compared by direction: (0, 0, 1) and (0, 0, 2) are unrelated), and their offsets
        normal . center agree within {EPS} (with the sign flipped for opposite normals). Raises TypeError
        naming `other` if it is not a Circle.
        """, """
        >>> a = geometry.Circle(Vec3d(0, 0, 5), 1, Vec3d(0, 0, 1))
        >>> a.in_same_plane(geometry.Circle(Vec3d(3, 0, 5), 2, Vec3d(0, 0, -1)))
        True
        >>> a.in_same_plane(geometry.Circle(Vec3d(0, 0, -5), 1, Vec3d(0, 0, -1)))
        False
        """),
    "Circle.is_degenerate": ref("""
        True exactly when the stored radius is 0.0 or -0.0; a NaN radius is not degenerate, and the center
        and normal are not examined.
        """, """
        >>> geometry.Circle(Vec3d.zero(), 0, Vec3d.k()).is_degenerate()
        True
        """),
    "Circle.__reduce__": ref("""
        Pickling and copying: `(orvath._restore, ("Circle", state))`, where the state is the stored center,
        radius and normal as little-endian bytes, restored exactly as stored (a radius or normal set through
        the setters is not made absolute or normalised again). `copy.copy` and `copy.deepcopy` give a new
        circle with the same bits. The reconstructor is a private function of the module, because the class is
        named `builtins.Circle`, where pickle cannot find it.
        """, """
        >>> import copy
        >>> c = geometry.Circle(Vec3d(1, 2, 3), 2, Vec3d(0, 0, 1))
        >>> c.radius = -2.0
        >>> d = copy.deepcopy(c)
        >>> d.radius, d == c, d is c
        (-2.0, True, False)
        """),
    "Circle.__eq__": ref(f"""
        True when the centers differ by less than {EPS} per component, the radii are exactly equal and the
        normals are parallel or opposite within {EPS}, tested in that order. NaN anywhere makes circles
        unequal. Any other object is unequal.
        """, """
        >>> geometry.Circle(Vec3d.zero(), 1, Vec3d.k()) == geometry.Circle(Vec3d.zero(), 1, -Vec3d.k())
        True
        """),
    "Circle.__ne__": ref("`not (a == b)`, by the interpreter's full `==`, so True for other objects.", """
        >>> geometry.Circle(Vec3d.zero(), 1, Vec3d.k()) != 1
        True
        """),
    "Circle.__lt__": no_order("Circles", "geometry.Circle(Vec3d.zero(), 1, Vec3d.k())", "<"),
    "Circle.__le__": no_order("Circles", "geometry.Circle(Vec3d.zero(), 1, Vec3d.k())", "<="),
    "Circle.__gt__": no_order("Circles", "geometry.Circle(Vec3d.zero(), 1, Vec3d.k())", ">"),
    "Circle.__ge__": no_order("Circles", "geometry.Circle(Vec3d.zero(), 1, Vec3d.k())", ">="),
    "Circle.__hash__": unhashable("circles", "geometry.Circle(Vec3d.zero(), 1, Vec3d.k())"),

    # -------------------------------------------------------------------------
    "plane_line": ref(f"""
        The point where the infinite line through `a` and `b` meets `plane`; the line does not end at `a` or
        `b`. A line parallel to the plane, or `a` equal to `b`, gives infinite or NaN components, no error.
        Raises TypeError naming `plane` if it is not a Plane, then `a` or `b` if it is not a Vec3d.
        """, """
        >>> z5 = geometry.Plane(Vec3d(0, 0, 1), 5)
        >>> geometry.plane_line(z5, Vec3d(1, 1, 1), Vec3d(2, 2, 2))
        Vec3d(5, 5, 5)
        """),
    "circle_point": ref(f"""
        True when `point` lies on the circle: on its circumference (|radius - |point - center|| < {EPS}), or
        inside it by more than {EPS} and `inner` is True. False for a point outside, and for a point off the circle's
        plane (|n . point - n . center| not below {EPS}, with n the normalised normal).

        Raises TypeError naming `circle`, `point` or `inner`, the first that is of the wrong type; `inner`
        must be exactly True or False (1 is refused).
        """, """
        >>> c = geometry.Circle(Vec3d.zero(), 5, Vec3d.k())
        >>> geometry.circle_point(c, Vec3d(3, 4, 0), False), geometry.circle_point(c, Vec3d(1, 0, 0), False)
        (True, False)
        >>> geometry.circle_point(c, Vec3d(1, 0, 0), True), geometry.circle_point(c, Vec3d(1, 0, 1), True)
        (True, False)
        """),
    "circle_point_unchecked": ref("""
        `circle_point` without the test that the point lies in the circle's plane: a point off the plane is
        judged by its distance from the center alone. Raises TypeError as `circle_point` does.
        """, """
        >>> c = geometry.Circle(Vec3d.zero(), 5, Vec3d.k())
        >>> geometry.circle_point_unchecked(c, Vec3d(1, 0, 1), True)
        True
        """),
    "circle_circle": ref("""
        The two points where the circumferences of two coplanar circles cross, as a tuple. The first lies on
        the side of the line of centers toward which (center2 - center1) x circle2.normal points. Touching
        circles give the touching point twice (a slightly negative chord term from rounding counts as 0);
        NaN input that passes the tests below gives NaN components.

        Raises ValueError, testing in this order: "The given geometries are identical." (circle1 ==
        circle2), "The given geometries are out of plane from each other" (not `in_same_plane`), "The given
        geometries are too far apart and do not intersect at all." and "One of the given geometries is
        contained entirely within the other. The surfaces do not intersect.". Raises TypeError naming
        `circle1` or `circle2` if it is not a Circle.
        """, """
        >>> a = geometry.Circle(Vec3d(0, 0, 0), 5, Vec3d.k())
        >>> geometry.circle_circle(a, geometry.Circle(Vec3d(6, 0, 0), 5, Vec3d.k()))
        (Vec3d(3, -4, 0), Vec3d(3, 4, 0))
        >>> geometry.circle_circle(a, geometry.Circle(Vec3d(11, 0, 0), 5, Vec3d.k()))
        Traceback (most recent call last):
        ValueError: The given geometries are too far apart and do not intersect at all.
        """),
}

# A section of the reference page and of the README (the same text and
# example in both), not the text of a member.
CONVENTIONS_TITLE = "Conventions, side by side with scipy"
CONVENTIONS = ref("""
    Each rotation convention here is the opposite of what a user of scipy's `Rotation` and of numpy's
    column-vector matrices expects, and each converts in one line. The stored components Quat(w, i, j, k)
    are the conjugate of scipy's (x, y, z, w): `Quat(w, -x, -y, -z)` from `r.as_quat()`, and
    `Rotation.from_quat([-q.i, -q.j, -q.k, q.w])` back; `q.rotate(v)` then equals `r.apply(v)`. The matrix
    that turns column vectors as `rotate` does (R @ v) is the transpose of `to_rotation_matrix()`, which is
    therefore scipy's `as_matrix()` transposed, and `Quat.from_rotation_matrix` reads the transpose: pass
    `R.T`. `Quat.from_axis_angle(n, t)` is `Rotation.from_rotvec(t * n)`, and `to_axis_angle()` answers
    (-n, t), so scipy's rotation vector is `-angle * axis`.
    """, """
    >>> import numpy as np
    >>> from scipy.spatial.transform import Rotation
    >>> r = Rotation.from_rotvec([0.3, -0.2, 0.9])
    >>> v = np.array([1.0, 2.0, 3.0])
    >>> x, y, z, w = r.as_quat()
    >>> q = Quat(w, -x, -y, -z)
    >>> np.allclose(q.rotate(Vec3d(*v)).to_array(), r.apply(v), rtol=0, atol=1e-15)
    True
    >>> np.allclose(Rotation.from_quat([-q.i, -q.j, -q.k, q.w]).as_quat(), r.as_quat(), rtol=0, atol=1e-15)
    True
    >>> R = r.as_matrix()
    >>> np.allclose(np.array(q.to_rotation_matrix()).T, R, rtol=0, atol=1e-15)
    True
    >>> np.allclose(Quat.from_rotation_matrix(R.T).rotate(Vec3d(*v)).to_array(), R @ v, rtol=0, atol=1e-15)
    True
    >>> p = Quat.from_axis_angle(Vec3d(0, 0.6, 0.8), AngleRadians(0.5))
    >>> np.allclose(p.rotate(Vec3d(*v)).to_array(), Rotation.from_rotvec([0, 0.3, 0.4]).apply(v), rtol=0, atol=1e-15)
    True
    >>> axis, angle = p.to_axis_angle()
    >>> axis, angle
    (Vec3d(-0, -0.5999999999999995, -0.7999999999999995), 0.5000000000000004 radians)
    >>> np.allclose(-angle.angle * np.array(axis.to_array()), [0, 0.3, 0.4], rtol=0, atol=1e-15)
    True
    """)
