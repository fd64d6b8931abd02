"""Hostile input: every public member called with arguments drawn from a wide
pool (wrong types, None, huge and negative ints, NaN and infinities, float
and int subclasses, numpy scalars, objects whose __float__/__index__ raise,
lie or write to the objects of the call, lying sequences, every orvath class,
the receiver itself) and call shapes right and wrong (keywords, duplicates,
unknown names, missing and extra arguments).

Each call must return or raise one of the errors the conventions allow, with
the messages they allow; it must leave no borrow held; and an object may only
have changed if the call was a successful mutation of its receiver, or if a
conversion method wrote to it at a moment the object was free to be written.
A write attempted while the call holds its receiver must have been refused.

Beside the drawn calls, every case of the call table (support/calls.py: each
member in each form, right and wrong, and the hand-written error paths) must
leave every orvath object it used free to be written again.
"""
import math
import re

import pytest
from hypothesis import HealthCheck, event, given, settings, strategies as st

from models.bits import SPECIAL
from support.calls import CASES, outcome, watcher
from support.helpers import raises_exactly
from support.members import (
    MEMBERS, AngleDegrees, AngleRadians, Circle, Plane, Quat, Vec3d, VecList, VecListIterator,
    annotation_key, describe, invoke, orvath_objects, receiver_for, release_check, snapshot, valid_args)
from support.oddities import (
    ConvertsToWrongType, EqRaises, FloatSub, Floaty, Hostile, Indexy, IntSub, RaisesOnConvert, Reenter, Seq,
    SeqIterAction, SeqIterNotIterator, SeqIterRaises, StrSub, fake_numpy_bool, raising_truth)

try:
    import numpy
except ImportError:
    numpy = None

# ---------------------------------------------------------------------------
# What a call may raise

FAULTS = {
    "collapse": {"assertion failed: axis <= 2"},
    "minimum_distance_to": {"assertion failed: stride != 0", "called `Option::unwrap()` on a `None` value"},
}
CIRCLE_CIRCLE = {
    "The given geometries are too far apart and do not intersect at all.",
    "One of the given geometries is contained entirely within the other. The surfaces do not intersect.",
    "The given geometries are identical.",
    "The given geometries are out of plane from each other",
}
FROM_ARRAY = ("expected an array of shape (n, 3), got ", "expected a sequence of length 3 at index ")
OVERFLOW = {"int too large to convert to float", "can't convert negative int to unsigned", "int too big to convert"}
MATRIX = ("expected a 3x3 matrix (three rows of three numbers), ",
          "expected a rotation matrix (positive determinant), got a determinant of ")
LEN_OVERFLOW = "cannot fit 'int' into an index-sized integer"
BORROW = {"Already borrowed", "Already mutably borrowed"}
TAKE_INDEX = re.compile(r"index -?\d+ at position \d+ is (out of range for a VecList of length \d+|negative "
                        r"\(can't convert negative int to unsigned\))")
WHOLE_LIST = ("expected a VecList of length ", "expected a 1-D array of indices, got ")
MUTATORS = {("VecList", "append"), ("VecList", "extend"), ("VecList", "rotate")}


def argument_names(m):
    names = {p for p, _ in m.params}
    if m.kind == "set":
        names = {"value"}
    return names


def check_exception(m, exc):
    """Fails the test unless `exc` is an error this call may raise."""
    kind, message = type(exc), str(exc)
    if kind is TypeError:
        if message.startswith("argument '"):
            # The argument-error rule names one of this member's parameters.
            name = message[len("argument '"):].split("'", 1)[0]
            assert name in argument_names(m), (m, message)
        return
    if kind is Hostile:
        return  # raised by a conversion method of ours; it passes unchanged
    if kind is OverflowError:
        # A matrix's own __len__ may claim more than an index can hold.
        assert (message in OVERFLOW or m.name == "from_rotation_matrix" and message == LEN_OVERFLOW
                or m.name == "take" and TAKE_INDEX.fullmatch(message)), (m, message)
    elif kind is IndexError:
        assert message == "Index out of bounds" or m.name == "take" and TAKE_INDEX.fullmatch(message), (m, message)
    elif kind is RuntimeError:
        assert message in BORROW, (m, message)
    elif kind is ValueError:
        if m.name == "from_rotation_matrix":
            assert message.startswith(MATRIX), (m, message)
        elif m.name == "from_array":
            assert message.startswith(FROM_ARRAY), (m, message)
        elif m.name.endswith("_each") or m.name == "take":
            assert message.startswith(WHOLE_LIST), (m, message)
        elif m.name in ("mean", "bounds"):
            assert message == f"{m.name} of an empty VecList", (m, message)
        else:
            assert m.name == "circle_circle" and message in CIRCLE_CIRCLE, (m, message)
    elif kind is AttributeError:
        assert m.kind in ("set", "del"), (m, message)
    elif kind is StopIteration:
        assert m.name == "__next__", m
    elif kind.__name__ == "OrvathFault":
        assert message in FAULTS.get(m.name, ()), (m, message)
        assert not isinstance(exc, Exception)
    else:
        raise AssertionError(f"{m.id} raised {kind.__name__}: {message}") from exc


