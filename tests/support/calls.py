"""Every public call of orvath and every error path, as a table of cases.

Each method, property get/set/delete, operator in both its syntax and its
slot-wrapper form, static method, constructor through vectorcall and through
__new__, and module function of the members table, with valid arguments, with
one argument of the wrong type at a time, and with the argument lists that
parsing refuses; then the paths that walk cannot reach, written by hand:
argument parsing, wrong types, borrow conflicts provoked by re-entrant
conversions, IndexError, OverflowError, the fault exception, circle_circle's
ValueErrors, NotImplemented operators with foreign operands on either side,
hostile sequences, and bulk operations large enough for the worker pool.

A case's call takes a `watch` function and passes every orvath object the
call uses (receiver and arguments) through it, so that a test can find those
objects afterwards (test_hostile checks that each was left free to write);
the leak test runs the same calls with `unwatched`.
"""
import contextlib
import copy
import ctypes
import functools
import pickle
import struct
from typing import Callable, NamedTuple, Optional

from support.members import (
    BINARY, MEMBERS, AngleDegrees, AngleRadians, Circle, Plane, Quat, Vec3d, VecList, annotation_key, has_alt,
    invoke, orvath_objects, receiver_for, valid_args)
from support.oddities import (
    ConvertsToWrongType, EqAnswers, EqRaises, Hostile, RaisesOnConvert, Reenter, Seq, SeqIterAction,
    SeqIterNotIterator, SeqIterRaises, TruthRaises, fake_numpy_bool, raising_truth)

import orvath
from orvath import geometry


class Sink:
    """Swallows the fault diagnostics, which would otherwise pile up in the
    capture buffer (and count as allocations in the leak test)."""

    def write(self, s):
        return len(s)

    def flush(self):
        pass


def _fault_type():
    with contextlib.redirect_stderr(Sink()):
        try:
            VecList.empty().collapse(3)
        except BaseException as e:  # noqa: B036 - the fault derives from BaseException
            return type(e)
    raise AssertionError("collapse(3) did not fault")


FAULT = _fault_type()


class Case(NamedTuple):
    id: str
    call: Callable[[Callable], object]   # call(watch)
    expect: Optional[type]   # exception type the call must raise, None if it returns
    repeat: int = 1000       # calls per round in the leak test

    def run(self, watch=None):
        return self.call(watch or unwatched)


def outcome(call):
    """The type of the exception call() raises, None if it returns."""
    try:
        call()
    except BaseException as e:  # noqa: B036 - the fault exception is among the outcomes
        return type(e)
    return None


def unwatched(value):
    return value


def watcher(objects):
    """A `watch` that adds the orvath objects in each value it is handed
    (once each) to the list `objects`, and hands the value back."""
    def watch(value):
        for obj in orvath_objects(value):
            if not any(obj is seen for seen in objects):
                objects.append(obj)
        return value
    return watch


# ---------------------------------------------------------------------------
# The members table, walked

def _bad_value(annotation):
    """One value of a wrong type per parameter kind (an int for a bool: the
    bool rule refuses it)."""
    key = annotation_key(annotation)
    return {"float": "x", "int": "x", "bool": 1, "seq": "ab",
            "matrix": [[0.0] * 3, [0.0] * 3, [0.0, 0.0, "x"]]}.get(key)


COMPARISONS = {"__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__"}
ARITHMETIC = {"__add__", "__sub__", "__mul__", "__rmul__", "__truediv__"}


def _bad_outcome(m, alt):
    """What a call with one argument of the wrong type raises."""
    if m.kind == "set" and not m.settable:
        return AttributeError
    if m.kind == "op" and m.name in COMPARISONS | ARITHMETIC:
        if alt:
            return None                      # the slot wrapper hands back NotImplemented
        if m.name in ("__eq__", "__ne__"):
            return None                      # identity fallback
        return TypeError
    return TypeError


def _ok_outcome(m, alt):
    """What a call with valid arguments raises."""
    if m.kind == "del" or (m.kind == "set" and not m.settable):
        return AttributeError
    if not m.supported and not alt:
        return TypeError                     # both operands said NotImplemented
    return None


