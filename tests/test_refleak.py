"""Reference and memory leaks.

Every public call of orvath (each method, property get/set/delete, operator in
both its syntax and its slot-wrapper form, static method, constructor through
vectorcall and through __new__, module function) and every error path
(argument parsing, wrong types, borrow conflicts, IndexError, OverflowError,
the fault exception, circle_circle's ValueErrors, NotImplemented operators,
hostile sequences) is run once to check it takes the intended path, warmed up,
then repeated; afterwards the interpreter's total reference count, its count of
allocated memory blocks, the bytes in use on the C heap and the process's
mapped size must be where they were, within a small constant slack.

Needs a debug interpreter (sys.gettotalrefcount) with orvath built against it
(`make test-refleak`); anywhere else the module skips.
"""
import contextlib
import copy
import ctypes
import gc
import os
import pickle
import struct
import sys
from typing import Callable, NamedTuple, Optional

import pytest

if not hasattr(sys, "gettotalrefcount"):
    pytest.skip("needs a debug interpreter (sys.gettotalrefcount)", allow_module_level=True)

from refleak.members import (  # noqa: E402
    MEMBERS, AngleDegrees, AngleRadians, Circle, Plane, Quat, Vec3d, VecList, annotation_key,
    has_alt, invoke, receiver_for, valid_args)
from refleak.oddities import (  # noqa: E402
    ConvertsToWrongType, EqRaises, EqReturnsBadTruth, Hostile, RaisesOnConvert, Reenter, Seq,
    SeqIterAction, SeqIterNotIterator, SeqIterRaises, fake_numpy_bool)

import orvath  # noqa: E402
from orvath import geometry  # noqa: E402


def _fault_type():
    with contextlib.redirect_stderr(_Sink()):
        try:
            VecList.empty().collapse(3)
        except BaseException as e:  # noqa: B036 - the fault derives from BaseException
            return type(e)
    raise AssertionError("collapse(3) did not fault")


class _Sink:
    """Swallows the fault diagnostics, which would otherwise pile up in the
    capture buffer and count as allocations."""

    def write(self, s):
        return len(s)

    def flush(self):
        pass


FAULT = _fault_type()

# ---------------------------------------------------------------------------
# Measuring

_libc = ctypes.CDLL(None)


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                 "uordblks", "fordblks", "keepcost")]


_libc.mallinfo2.restype = _MallInfo2
_libc.malloc.restype = ctypes.c_void_p
_libc.malloc.argtypes = [ctypes.c_size_t]
_libc.free.argtypes = [ctypes.c_void_p]
_PAGE = os.sysconf("SC_PAGE_SIZE")


def heap_bytes():
    """Bytes handed out by malloc (small blocks and the ones it maps itself)."""
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def mapped_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[0]) * _PAGE


def counters():
    return {"refs": sys.gettotalrefcount(), "blocks": sys.getallocatedblocks(),
            "heap": heap_bytes(), "mapped": mapped_bytes()}


# A leak of one reference, one object or one small array per call shows as
# at least `repeat` of them; the slack only absorbs the measuring itself.
# Freed big blocks (2 MiB and more) are kept in a bounded cache of 64 MiB.
SLACK = {"refs": 16, "blocks": 16, "heap": 8192, "mapped": 80 << 20}


def growth(once, repeat):
    # Only the young generation can hold what the calls made; a full
    # collection would cost more than the calls themselves.
    gc.collect(0)
    gc.disable()
    try:
        before = counters()
        for _ in range(repeat):
            once()
        gc.collect(0)
        after = counters()
    finally:
        gc.enable()
    return {k: after[k] - before[k] for k in before}