# ---------------------------------------------------------------------------
# The pool of values

anydouble = st.one_of(st.floats(), st.sampled_from(SPECIAL))
smallfloat = st.floats(-10.0, 10.0)


def vec3d_st():
    return st.builds(Vec3d, anydouble, anydouble, anydouble)


def veclist_st(max_size=5):
    return st.lists(st.builds(Vec3d, smallfloat, smallfloat, smallfloat), max_size=max_size).map(VecList)


def iterator_st():
    def make(args):
        items, consumed = args
        it = iter(VecList(items))
        for _ in range(min(consumed, len(items))):
            next(it)
        return it
    return st.tuples(st.lists(vec3d_st(), max_size=3), st.integers(0, 4)).map(make)


INSTANCES = {
    "Vec3d": vec3d_st(),
    "VecList": veclist_st(),
    "VecListIterator": iterator_st(),
    "Quat": st.builds(Quat, anydouble, anydouble, anydouble, anydouble),
    "AngleRadians": st.builds(AngleRadians, anydouble),
    "AngleDegrees": st.builds(AngleDegrees, anydouble),
    "Plane": st.builds(Plane, vec3d_st(), anydouble),
    "Circle": st.one_of(st.builds(Circle, vec3d_st(), anydouble, vec3d_st()),
                        st.builds(lambda x, r, nz: Circle(Vec3d(x, 0.0, 0.0), r, Vec3d(0.0, 0.0, nz)),
                                  st.sampled_from([0.0, 1.0, 2.0, 6.0, 11.0]), st.sampled_from([1.0, 2.0, 5.0]),
                                  st.sampled_from([1.0, -1.0]))),
}

VALID = {
    "float": st.one_of(anydouble, st.integers(-2**53, 2**53), st.booleans()),
    "int": st.one_of(st.integers(0, 4), st.integers(0, 2**64 - 1)),
    "bool": st.booleans(),
    "seq": st.one_of(st.lists(vec3d_st(), max_size=4), st.lists(vec3d_st(), max_size=4).map(tuple), veclist_st()),
    "matrix": st.one_of(st.lists(st.lists(anydouble, min_size=3, max_size=3), min_size=3, max_size=3),
                        st.tuples(*[st.tuples(anydouble, st.integers(-2**53, 2**53), st.booleans())] * 3)),
    "array": st.one_of(st.lists(st.lists(anydouble, min_size=3, max_size=3), max_size=4), veclist_st(),
                       st.lists(vec3d_st(), max_size=4)),
    "indices": st.one_of(st.lists(st.integers(-1, 5), max_size=6), st.builds(range, st.integers(-1, 5)),
                         st.lists(st.integers(0, 5), max_size=6).map(lambda xs: memoryview(bytes(xs)))),
    "memo": st.just({}),
    **INSTANCES,
}

_numpy_values = [] if numpy is None else [numpy.bool_(True), numpy.bool_(False), numpy.float64(2.5),
                                          numpy.int64(2), numpy.float32(0.5)]


def junk():
    """Values of the wrong type, or of the right type at the edges of its range."""
    v = Vec3d(1.0, 2.0, 3.0)
    return st.sampled_from([
        None, "1", "", "ab", b"1", 1j, [], (), {}, set(), object(), range(3), 0, 1, -1, 3, 2**63, 2**64 - 1,
        2**64, -2**63, 10**400, -10**400, True, False, math.nan, -math.nan, math.inf, -math.inf, -0.0, 5e-324,
        1e308, 1.5, FloatSub(2.5), FloatSub(math.nan), IntSub(2), IntSub(-3), Floaty(1.5), Floaty(10**400),
        Indexy(1), Indexy(-1), Indexy(2**70), RaisesOnConvert(), ConvertsToWrongType(), EqRaises(),
        fake_numpy_bool(), fake_numpy_bool("bool", raising_truth), fake_numpy_bool("bool_", lambda self: True),
        [v, 1], [v, None], (v, "x"), Seq([v, v], length=2**62), Seq([v], length=2**63),
        Seq([v], len_error=Hostile("len")), Seq([v], len_error=TypeError("len")),
        SeqIterRaises([v, v], 1, Hostile("iter")), SeqIterRaises([v, v], 0, TypeError("iter")),
        SeqIterNotIterator([v]), (x for x in [v]), {v: 1}, *_numpy_values,
    ])