def member_cases(m):
    forms = [False, True] if has_alt(m) else [False]
    for alt in forms:
        tag = "alt" if alt else "plain"

        def ok(watch, m=m, alt=alt):
            return invoke(m, watch(receiver_for(m)), watch(valid_args(m)), alt=alt)
        yield Case(f"{m.id}-{tag}", ok, _ok_outcome(m, alt))
        for i, (p, a) in enumerate(m.params):
            def bad(watch, m=m, alt=alt, i=i, a=a):
                args = valid_args(m)
                args[i] = _bad_value(a)
                return invoke(m, watch(receiver_for(m)), watch(args), alt=alt)
            yield Case(f"{m.id}-{tag}-bad-{p}", bad, _bad_outcome(m, alt))
    # The same slot reached with the operands swapped: a foreign left operand
    # hands the call to the reflected operator of this class.
    if m.kind == "op" and m.name in COMPARISONS | ARITHMETIC - {"__rmul__"}:
        yield Case(f"{m.id}-reflected", lambda watch, m=m: BINARY[m.name](None, watch(receiver_for(m))),
                   None if m.name in ("__eq__", "__ne__") else TypeError)
    # Argument parsing, by orvath (both constructor roads) and by the slot wrappers.
    parse_forms = {"ctor": [False, True], "static": [False], "method": [False], "function": [False],
                   "op": [True] if m.params else []}.get(m.kind, [])
    names = [p for p, _ in m.params]
    for alt in parse_forms:
        tag = "alt" if alt else "plain"

        def call(args, kwargs, m=m, alt=alt):
            return lambda watch: invoke(m, watch(receiver_for(m)), watch(args()), watch(kwargs()), alt=alt)

        yield Case(f"{m.id}-{tag}-extra", call(lambda m=m: valid_args(m) + [1.0], dict), TypeError)
        yield Case(f"{m.id}-{tag}-kw-bogus", call(lambda m=m: valid_args(m), lambda: {"bogus": 1}), TypeError)
        if names:
            yield Case(f"{m.id}-{tag}-missing", call(list, dict), TypeError)
            if m.kind != "op":
                yield Case(f"{m.id}-{tag}-kw",
                           call(list, lambda m=m, names=names: dict(zip(names, valid_args(m)))), None)
                yield Case(f"{m.id}-{tag}-kw-dup",
                           call(lambda m=m: valid_args(m), lambda m=m, names=names: {names[0]: valid_args(m)[0]}),
                           TypeError)


def generic_cases():
    return [c for m in MEMBERS for c in member_cases(m)]


# ---------------------------------------------------------------------------
# Hand-written paths the generic walk does not reach

o = Vec3d(0.25, -0.5, 1.0)


def v3():
    return Vec3d(1.0, 2.0, 3.0)


def vl2():
    return VecList([Vec3d(1.0, 2.0, 3.0), Vec3d(-4.0, 0.5, 6.0)])


def circle(cx=0.0, r=5.0, nz=1.0, cz=0.0):
    return Circle(Vec3d(cx, 0.0, cz), r, Vec3d(0.0, 0.0, nz))


def _reenter_index_on_vec(watch):
    v = watch(v3())
    return v[Reenter(lambda: setattr(v, "x", 9.0))]


def _reenter_on_list(call):
    def run(watch):
        vl = watch(vl2())
        return call(vl, Reenter(lambda: vl.append(Vec3d(0.0, 0.0, 0.0)), 1))
    return run


def _reenter_other_held(watch):
    target = watch(v3())
    return watch(vl2()).minimum_distance_to(target, Reenter(lambda: setattr(target, "x", 0.0), 1))


def _reenter_plane(watch):
    n = watch(v3())
    return Plane(n, Reenter(lambda: setattr(n, "z", 0.0), 1))


def _reenter_circle(watch):
    c = watch(v3())
    return Circle(c, Reenter(lambda: setattr(c, "z", 0.0), 1), watch(o))


def _reenter_scale(make):
    def run(watch):
        x = watch(make())
        attr = "angle" if isinstance(x, AngleRadians) else ("x" if isinstance(x, Vec3d) else None)
        act = (lambda: setattr(x, attr, 0.0)) if attr else (lambda: x.append(o))
        return x * Reenter(act, 2)
    return run