def leak_report(call, repeat):
    """None when some round of `repeat` calls left every counter within its
    slack; otherwise the growth of the last round. Three rounds, because a
    cache may settle (a dict resizing, a specialised instruction) in the first."""
    def once():
        try:
            call()
        except BaseException:  # noqa: B036 - the fault exception is among the paths measured
            pass

    for _ in range(max(50, repeat // 10)):
        once()
    report = None
    for _ in range(3):
        report = growth(once, repeat)
        if all(report[k] <= SLACK[k] for k in report):
            return None
    return report


def outcome(call):
    try:
        call()
    except BaseException as e:  # noqa: B036
        return type(e)
    return None


# ---------------------------------------------------------------------------
# The calls

class Case(NamedTuple):
    id: str
    call: Callable[[], object]
    expect: Optional[type]   # exception type the call must raise, None if it returns
    repeat: int = 1000


def _bad_value(annotation):
    """One value of a wrong type per parameter kind (an int for a bool: the
    bool rule refuses it)."""
    key = annotation_key(annotation)
    return {"float": "x", "int": "x", "bool": 1, "seq": "ab"}.get(key)


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


def member_cases(m):
    ok = AttributeError if m.kind == "del" or (m.kind == "set" and not m.settable) else None
    forms = [False, True] if has_alt(m) else [False]
    for alt in forms:
        tag = "alt" if alt else "plain"
        yield Case(f"{m.id}-{tag}", lambda m=m, alt=alt: invoke(m, receiver_for(m), valid_args(m), alt=alt), ok)
        for i, (p, a) in enumerate(m.params):
            def bad(m=m, alt=alt, i=i, a=a):
                args = valid_args(m)
                args[i] = _bad_value(a)
                return invoke(m, receiver_for(m), args, alt=alt)
            yield Case(f"{m.id}-{tag}-bad-{p}", bad, _bad_outcome(m, alt))
    # Argument parsing, by orvath (both constructor roads) and by the slot wrappers.
    parse_forms = {"ctor": [False, True], "static": [False], "method": [False], "function": [False],
                   "op": [True] if m.params else []}.get(m.kind, [])
    names = [p for p, _ in m.params]
    for alt in parse_forms:
        tag = "alt" if alt else "plain"

        def call(args, kwargs, m=m, alt=alt):
            return lambda: invoke(m, receiver_for(m), args(), kwargs(), alt=alt)

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


# Hand-written paths the generic walk does not reach.
o = Vec3d(0.25, -0.5, 1.0)


def v3():
    return Vec3d(1.0, 2.0, 3.0)


def vl2():
    return VecList([Vec3d(1.0, 2.0, 3.0), Vec3d(-4.0, 0.5, 6.0)])


def circle(cx=0.0, r=5.0, nz=1.0, cz=0.0):
    return Circle(Vec3d(cx, 0.0, cz), r, Vec3d(0.0, 0.0, nz))


def _reenter_index_on_vec():
    v = v3()
    return v[Reenter(lambda: setattr(v, "x", 9.0))]


def _reenter_on_list(call):
    def run():
        vl = vl2()
        return call(vl, Reenter(lambda: vl.append(Vec3d(0.0, 0.0, 0.0)), 1))
    return run


def _reenter_other_held():
    target = v3()
    return vl2().minimum_distance_to(target, Reenter(lambda: setattr(target, "x", 0.0), 1))


def _reenter_plane():
    n = v3()
    return Plane(n, Reenter(lambda: setattr(n, "z", 0.0), 1))


def _reenter_circle():
    c = v3()
    return Circle(c, Reenter(lambda: setattr(c, "z", 0.0), 1), o)


def _reenter_scale(make):
    def run():
        x = make()
        attr = "angle" if isinstance(x, AngleRadians) else ("x" if isinstance(x, Vec3d) else None)
        act = (lambda: setattr(x, attr, 0.0)) if attr else (lambda: x.append(o))
        return x * Reenter(act, 2)
    return run


def _exhausted_next():
    it = iter(VecList([o]))
    next(it)
    return next(it)


def _extend_self():
    vl = vl2()
    return vl.extend(vl)


def _raising_truth(self):
    raise Hostile("__bool__")


def _mutating_iteration():
    a = v3()
    return VecList(SeqIterAction([a, a], lambda: setattr(a, "x", a.x + 1.0)))


try:
    import numpy
except ImportError:  # the bool rule's numpy path is then covered where numpy exists
    numpy = None


SPECIAL_CASES = [
    # Indexing: bounds and the unsigned integer rule.
    Case("Vec3d[3]", lambda: v3()[3], IndexError),
    Case("Vec3d[-1]", lambda: v3()[-1], OverflowError),
    Case("Vec3d[2**64]", lambda: v3()[2**64], OverflowError),
    Case("Vec3d[slice]", lambda: v3()[0:2], TypeError),
    Case("Vec3d[raising __index__]", lambda: v3()[RaisesOnConvert()], Hostile),
    Case("Vec3d[__index__ -> float]", lambda: v3()[ConvertsToWrongType()], TypeError),
    Case("Vec3d iteration", lambda: list(v3()), None),
    Case("Vec3d membership", lambda: 3.0 in v3(), None),
    Case("VecList[len]", lambda: vl2()[2], IndexError),
    Case("VecList[-1]", lambda: vl2()[-1], OverflowError),
    Case("empty VecList[0]", lambda: VecList.empty()[0], IndexError),
    Case("VecList iteration", lambda: list(vl2()), None),
    Case("VecList membership", lambda: o in vl2(), None),
    Case("VecList truth", lambda: bool(VecList.empty()), None),
    Case("iterator of iterator", lambda: iter(iter(vl2())), None),
    Case("next of exhausted iterator", _exhausted_next, StopIteration),
    # Float rule.
    Case("Vec3d(10**400)", lambda: Vec3d(10**400, 0, 0), OverflowError),
    Case("Vec3d(raising __float__)", lambda: Vec3d(0, RaisesOnConvert(), 0), Hostile),
    Case("Vec3d(__float__ -> str)", lambda: Vec3d(0, 0, ConvertsToWrongType()), TypeError),
    Case("Quat(None)", lambda: Quat(1, 2, 3, None), TypeError),
    Case("setter 10**400", lambda: setattr(v3(), "y", 10**400), OverflowError),
    Case("setter raising __float__", lambda: setattr(AngleRadians(1.0), "angle", RaisesOnConvert()), Hostile),
    Case("Vec3d * 10**400", lambda: v3() * 10**400, TypeError),
    # Unsigned integer rule and the fault exception.
    Case("collapse(-1)", lambda: vl2().collapse(-1), OverflowError),
    Case("collapse(2**64)", lambda: vl2().collapse(2**64), OverflowError),
    Case("collapse(1.0)", lambda: vl2().collapse(1.0), TypeError),
    Case("collapse(3)", lambda: vl2().collapse(3), FAULT),
    Case("minimum_distance_to stride 0", lambda: vl2().minimum_distance_to(o, 0), FAULT),
    Case("minimum_distance_to stride -1", lambda: vl2().minimum_distance_to(o, -1), OverflowError),
    Case("minimum_distance_to on empty", lambda: VecList.empty().minimum_distance_to(o, 1), FAULT),
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
    Case("Vec3d + 1", lambda: v3() + 1, TypeError),
    Case("1 / Vec3d", lambda: 1 / v3(), TypeError),
    Case("Vec3d * Vec3d", lambda: v3() * v3(), TypeError),
    Case("Vec3d < Vec3d", lambda: v3() < v3(), TypeError),
    Case("VecList + VecList", lambda: vl2() + vl2(), TypeError),
    Case("Vec3d + VecList", lambda: v3() + vl2(), TypeError),
    Case("2 / VecList", lambda: 2.0 / vl2(), TypeError),
    Case("AngleRadians + AngleDegrees", lambda: AngleRadians(1.0) + AngleDegrees(1.0), TypeError),
    Case("2 * AngleRadians", lambda: 2 * AngleRadians(1.0), TypeError),
    Case("AngleRadians < AngleDegrees", lambda: AngleRadians(1.0) < AngleDegrees(1.0), TypeError),
    Case("AngleRadians != raising __eq__", lambda: AngleRadians(1.0) != EqRaises(), Hostile),
    Case("AngleDegrees != bad truth", lambda: AngleDegrees(1.0) != EqReturnsBadTruth(), Hostile),
    Case("Circle != raising __eq__", lambda: circle() != EqRaises(), Hostile),
    Case("Circle != foreign", lambda: circle() != 1, None),
    Case("Circle < Circle", lambda: circle() < circle(), TypeError),
    Case("Quat < Quat", lambda: Quat(1, 0, 0, 0) < Quat(1, 0, 0, 0), TypeError),
    Case("Quat == tuple", lambda: Quat(1, 0, 0, 0) == (1, 0, 0, 0), None),
    Case("hash(Quat)", lambda: hash(Quat(1, 0, 0, 0)), TypeError),
    Case("hash(Circle)", lambda: hash(circle()), TypeError),
    Case("hash(Plane)", lambda: hash(Plane.xy()), None),
    Case("repr(Plane)", lambda: repr(Plane.xy()), None),
    Case("Quat.from_axis_angle(AngleDegrees)", lambda: Quat.from_axis_angle(o, AngleDegrees(1.0)), TypeError),
    Case("Vec3d.new_from_to keywords", lambda: Vec3d.new_from_to(**{"from": o, "to": o}), None),
    # The VecList constructor's sequence handling.
    Case("VecList(str)", lambda: VecList("ab"), TypeError),
    Case("VecList(int)", lambda: VecList(5), TypeError),
    Case("VecList(set)", lambda: VecList({o}), TypeError),
    Case("VecList(generator)", lambda: VecList(v for v in [o]), TypeError),
    Case("VecList(bad item)", lambda: VecList([o, 1]), TypeError),
    Case("VecList(range)", lambda: VecList(range(3)), TypeError),
    Case("VecList(VecList)", lambda: VecList(vl2()), None),
    Case("VecList(tuple)", lambda: VecList((o, o, o)), None),
    Case("VecList(lying __len__)", lambda: VecList(Seq([o, o], length=2**62)), None),
    Case("VecList(__len__ raises)", lambda: VecList(Seq([o], len_error=Hostile("len"))), None),
    Case("VecList(__len__ too big)", lambda: VecList(Seq([o], length=2**63)), None),
    Case("VecList(iterator raises Hostile)", lambda: VecList(SeqIterRaises([o, o], 1, Hostile("it"))), Hostile),
    Case("VecList(iterator raises TypeError)",
         lambda: VecList(SeqIterRaises([o, o], 1, TypeError("it"))), TypeError),
    Case("VecList(__iter__ not an iterator)", lambda: VecList(SeqIterNotIterator([o])), TypeError),
    Case("VecList(iteration mutates an item)", _mutating_iteration, None),
    Case("VecList.__new__(list=...)", lambda: VecList.__new__(VecList, list=[o]), None),
    # The bool rule.
    Case("circle_point(inner=1)", lambda: geometry.circle_point(circle(), o, 1), TypeError),
    Case("circle_point(inner=None)", lambda: geometry.circle_point_unchecked(circle(), o, None), TypeError),
    Case("circle_point(numpy-like bool without truth)",
         lambda: geometry.circle_point(circle(), o, fake_numpy_bool()), TypeError),
    Case("circle_point(numpy-like bool, raising truth)",
         lambda: geometry.circle_point(circle(), o, fake_numpy_bool("bool", _raising_truth)), Hostile),
    # circle_circle's four failures.
    Case("circle_circle identical", lambda: geometry.circle_circle(circle(), circle()), ValueError),
    Case("circle_circle out of plane", lambda: geometry.circle_circle(circle(), circle(1.0, cz=1.0)), ValueError),
    Case("circle_circle too far", lambda: geometry.circle_circle(circle(), circle(11.0)), ValueError),
    Case("circle_circle inside", lambda: geometry.circle_circle(circle(), circle(1.0, 2.0)), ValueError),
    Case("circle_circle opposite normals", lambda: geometry.circle_circle(circle(), circle(6.0, nz=-1.0)), None),
]


# Bulk operations large enough to be split over the worker pool, and lists
# whose arrays come from the big-block allocator (2 MiB and more).
_BIG = VecList([Vec3d(float(i), 1.0, -2.0) for i in range(1000)])
for _ in range(7):
    _BIG.extend(_BIG * 1.0)                      # 128,000 elements, 3 MB
_MID = VecList([Vec3d(float(i), 0.5, 2.0) for i in range(3000)])


def _with_view_of_big():
    with memoryview(_BIG):
        _BIG.rotate(Quat(1.0, 0.0, 0.0, 0.0))

POOLED_CASES = [Case(f"pooled {name}", call, None, 50) for name, call in [
    ("normalize", _BIG.normalize),
    ("scale", lambda: _BIG * 2.0),
    ("add", lambda: _BIG + o),
    ("dot", lambda: _BIG.dot(o)),
    ("is_unit", _BIG.is_unit),
    ("minimum_distance_to", lambda: _BIG.minimum_distance_to(o, 7)),
    ("rotate", lambda: _BIG.rotate(Quat(1.0, 0.0, 0.0, 0.0))),
    ("iter", lambda: iter(_BIG)),
    ("repr", lambda: repr(_MID)),
    ("copy by extend", lambda: VecList.empty().extend(_BIG)),
    ("from_array", lambda: VecList.from_array(_BIG)),
    ("from_array strided", lambda: VecList.from_array(memoryview(_BIG)[::2])),
    ("pickle", lambda: pickle.loads(pickle.dumps(_BIG, 4))),
    ("rotate with a view", _with_view_of_big),
]] + [Case("pooled rotate of a growing list", lambda: _grow_and_rotate(), None, 50)]


def _grow_and_rotate():
    vl = VecList.empty()
    for _ in range(3):
        vl.extend(_MID)
    vl.rotate(Quat(0.0, 1.0, 0.0, 0.0))
    return vl.collapse(2)


# The buffer protocol, VecList.from_array, pickling and copying.
def _rows(fmt="d", n=2):
    return memoryview(bytes(struct.calcsize(fmt) * 3 * n)).cast(fmt, (n, 3))


def _with_view(call):
    def run():
        vl = vl2()
        with memoryview(vl):
            return call(vl)
    return run


def _request(flags):
    class View(ctypes.Structure):
        _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                    ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                    ("format", ctypes.c_char_p), ("shape", ctypes.c_void_p), ("strides", ctypes.c_void_p),
                    ("suboffsets", ctypes.c_void_p), ("internal", ctypes.c_void_p)]

    def run():
        view = View()
        ctypes.pythonapi.PyObject_GetBuffer(ctypes.py_object(vl2()), ctypes.byref(view), flags)
        ctypes.pythonapi.PyBuffer_Release(ctypes.byref(view))
    return run


def _out_of_band():
    vl, buffers = vl2(), []
    data = pickle.dumps(vl, 5, buffer_callback=buffers.append)
    return pickle.loads(data, buffers=buffers)


_STATE = bytes(24)
INTEROP_CASES = [
    Case("memoryview(VecList)", lambda: memoryview(vl2()).release(), None),
    Case("bytes(VecList)", lambda: bytes(vl2()), None),
    Case("bytes(empty VecList)", lambda: bytes(VecList.empty()), None),
    Case("buffer request, strides and format", _request(0x1C), None),
    Case("buffer request, writable", _request(0x1), BufferError),
    Case("buffer request, Fortran order", _request(0x58), BufferError),
    Case("append with a view", _with_view(lambda vl: vl.append(o)), BufferError),
    Case("extend with a view", _with_view(lambda vl: vl.extend(vl2())), BufferError),
    Case("rotate with a view", _with_view(lambda vl: vl.rotate(Quat(0.0, 1.0, 0.0, 0.0))), None),
    Case("from_array(memoryview)", lambda: VecList.from_array(_rows()), None),
    Case("from_array(strided memoryview)", lambda: VecList.from_array(_rows(n=4)[::2]), None),
    Case("from_array(float32 memoryview)", lambda: VecList.from_array(_rows("f")), None),
    Case("from_array(int32 memoryview)", lambda: VecList.from_array(_rows("i")), None),
    Case("from_array(VecList)", lambda: VecList.from_array(vl2()), None),
    Case("from_array(to_array())", lambda: VecList.from_array(vl2().to_array()), None),
    Case("from_array(rows of Vec3d)", lambda: VecList.from_array([o, o]), None),
    Case("from_array(wrong shape)", lambda: VecList.from_array(memoryview(bytes(48)).cast("d")), ValueError),
    Case("from_array(non-number format)", lambda: VecList.from_array(memoryview(bytes(6)).cast("c", (2, 3))),
         TypeError),
    Case("from_array(short row)", lambda: VecList.from_array([[1.0, 2.0, 3.0], [1.0]]), ValueError),
    Case("from_array(row not a sequence)", lambda: VecList.from_array([[1.0, 2.0, 3.0], 1.0]), TypeError),
    Case("from_array(row of str)", lambda: VecList.from_array([[1.0, "x", 3.0]]), TypeError),
    Case("from_array(raising __float__)", lambda: VecList.from_array([[1.0, RaisesOnConvert(), 3.0]]), Hostile),
    Case("from_array(int)", lambda: VecList.from_array(5), TypeError),
    Case("from_array(iterator raises)", lambda: VecList.from_array(SeqIterRaises([[1, 2, 3]] * 2, 1, Hostile("it"))),
         Hostile),
    Case("from_array(lying __len__)", lambda: VecList.from_array(Seq([[1, 2, 3]], length=2**62)), None),
    *[Case(f"pickle {type(x()).__name__} protocol {p}", lambda x=x, p=p: pickle.loads(pickle.dumps(x(), p)), None)
      for x in (v3, vl2, lambda: Quat(1, 2, 3, 4), lambda: AngleRadians(1.0), lambda: AngleDegrees(2.0),
                Plane.xy, circle) for p in (2, 5)],
    Case("copy.copy(VecList)", lambda: copy.copy(vl2()), None),
    Case("copy.deepcopy(Circle)", lambda: copy.deepcopy(circle()), None),
    Case("pickle out of band", _out_of_band, None),
    Case("_restore unknown name", lambda: orvath._restore("Nope", _STATE), ValueError),
    Case("_restore wrong size", lambda: orvath._restore("Quat", _STATE), ValueError),
    Case("_restore list of wrong size", lambda: orvath._restore("VecList", bytes(25)), ValueError),
    Case("_restore name not str", lambda: orvath._restore(1, _STATE), TypeError),
    Case("_restore state not a buffer", lambda: orvath._restore("Vec3d", 1.0), TypeError),
    Case("_restore keywords", lambda: orvath._restore(state=_STATE, name="Vec3d"), None),
    Case("_restore missing state", lambda: orvath._restore("Vec3d"), TypeError),
    Case("_restore extra argument", lambda: orvath._restore("Vec3d", _STATE, 1), TypeError),
]
# The exporters here are memoryviews: creating a numpy array moves the debug
# interpreter's reference total by itself.
SPECIAL_CASES += INTEROP_CASES

if numpy is not None:
    SPECIAL_CASES.append(Case("circle_point(numpy.bool_)",
                              lambda: geometry.circle_point(circle(), Vec3d(5.0, 0.0, 0.0), numpy.bool_(True)),
                              None))

CASES = generic_cases() + SPECIAL_CASES + POOLED_CASES


def test_case_ids_are_unique():
    ids = [c.id for c in CASES]
    assert len(ids) == len(set(ids))


def test_every_member_has_a_successful_case():
    succeeding = {c.id.rsplit("-", 1)[0] for c in CASES if c.id.endswith("-plain") and c.expect is None}
    for m in MEMBERS:
        if m.kind == "del" or (m.kind == "set" and not m.settable):
            continue
        assert m.id in succeeding, m


@pytest.mark.parametrize("case", CASES, ids=[c.id for c in CASES])
def test_no_leak(case):
    with contextlib.redirect_stderr(_Sink()):
        got = outcome(case.call)
        assert got is case.expect, f"{case.id}: raised {got}, expected {case.expect}"
        report = leak_report(case.call, case.repeat)
    assert report is None, f"{case.id}: grew by {report} over {case.repeat} calls"


def _keep_object(kept):
    return lambda: kept.append(Vec3d(1.0, 2.0, 3.0))


def _keep_malloc(kept):
    return lambda: kept.append(_libc.malloc(200))


def _keep_mapping(kept):
    import mmap
    return lambda: kept.append(mmap.mmap(-1, 1 << 20))


@pytest.mark.parametrize("leaker, counter, least", [
    (_keep_object, "refs", 1000), (_keep_object, "blocks", 1000),
    (_keep_malloc, "heap", 200 * 1000), (_keep_mapping, "mapped", 1000 << 20),
])
def test_the_measure_sees_a_leak(leaker, counter, least):
    """One object, one malloc'ed block or one mapping kept per call is reported
    by the counter that watches it."""
    kept = []
    report = leak_report(leaker(kept), 1000)
    assert report is not None and report[counter] >= least, report
    if leaker is _keep_malloc:
        for p in kept:
            _libc.free(p)