# ---------------------------------------------------------------------------
# Drawing one call

class World:
    """The orvath objects of one call (whose values are watched) and the
    re-entrant conversion objects that may write to them."""

    def __init__(self):
        self.objects = []
        self.reentrants = []

    def track(self, value):
        for obj in orvath_objects(value):
            if not any(obj is o for o in self.objects):
                self.objects.append(obj)
        if isinstance(value, Reenter):
            self.reentrants.append(value)
        return value


def write_action(data, victim):
    """A write to `victim`: a setter, or a mutating method of a list."""
    t = type(victim)
    if t is VecList:
        which = data.draw(st.sampled_from(["append", "extend", "rotate"]), label="write")
        if which == "append":
            return lambda: victim.append(Vec3d(9.0, 9.0, 9.0))
        if which == "extend":
            return lambda: victim.extend(VecList([Vec3d(8.0, 8.0, 8.0)]))
        return lambda: victim.rotate(Quat(0.0, 1.0, 0.0, 0.0))
    if t is VecListIterator:
        return lambda: next(victim, None)
    attr = {Vec3d: ["x", "y", "z"], Quat: ["w", "i", "j", "k"], AngleRadians: ["angle"],
            AngleDegrees: ["angle"], Plane: ["distance", "normal"], Circle: ["radius", "center", "normal"]}[t]
    name = data.draw(st.sampled_from(attr), label="write")
    value = Vec3d(7.0, 7.0, 7.0) if name in ("normal", "center") else 99.0
    return lambda: setattr(victim, name, value)


def draw_value(data, world, key):
    source = data.draw(st.sampled_from(["valid", "valid", "junk", "orvath", "reenter"]), label="source")
    if source == "valid":
        value = data.draw(VALID[key], label="valid")
    elif source == "junk":
        value = data.draw(junk(), label="junk")
    elif source == "orvath":
        pick = data.draw(st.sampled_from(["world", *INSTANCES]), label="orvath")
        if pick == "world" and world.objects:
            value = data.draw(st.sampled_from(world.objects), label="same object")
        else:
            value = data.draw(INSTANCES["Vec3d" if pick == "world" else pick])
    else:
        victim = (data.draw(st.sampled_from(world.objects), label="victim") if world.objects
                  else data.draw(INSTANCES["Vec3d"]))
        world.track(victim)
        value = Reenter(write_action(data, victim), data.draw(st.sampled_from([0, 1, 2, 3, -1, 2.5])),
                        label=type(victim).__name__, victim=victim)
    return world.track(value)


def draw_call(data, m, world):
    """(args, kwargs, alt) for member m."""
    if m.kind in ("get", "del"):
        return [], {}, False
    if m.kind == "set":
        return [draw_value(data, world, annotation_key(m.params[0][1]))], {}, False
    names = [p for p, _ in m.params]
    values = [draw_value(data, world, annotation_key(a)) for _, a in m.params]
    alt = m.kind in ("ctor", "static", "op") and data.draw(st.booleans(), label="alt")
    if m.kind == "op" and not alt:
        return values, {}, False
    shape = data.draw(st.sampled_from(["positional", "keywords", "mixed", "extra", "missing", "unknown",
                                       "duplicate"]), label="shape")
    if shape == "positional" or not names and shape in ("keywords", "mixed", "missing", "duplicate"):
        return values, {}, alt
    if shape == "keywords":
        return [], dict(zip(names, values)), alt
    if shape == "mixed":
        k = data.draw(st.integers(0, len(names)), label="positional count")
        return values[:k], dict(zip(names[k:], values[k:])), alt
    if shape == "extra":
        return values + [draw_value(data, world, "float")], {}, alt
    if shape == "missing":
        keep = data.draw(st.lists(st.booleans(), min_size=len(names), max_size=len(names)), label="keep")
        return [], {n: v for n, v, k in zip(names, values, keep) if k}, alt
    if shape == "unknown":
        bogus = data.draw(st.sampled_from(["bogus", "self", "cls", "value", "X", "other", "index"]), label="kw")
        kwargs = dict(zip(names, values))
        kwargs[bogus] = kwargs.get(bogus, 1.0) if bogus in names else 1.0
        return [], kwargs, alt
    i = data.draw(st.integers(0, len(names) - 1), label="duplicated")
    return values, {names[i]: values[i]}, alt