def _exhausted_next(watch):
    it = watch(iter(VecList([o])))
    next(it)
    return next(it)


def _extend_self(watch):
    vl = watch(vl2())
    return vl.extend(vl)


def _mutating_iteration(watch):
    a = watch(v3())
    return VecList(SeqIterAction([a, a], lambda: setattr(a, "x", a.x + 1.0)))


try:
    import numpy
except ImportError:  # the bool rule's numpy path is then covered where numpy exists
    numpy = None


SPECIAL_CASES = [
    # Indexing: bounds and the unsigned integer rule.
    Case("Vec3d[3]", lambda watch: watch(v3())[3], IndexError),
    Case("Vec3d[-1]", lambda watch: watch(v3())[-1], OverflowError),
    Case("Vec3d[2**64]", lambda watch: watch(v3())[2**64], OverflowError),
    Case("Vec3d[slice]", lambda watch: watch(v3())[0:2], TypeError),
    Case("Vec3d[raising __index__]", lambda watch: watch(v3())[RaisesOnConvert()], Hostile),
    Case("Vec3d[__index__ -> float]", lambda watch: watch(v3())[ConvertsToWrongType()], TypeError),
    Case("Vec3d iteration", lambda watch: list(watch(v3())), None),
    Case("Vec3d membership", lambda watch: 3.0 in watch(v3()), None),
    Case("VecList[len]", lambda watch: watch(vl2())[2], IndexError),
    Case("VecList[-1]", lambda watch: watch(vl2())[-1], OverflowError),
    Case("empty VecList[0]", lambda watch: watch(VecList.empty())[0], IndexError),
    Case("VecList iteration", lambda watch: list(watch(vl2())), None),
    Case("VecList membership", lambda watch: watch(o) in watch(vl2()), None),
    Case("VecList truth", lambda watch: bool(watch(VecList.empty())), None),
    Case("iterator of iterator", lambda watch: iter(watch(iter(vl2()))), None),
    Case("next of exhausted iterator", _exhausted_next, StopIteration),
    # Float rule.
    Case("Vec3d(10**400)", lambda watch: Vec3d(10**400, 0, 0), OverflowError),
    Case("Vec3d(raising __float__)", lambda watch: Vec3d(0, RaisesOnConvert(), 0), Hostile),
    Case("Vec3d(__float__ -> str)", lambda watch: Vec3d(0, 0, ConvertsToWrongType()), TypeError),
    Case("Quat(None)", lambda watch: Quat(1, 2, 3, None), TypeError),
    Case("setter 10**400", lambda watch: setattr(watch(v3()), "y", 10**400), OverflowError),
    Case("setter raising __float__",
         lambda watch: setattr(watch(AngleRadians(1.0)), "angle", RaisesOnConvert()), Hostile),
    Case("Vec3d * 10**400", lambda watch: watch(v3()) * 10**400, TypeError),
    # Unsigned integer rule and the fault exception.
    Case("collapse(-1)", lambda watch: watch(vl2()).collapse(-1), OverflowError),
    Case("collapse(2**64)", lambda watch: watch(vl2()).collapse(2**64), OverflowError),
    Case("collapse(1.0)", lambda watch: watch(vl2()).collapse(1.0), TypeError),
    Case("collapse(3)", lambda watch: watch(vl2()).collapse(3), FAULT),
    Case("minimum_distance_to stride 0", lambda watch: watch(vl2()).minimum_distance_to(watch(o), 0), FAULT),
    Case("minimum_distance_to stride -1",
         lambda watch: watch(vl2()).minimum_distance_to(watch(o), -1), OverflowError),
    Case("minimum_distance_to on empty",
         lambda watch: watch(VecList.empty()).minimum_distance_to(watch(o), 1), FAULT),
    Case("mean on empty", lambda watch: watch(VecList.empty()).mean(), ValueError),
    Case("bounds on empty", lambda watch: watch(VecList.empty()).bounds(), ValueError),
    # Borrow conflicts, provoked by re-entrant conversions.
    Case("Vec3d[__index__ sets x]", _reenter_index_on_vec, RuntimeError),
    Case("VecList[__index__ appends]", _reenter_on_list(lambda vl, r: vl[r]), RuntimeError),
    Case("collapse(__index__ appends)", _reenter_on_list(lambda vl, r: vl.collapse(r)), RuntimeError),
    Case("minimum_distance_to(stride appends)",
         _reenter_on_list(lambda vl, r: vl.minimum_distance_to(o, r)), RuntimeError),
    Case("minimum_distance_to(stride sets other)", _reenter_other_held, RuntimeError),
    Case("Plane(distance sets normal)", _reenter_plane, RuntimeError),
    Case("Circle(radius sets center)", _reenter_circle, RuntimeError),
    Case("Vec3d * (sets x)", _reenter_scale(v3), TypeError),
    Case("AngleRadians * (sets angle)", _reenter_scale(lambda: AngleRadians(1.0)), TypeError),
    Case("VecList * (appends)", _reenter_scale(vl2), TypeError),
    Case("extend(self)", _extend_self, RuntimeError),
    # NotImplemented paths and the comparison protocol.
    Case("Vec3d + 1", lambda watch: watch(v3()) + 1, TypeError),
    Case("1 / Vec3d", lambda watch: 1 / watch(v3()), TypeError),
    Case("Vec3d * Vec3d", lambda watch: watch(v3()) * watch(v3()), TypeError),
    Case("Vec3d < Vec3d", lambda watch: watch(v3()) < watch(v3()), TypeError),
    Case("VecList + VecList", lambda watch: watch(vl2()) + watch(vl2()), TypeError),
    Case("Vec3d + VecList", lambda watch: watch(v3()) + watch(vl2()), TypeError),
    Case("2 / VecList", lambda watch: 2.0 / watch(vl2()), TypeError),
    Case("AngleRadians + AngleDegrees",
         lambda watch: watch(AngleRadians(1.0)) + watch(AngleDegrees(1.0)), TypeError),
    Case("2 * AngleRadians", lambda watch: 2 * watch(AngleRadians(1.0)), TypeError),
    Case("AngleRadians < AngleDegrees",
         lambda watch: watch(AngleRadians(1.0)) < watch(AngleDegrees(1.0)), TypeError),
    Case("AngleRadians != raising __eq__", lambda watch: watch(AngleRadians(1.0)) != EqRaises(), Hostile),
    Case("AngleDegrees != bad truth",
         lambda watch: watch(AngleDegrees(1.0)) != EqAnswers(TruthRaises()), Hostile),
    Case("Circle != raising __eq__", lambda watch: watch(circle()) != EqRaises(), Hostile),
    Case("Circle != foreign", lambda watch: watch(circle()) != 1, None),
    Case("Circle < Circle", lambda watch: watch(circle()) < watch(circle()), TypeError),
    Case("Quat < Quat", lambda watch: watch(Quat(1, 0, 0, 0)) < watch(Quat(1, 0, 0, 0)), TypeError),
    Case("Quat == tuple", lambda watch: watch(Quat(1, 0, 0, 0)) == (1, 0, 0, 0), None),
    Case("hash(Quat)", lambda watch: hash(watch(Quat(1, 0, 0, 0))), TypeError),
    Case("hash(Circle)", lambda watch: hash(watch(circle())), TypeError),
    Case("hash(Plane)", lambda watch: hash(watch(Plane.xy())), None),
    Case("repr(Plane)", lambda watch: repr(watch(Plane.xy())), None),
    Case("Quat.from_axis_angle(AngleDegrees)",
         lambda watch: Quat.from_axis_angle(watch(o), watch(AngleDegrees(1.0))), TypeError),
    Case("Vec3d.new_from_to keywords", lambda watch: Vec3d.new_from_to(**watch({"from": o, "to": o})), None),
    # The VecList constructor's sequence handling.
    Case("VecList(str)", lambda watch: VecList("ab"), TypeError),
    Case("VecList(int)", lambda watch: VecList(5), TypeError),
    Case("VecList(set)", lambda watch: VecList({o}), TypeError),
    Case("VecList(generator)", lambda watch: VecList(v for v in [o]), TypeError),
    Case("VecList(bad item)", lambda watch: VecList(watch([o, 1])), TypeError),
    Case("VecList(range)", lambda watch: VecList(range(3)), TypeError),
    Case("VecList(VecList)", lambda watch: VecList(watch(vl2())), None),
    Case("VecList(tuple)", lambda watch: VecList(watch((o, o, o))), None),
    Case("VecList(lying __len__)", lambda watch: VecList(watch(Seq([o, o], length=2**62))), None),
    Case("VecList(__len__ raises)", lambda watch: VecList(watch(Seq([o], len_error=Hostile("len")))), None),
    Case("VecList(__len__ too big)", lambda watch: VecList(watch(Seq([o], length=2**63))), None),
    Case("VecList(iterator raises Hostile)",
         lambda watch: VecList(watch(SeqIterRaises([o, o], 1, Hostile("it")))), Hostile),
    Case("VecList(iterator raises TypeError)",
         lambda watch: VecList(watch(SeqIterRaises([o, o], 1, TypeError("it")))), TypeError),
    Case("VecList(__iter__ not an iterator)", lambda watch: VecList(watch(SeqIterNotIterator([o]))), TypeError),
    Case("VecList(iteration mutates an item)", _mutating_iteration, None),
    Case("VecList.__new__(list=...)", lambda watch: VecList.__new__(VecList, list=watch([o])), None),
    # The bool rule.
    Case("circle_point(inner=1)", lambda watch: geometry.circle_point(watch(circle()), watch(o), 1), TypeError),
    Case("circle_point(inner=None)",
         lambda watch: geometry.circle_point_unchecked(watch(circle()), watch(o), None), TypeError),
    Case("circle_point(numpy-like bool without truth)",
         lambda watch: geometry.circle_point(watch(circle()), watch(o), fake_numpy_bool()), TypeError),
    Case("circle_point(numpy-like bool, raising truth)",
         lambda watch: geometry.circle_point(watch(circle()), watch(o), fake_numpy_bool("bool", raising_truth)),
         Hostile),
    # circle_circle's four failures.
    Case("circle_circle identical",
         lambda watch: geometry.circle_circle(watch(circle()), watch(circle())), ValueError),
    Case("circle_circle out of plane",
         lambda watch: geometry.circle_circle(watch(circle()), watch(circle(1.0, cz=1.0))), ValueError),
    Case("circle_circle too far",
         lambda watch: geometry.circle_circle(watch(circle()), watch(circle(11.0))), ValueError),
    Case("circle_circle inside",
         lambda watch: geometry.circle_circle(watch(circle()), watch(circle(1.0, 2.0))), ValueError),
    Case("circle_circle opposite normals",
         lambda watch: geometry.circle_circle(watch(circle()), watch(circle(6.0, nz=-1.0))), None),
]


def _rows():
    return Quat(0.5, 0.5, -0.5, 0.5).to_rotation_matrix()


def _matrix_cleared_by_an_element(watch):
    m = [[float(repr(x)) for x in row] for row in _rows()]

    def clear():
        for row in m:
            row.clear()
        m.clear()
    m[1][1] = Reenter(clear, 0.5)
    return Quat.from_rotation_matrix(m)


def _slerp_t_writes_q(watch):
    q = watch(Quat(0.0, 1.0, 0.0, 0.0))
    return watch(Quat(1.0, 0.0, 0.0, 0.0)).slerp(q, Reenter(lambda: setattr(q, "w", 1.0), 0.5))


SPECIAL_CASES += [
    # The matrix argument of Quat.from_rotation_matrix.
    Case("from_rotation_matrix(tuples)", lambda watch: Quat.from_rotation_matrix(tuple(map(tuple, _rows()))), None),
    Case("from_rotation_matrix(sequences)",
         lambda watch: Quat.from_rotation_matrix(Seq([Seq(r) for r in _rows()])), None),
    Case("from_rotation_matrix(2 rows)", lambda watch: Quat.from_rotation_matrix(_rows()[:2]), ValueError),
    Case("from_rotation_matrix(row of 4)",
         lambda watch: Quat.from_rotation_matrix(_rows()[:2] + [[0.0] * 4]), ValueError),
    Case("from_rotation_matrix(row not a sequence)",
         lambda watch: Quat.from_rotation_matrix([1.0, 2.0, 3.0]), TypeError),
    Case("from_rotation_matrix(10**400)",
         lambda watch: Quat.from_rotation_matrix(_rows()[:2] + [[0, 0, 10**400]]), OverflowError),
    Case("from_rotation_matrix(raising __float__)",
         lambda watch: Quat.from_rotation_matrix(_rows()[:2] + [[0, RaisesOnConvert(), 0]]), Hostile),
    Case("from_rotation_matrix(lying __len__)",
         lambda watch: Quat.from_rotation_matrix(Seq(_rows()[:2], length=3)), IndexError),
    Case("from_rotation_matrix(raising __len__)",
         lambda watch: Quat.from_rotation_matrix(Seq(_rows(), len_error=Hostile("len"))), Hostile),
    Case("from_rotation_matrix(__len__ too big)",
         lambda watch: Quat.from_rotation_matrix(Seq(_rows(), length=2**63)), OverflowError),
    Case("from_rotation_matrix(element clears the lists)", _matrix_cleared_by_an_element, None),
    Case("from_rotation_matrix(mirror)", lambda watch: Quat.from_rotation_matrix([[-x for x in r] for r in _rows()]),
         ValueError),
    Case("slerp(t writes q)", _slerp_t_writes_q, RuntimeError),
    Case("from_two_vectors opposite", lambda watch: Quat.from_two_vectors(watch(o), -1.0 * o), None),
    Case("from_two_vectors zero", lambda watch: Quat.from_two_vectors(watch(o), watch(Vec3d(0.0, 0.0, 0.0))), None),
    Case("from_two_vectors huge", lambda watch: Quat.from_two_vectors(watch(Vec3d(1e300, 0.0, 0.0)), watch(o)), None),
]