def receiver_strategy(m):
    if m.has_receiver or m.kind == "static":
        return INSTANCES[m.owner]
    return st.none()


def mutates_receiver(m):
    return m.kind == "set" or (m.owner, m.name) in MUTATORS or m.name == "__next__"


@pytest.mark.parametrize("m", MEMBERS, ids=[m.id for m in MEMBERS])
@settings(max_examples=30, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_hostile_call(m, data):
    world = World()
    receiver = world.track(data.draw(receiver_strategy(m), label="receiver"))
    args, kwargs, alt = draw_call(data, m, world)
    before = [(o, snapshot(o)) for o in world.objects]

    try:
        invoke(m, receiver, args, kwargs, alt=alt)
        exc = None
    except BaseException as e:  # noqa: B036 - the fault exception derives from BaseException
        exc = e
    if exc is not None:
        check_exception(m, exc)
    event(f"outcome: {type(exc).__name__ if exc is not None else 'returned'}")
    for r in world.reentrants:
        event(f"re-entrant write {'done' if r.done else 'refused or not reached'}")

    for o in world.objects:
        release_check(o)

    # A conversion method that ran while the call held its receiver must have
    # found the receiver borrowed (setters convert before they borrow).
    if m.has_receiver and m.kind != "set":
        assert not any(r.done and r.victim is receiver for r in world.reentrants), (m, args, kwargs)

    allowed = {id(r.victim) for r in world.reentrants if r.done}
    if exc is None and mutates_receiver(m):
        allowed.add(id(receiver))
    for o, old in before:
        if id(o) not in allowed:
            assert snapshot(o) == old, (m, o, args, kwargs, exc)


# ---------------------------------------------------------------------------
# The call table: every case leaves its objects free

def test_case_ids_are_unique():
    ids = [c.id for c in CASES]
    assert len(ids) == len(set(ids))


def test_every_member_has_a_successful_case():
    succeeding = {c.id.rsplit("-", 1)[0] for c in CASES if c.id.endswith("-plain") and c.expect is None}
    for m in MEMBERS:
        if m.kind == "del" or (m.kind == "set" and not m.settable) or not m.supported:
            continue
        assert m.id in succeeding, m


@pytest.mark.parametrize("case", CASES, ids=[c.id for c in CASES])
def test_every_call_leaves_its_objects_free(case):
    """After the call, whatever it raised, the receiver and every orvath
    argument take their exclusive borrow again: no path (an early
    NotImplemented, an error, a fault) keeps a borrow it took."""
    used = []
    assert outcome(lambda: case.run(watcher(used))) is case.expect
    for obj in used:
        release_check(obj)


# ---------------------------------------------------------------------------
# The same hazards, one by one, where the outcome is fixed

INT_MEMBERS = [m for m in MEMBERS if m.has_receiver and any(annotation_key(a) == "int" for _, a in m.params)]
FLOAT_OPERATORS = [m for m in MEMBERS if m.kind == "op" and any(annotation_key(a) == "float" for _, a in m.params)]


@pytest.mark.parametrize("m", INT_MEMBERS, ids=[m.id for m in INT_MEMBERS])
def test_index_conversion_cannot_write_the_receiver(m):
    """An __index__ that writes to the receiver meets the receiver's borrow:
    RuntimeError "Already borrowed", nothing written."""
    receiver = receiver_for(m)
    old = snapshot(receiver)
    write = (lambda: receiver.append(Vec3d(0.0, 0.0, 0.0))) if type(receiver) is VecList else \
        (lambda: setattr(receiver, "x", 42.0))
    args = [Reenter(write, 1) if annotation_key(a) == "int" else v for (_, a), v in zip(m.params, valid_args(m))]
    raises_exactly(RuntimeError, "Already borrowed", invoke, m, receiver, args)
    assert not args[[annotation_key(a) for _, a in m.params].index("int")].done
    assert snapshot(receiver) == old
    release_check(receiver)


@pytest.mark.parametrize("m", FLOAT_OPERATORS, ids=[m.id for m in FLOAT_OPERATORS])
@pytest.mark.parametrize("alt", [False, True], ids=["syntax", "slot"])
def test_float_conversion_cannot_write_the_receiver(m, alt):
    """An operand whose __float__ writes to the receiver: the write is refused,
    so the operand does not convert and the operator answers NotImplemented
    (the interpreter's TypeError through the syntax)."""
    receiver = receiver_for(m)
    old = snapshot(receiver)
    write = (lambda: receiver.append(Vec3d(0.0, 0.0, 0.0))) if type(receiver) is VecList else \
        (lambda: setattr(receiver, "angle" if type(receiver) is AngleRadians else "x", 42.0))
    operand = Reenter(write, 2)
    if alt:
        assert invoke(m, receiver, [operand], alt=True) is NotImplemented
    else:
        with pytest.raises(TypeError):
            invoke(m, receiver, [operand])
    assert not operand.done
    assert snapshot(receiver) == old
    release_check(receiver)


SETTERS = [m for m in MEMBERS if m.kind == "set" and m.settable
           and annotation_key(m.params[0][1]) == "float"]


@pytest.mark.parametrize("m", SETTERS, ids=[m.id for m in SETTERS])
def test_setter_converts_before_it_borrows(m):
    """The value converts first, so its __float__ may write to the same
    property; the setter then stores the converted value."""
    receiver = receiver_for(m)
    value = Reenter(lambda: setattr(receiver, m.name, 123.0), -2)
    setattr(receiver, m.name, value)
    assert value.done
    assert getattr(receiver, m.name) == -2.0


@pytest.mark.parametrize("length", [2**62, 2**63 - 1, 10**12])
def test_vec_list_length_hint_is_only_a_hint(length):
    """__len__ sizes nothing but the first allocation: a claim of 2**62
    elements over two real items builds a two-element list."""
    a, b = Vec3d(1.0, 2.0, 3.0), Vec3d(-1.0, 0.5, 2.0)
    vl = VecList(Seq([a, b], length=length))
    assert len(vl) == 2
    assert vl.to_array() == [[1.0, 2.0, 3.0], [-1.0, 0.5, 2.0]]


@pytest.mark.parametrize("error", [Hostile("len"), TypeError("len"), OverflowError("len")])
def test_vec_list_length_error_is_discarded(error):
    vl = VecList(Seq([Vec3d(1.0, 2.0, 3.0)], len_error=error))
    assert vl.to_array() == [[1.0, 2.0, 3.0]]


def test_vec_list_iteration_that_writes_its_items():
    """Items are copied as they are taken: a write to an item after it was
    yielded does not reach the list."""
    a = Vec3d(1.0, 2.0, 3.0)
    vl = VecList(SeqIterAction([a, a, a], lambda: setattr(a, "x", a.x + 1.0)))
    assert [row[0] for row in vl.to_array()] == [2.0, 3.0, 4.0]
    assert a.x == 4.0


@pytest.mark.parametrize("seq, exc, message", [
    (SeqIterRaises([Vec3d(0, 0, 0)] * 2, 1, Hostile("iter")), Hostile, "iter"),
    (SeqIterRaises([Vec3d(0, 0, 0)] * 2, 1, TypeError("iter")), TypeError, "argument 'list': iter"),
    (SeqIterNotIterator([]), TypeError, "argument 'list': iter() returned non-iterator of type 'int'"),
])
def test_vec_list_iteration_errors(seq, exc, message):
    raises_exactly(exc, message, VecList, seq)


KEYWORD_MEMBERS = [m for m in MEMBERS if m.kind in ("ctor", "static", "method", "function") and m.params]


@pytest.mark.parametrize("spell", [lambda n: (n + "?")[:-1], StrSub], ids=["built-at-run-time", "str-subclass"])
@pytest.mark.parametrize("m", KEYWORD_MEMBERS, ids=[m.id for m in KEYWORD_MEMBERS])
def test_keyword_names_are_matched_by_text(m, spell):
    """Keyword names that are not the interned parameter names (made at run
    time, or instances of a str subclass) name the same parameters."""
    def run(kwargs_of):
        receiver = receiver_for(m)
        args = valid_args(m)
        names = [p for p, _ in m.params]
        result = invoke(m, receiver, [], kwargs_of(names, args))
        return describe(result), snapshot(receiver)

    expected = run(lambda names, args: dict(zip(names, args)))
    assert run(lambda names, args: {spell(n): a for n, a in zip(names, args)}) == expected