# The buffer protocol, VecList.from_array, pickling and copying.
def _zero_rows(fmt="d", n=2):
    return memoryview(bytes(struct.calcsize(fmt) * 3 * n)).cast(fmt, (n, 3))


def _with_view(call):
    def run(watch):
        vl = watch(vl2())
        with memoryview(vl):
            return call(vl, watch)
    return run


class _View(ctypes.Structure):
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p), ("shape", ctypes.c_void_p), ("strides", ctypes.c_void_p),
                ("suboffsets", ctypes.c_void_p), ("internal", ctypes.c_void_p)]


def _request(flags):
    def run(watch):
        view = _View()
        ctypes.pythonapi.PyObject_GetBuffer(ctypes.py_object(watch(vl2())), ctypes.byref(view), flags)
        ctypes.pythonapi.PyBuffer_Release(ctypes.byref(view))
    return run


def _out_of_band(watch):
    vl, buffers = watch(vl2()), []
    data = pickle.dumps(vl, 5, buffer_callback=buffers.append)
    return pickle.loads(data, buffers=buffers)


_STATE = bytes(24)
SPECIAL_CASES += [
    Case("memoryview(VecList)", lambda watch: memoryview(watch(vl2())).release(), None),
    Case("bytes(VecList)", lambda watch: bytes(watch(vl2())), None),
    Case("bytes(empty VecList)", lambda watch: bytes(watch(VecList.empty())), None),
    Case("buffer request, strides and format", _request(0x1C), None),
    Case("buffer request, writable", _request(0x1), BufferError),
    Case("buffer request, Fortran order", _request(0x58), BufferError),
    Case("append with a view", _with_view(lambda vl, watch: vl.append(watch(o))), BufferError),
    Case("extend with a view", _with_view(lambda vl, watch: vl.extend(watch(vl2()))), BufferError),
    Case("rotate with a view", _with_view(lambda vl, watch: vl.rotate(watch(Quat(0.0, 1.0, 0.0, 0.0)))), None),
    Case("from_array(memoryview)", lambda watch: VecList.from_array(_zero_rows()), None),
    Case("from_array(strided memoryview)", lambda watch: VecList.from_array(_zero_rows(n=4)[::2]), None),
    Case("from_array(float32 memoryview)", lambda watch: VecList.from_array(_zero_rows("f")), None),
    Case("from_array(int32 memoryview)", lambda watch: VecList.from_array(_zero_rows("i")), None),
    Case("from_array(VecList)", lambda watch: VecList.from_array(watch(vl2())), None),
    Case("from_array(to_array())", lambda watch: VecList.from_array(watch(vl2()).to_array()), None),
    Case("from_array(rows of Vec3d)", lambda watch: VecList.from_array([watch(o), o]), None),
    Case("from_array(wrong shape)", lambda watch: VecList.from_array(memoryview(bytes(48)).cast("d")), ValueError),
    Case("from_array(non-number format)",
         lambda watch: VecList.from_array(memoryview(bytes(6)).cast("c", (2, 3))), TypeError),
    Case("from_array(short row)", lambda watch: VecList.from_array([[1.0, 2.0, 3.0], [1.0]]), ValueError),
    Case("from_array(row not a sequence)", lambda watch: VecList.from_array([[1.0, 2.0, 3.0], 1.0]), TypeError),
    Case("from_array(row of str)", lambda watch: VecList.from_array([[1.0, "x", 3.0]]), TypeError),
    Case("from_array(raising __float__)",
         lambda watch: VecList.from_array([[1.0, RaisesOnConvert(), 3.0]]), Hostile),
    Case("from_array(int)", lambda watch: VecList.from_array(5), TypeError),
    Case("from_array(iterator raises)",
         lambda watch: VecList.from_array(SeqIterRaises([[1, 2, 3]] * 2, 1, Hostile("it"))), Hostile),
    Case("from_array(lying __len__)", lambda watch: VecList.from_array(Seq([[1, 2, 3]], length=2**62)), None),
    *[Case(f"pickle {type(x()).__name__} protocol {p}",
           lambda watch, x=x, p=p: pickle.loads(pickle.dumps(watch(x()), p)), None)
      for x in (v3, vl2, lambda: Quat(1, 2, 3, 4), lambda: AngleRadians(1.0), lambda: AngleDegrees(2.0),
                Plane.xy, circle) for p in (2, 5)],
    Case("copy.copy(VecList)", lambda watch: copy.copy(watch(vl2())), None),
    Case("copy.deepcopy(Circle)", lambda watch: copy.deepcopy(watch(circle())), None),
    Case("pickle out of band", _out_of_band, None),
    Case("_restore unknown name", lambda watch: orvath._restore("Nope", _STATE), ValueError),
    Case("_restore wrong size", lambda watch: orvath._restore("Quat", _STATE), ValueError),
    Case("_restore list of wrong size", lambda watch: orvath._restore("VecList", bytes(25)), ValueError),
    Case("_restore name not str", lambda watch: orvath._restore(1, _STATE), TypeError),
    Case("_restore state not a buffer", lambda watch: orvath._restore("Vec3d", 1.0), TypeError),
    Case("_restore keywords", lambda watch: orvath._restore(state=_STATE, name="Vec3d"), None),
    Case("_restore missing state", lambda watch: orvath._restore("Vec3d"), TypeError),
    Case("_restore extra argument", lambda watch: orvath._restore("Vec3d", _STATE, 1), TypeError),
]


# Whole-array members: take's index forms and refusals, pairs of lists.
def _take_clearing_its_indices(watch):
    indices = [1, 0, 1]
    indices[1] = Reenter(indices.clear, 0)
    return watch(vl2()).take(indices)


SPECIAL_CASES += [
    Case("take(__index__ appends)", _reenter_on_list(lambda vl, r: vl.take([0, r])), RuntimeError),
    Case("take(__index__ clears the indices)", _take_clearing_its_indices, None),
    Case("take(range)", lambda watch: watch(vl2()).take(range(1, 2)), None),
    Case("take(range with a step)", lambda watch: watch(vl2()).take(range(1, -1, -1)), None),
    Case("take(range beyond)", lambda watch: watch(vl2()).take(range(3)), IndexError),
    Case("take(range beyond any index)", lambda watch: watch(vl2()).take(range(2**70)), IndexError),
    Case("take(index beyond)", lambda watch: watch(vl2()).take([0, 2]), IndexError),
    Case("take(index 2**64)", lambda watch: watch(vl2()).take([2**64]), IndexError),
    Case("take(negative index)", lambda watch: watch(vl2()).take((0, -1)), OverflowError),
    Case("take(int16 memoryview)", lambda watch: watch(vl2()).take(memoryview(bytes(8)).cast("h")), None),
    Case("take(negative in a buffer)", lambda watch: watch(vl2()).take(memoryview(b"\xff").cast("b")), OverflowError),
    Case("take(float buffer)", lambda watch: watch(vl2()).take(memoryview(bytes(8)).cast("d")), TypeError),
    Case("take(2-D buffer)", lambda watch: watch(vl2()).take(_zero_rows("q")), ValueError),
    Case("take(items not integers)", lambda watch: watch(vl2()).take([0, 1.0]), TypeError),
    Case("add_each(shorter)", lambda watch: watch(vl2()).add_each(watch(VecList([o]))), ValueError),
    Case("cross_each(itself)", lambda watch: (lambda vl: vl.cross_each(vl))(watch(vl2())), None),
]

if numpy is not None:
    # Made once: building an array from lists grows the debug interpreter's
    # reference total by itself.
    _ARRAY = numpy.array(_rows())
    SPECIAL_CASES.append(Case("from_rotation_matrix(numpy array)",
                              lambda watch: Quat.from_rotation_matrix(_ARRAY), None))
    SPECIAL_CASES.append(Case("circle_point(numpy.bool_)",
                              lambda watch: geometry.circle_point(watch(circle()), watch(Vec3d(5.0, 0.0, 0.0)),
                                                                  numpy.bool_(True)),
                              None))


# ---------------------------------------------------------------------------
# Bulk operations large enough to be split over the worker pool, and lists
# whose arrays come from the big-block allocator (2 MiB and more). Built on
# first use, so that importing this table starts no pool.

@functools.cache
def big():
    """128,000 elements, 3 MB."""
    vl = VecList([Vec3d(float(i), 1.0, -2.0) for i in range(1000)])
    for _ in range(7):
        vl.extend(vl * 1.0)
    return vl


@functools.cache
def mid():
    return VecList([Vec3d(float(i), 0.5, 2.0) for i in range(3000)])


def _rotate_through_a_view(vl):
    with memoryview(vl):
        vl.rotate(Quat(1.0, 0.0, 0.0, 0.0))


def _grow_and_rotate(watch):
    vl = watch(VecList.empty())
    for _ in range(3):
        vl.extend(watch(mid()))
    vl.rotate(watch(Quat(0.0, 1.0, 0.0, 0.0)))
    return vl.collapse(2)


POOLED_CASES = [Case(f"pooled {name}", call, None, 50) for name, call in [
    ("normalize", lambda watch: watch(big()).normalize()),
    ("scale", lambda watch: watch(big()) * 2.0),
    ("add", lambda watch: watch(big()) + watch(o)),
    ("dot", lambda watch: watch(big()).dot(watch(o))),
    ("is_unit", lambda watch: watch(big()).is_unit()),
    ("minimum_distance_to", lambda watch: watch(big()).minimum_distance_to(watch(o), 7)),
    ("rotate", lambda watch: watch(big()).rotate(watch(Quat(1.0, 0.0, 0.0, 0.0)))),
    ("iter", lambda watch: iter(watch(big()))),
    ("repr", lambda watch: repr(watch(mid()))),
    ("copy by extend", lambda watch: watch(VecList.empty()).extend(watch(big()))),
    ("from_array", lambda watch: VecList.from_array(watch(big()))),
    ("from_array strided", lambda watch: VecList.from_array(memoryview(watch(big()))[::2])),
    ("pickle", lambda watch: pickle.loads(pickle.dumps(watch(big()), 4))),
    ("rotate with a view", lambda watch: _rotate_through_a_view(watch(big()))),
    ("take", lambda watch: watch(big()).take(range(len(big()) - 1, -1, -2))),
    ("sub_each", lambda watch: watch(big()).sub_each(watch(big()))),
    ("dot_each", lambda watch: watch(big()).dot_each(watch(big()))),
    ("magnitude_array", lambda watch: watch(big()).magnitude_array()),
    ("copy", lambda watch: copy.copy(watch(big()))),
    ("sum, mean and bounds", lambda watch: (watch(big()).sum(), watch(big()).mean(), watch(big()).bounds())),
]] + [Case("pooled rotate of a growing list", _grow_and_rotate, None, 50)]

CASES = generic_cases() + SPECIAL_CASES + POOLED_CASES
