"""VecList as a container and VecListIterator: construction from sequences and
its errors, length, indexing, the list property, snapshot iteration, append,
extend, the text form, borrow conflicts from re-entrant code, and reference
counts."""
import ctypes
import math
import sys

import pytest
from hypothesis import given, settings, strategies as st

from models import vec_list as model
from models.bits import bits, doubles
from support.helpers import constructor_paths, raises_exactly, vt
from support.oddities import Indexy, Reenter, SeqByIndex, SeqIterRaises, StrSub

orvath = pytest.importorskip("orvath")
Vec3d = orvath.Vec3d
VecList = orvath.VecList

triples = st.tuples(doubles, doubles, doubles)


def pattern(points):
    """Bit patterns of every component, so NaN payloads and -0.0 count."""
    return [tuple(bits(c) for c in p) for p in points]


def contents(vl):
    return [vt(v) for v in vl.list]


POINTS = [(1.0, 2.0, 3.0), (0.5, -0.0, 1e20), (-4.25, math.inf, 7.0)]


def make(points=POINTS):
    return VecList([Vec3d(*p) for p in points])


constructors = constructor_paths(VecList, "construct")


# ---------------------------------------------------------------------------
# Construction


@constructors
@settings(max_examples=100)
@given(points=st.lists(triples, max_size=20))
def test_elements_are_exact_copies_in_order(construct, points):
    for source in (list, tuple, SeqByIndex):
        vl = construct(source([Vec3d(*p) for p in points]))
        assert type(vl) is VecList and len(vl) == len(points)
        assert pattern(contents(vl)) == pattern(points)


@constructors
@pytest.mark.parametrize("source", [[], (), SeqByIndex([]), b""], ids=["list", "tuple", "seq", "bytes"])
def test_empty_sequences(construct, source):
    vl = construct(source)
    assert len(vl) == 0 and not vl and vl.list == [] and list(vl) == [] and repr(vl) == "[]"


def test_keyword_and_empty():
    assert contents(VecList(list=[Vec3d(1, 2, 3)])) == [(1.0, 2.0, 3.0)]
    e = VecList.empty()
    assert type(e) is VecList and len(e) == 0 and repr(e) == "[]"
    assert VecList.empty() is not e


def test_length_is_only_a_capacity_hint():
    items = [Vec3d(*p) for p in POINTS]
    # __len__ failing, understating and overstating changes nothing.
    for seq in (SeqByIndex(items, len_error=ValueError("no length")), SeqByIndex(items, length=0),
                SeqByIndex(items, length=1), SeqByIndex(items, length=10**6)):
        assert contents(VecList(seq)) == contents(make())


def test_copy_of_another_list_is_independent():
    a = make()
    b = VecList(a)
    a.append(Vec3d(9, 9, 9))
    b.append(Vec3d(8, 8, 8))
    assert contents(a)[:3] == contents(b)[:3] == contents(make())
    assert vt(a[3]) == (9.0, 9.0, 9.0) and vt(b[3]) == (8.0, 8.0, 8.0)


def test_later_changes_to_items_do_not_reach_the_list():
    a, b = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    vl = VecList((a, b))
    a.x = 100.0
    assert contents(vl) == [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)]


def generator():
    yield Vec3d(1, 2, 3)


@constructors
@pytest.mark.parametrize("arg, exc, message", [
    ("ab", TypeError, "argument 'list': Can't extract `str` to `Vec`"),
    ("", TypeError, "argument 'list': Can't extract `str` to `Vec`"),
    (StrSub("x"), TypeError, "argument 'list': Can't extract `str` to `Vec`"),
    (5, TypeError, "argument 'list': 'int' object is not an instance of 'Sequence'"),
    (None, TypeError, "argument 'list': 'None' is not an instance of 'Sequence'"),
    ({Vec3d(1, 2, 3)}, TypeError, "argument 'list': 'set' object is not an instance of 'Sequence'"),
    ({0: Vec3d(1, 2, 3)}, TypeError, "argument 'list': 'dict' object is not an instance of 'Sequence'"),
    (generator(), TypeError, "argument 'list': 'generator' object is not an instance of 'Sequence'"),
    ([Vec3d(1, 2, 3), 1], TypeError, "argument 'list': 'int' object is not an instance of 'Vec3d'"),
    ([None], TypeError, "argument 'list': 'None' is not an instance of 'Vec3d'"),
    ((Vec3d(1, 2, 3), (1, 2, 3)), TypeError, "argument 'list': 'tuple' object is not an instance of 'Vec3d'"),
    (b"\x01", TypeError, "argument 'list': 'int' object is not an instance of 'Vec3d'"),
    ([VecList([])], TypeError, "argument 'list': 'VecList' object is not an instance of 'Vec3d'"),
    (SeqIterRaises([Vec3d(1, 2, 3)], 1, TypeError("boom")), TypeError, "argument 'list': boom"),
    (SeqIterRaises([Vec3d(1, 2, 3)], 1, ValueError("boom")), ValueError, "boom"),
    (SeqIterRaises([], 0, OverflowError("big")), OverflowError, "big"),
])
def test_construction_errors(construct, arg, exc, message):
    raises_exactly(exc, message, lambda: construct(arg))


def test_iterator_error_keeps_its_cause():
    cause = KeyError("root")
    err = TypeError("boom")
    err.__cause__ = cause
    e = raises_exactly(TypeError, "argument 'list': boom", lambda: VecList(SeqIterRaises([], 0, err)))
    assert e.__cause__ is cause


@constructors
@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "VecList.__new__() missing 1 required positional argument: 'list'"),
    (([], []), {}, "VecList.__new__() takes 1 positional arguments but 2 were given"),
    (([],), {"list": []}, "VecList.__new__() got multiple values for argument 'list'"),
    ((), {"items": []}, "VecList.__new__() got an unexpected keyword argument 'items'"),
])
def test_constructor_arguments(construct, args, kwargs, message):
    raises_exactly(TypeError, message, lambda: construct(*args, **kwargs))


def test_class_is_final_and_has_no_dict():
    with pytest.raises(TypeError):
        type("Sub", (VecList,), {})
    vl = make()
    with pytest.raises(AttributeError):
        vl.foo = 1
    # Identity equality and hashing.
    assert make() != make() and vl == vl and hash(vl) == hash(vl)


# ---------------------------------------------------------------------------
# Length, indexing, list property


def test_length_and_truth():
    assert len(make()) == 3 and bool(make()) and not VecList([])


@settings(max_examples=100)
@given(points=st.lists(triples, min_size=1, max_size=10), data=st.data())
def test_indexing_returns_copies(points, data):
    vl = make(points)
    i = data.draw(st.integers(0, len(points) - 1))
    for key in (i, Indexy(i)):
        v = vl[key]
        assert type(v) is Vec3d and pattern([vt(v)]) == pattern([points[i]])
        v.x = 123.0
        assert pattern([vt(vl[i])]) == pattern([points[i]])


@pytest.mark.parametrize("key, exc, message", [
    (3, IndexError, "Index out of bounds"),
    (2**63, IndexError, "Index out of bounds"),
    (2**64 - 1, IndexError, "Index out of bounds"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, "int too big to convert"),
    ("a", TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
    (1.0, TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
    (slice(0, 2), TypeError, "argument 'index': 'slice' object cannot be interpreted as an integer"),
    (None, TypeError, "argument 'index': 'NoneType' object cannot be interpreted as an integer"),
])
def test_index_errors(key, exc, message):
    raises_exactly(exc, message, lambda: make()[key])


def test_bool_index_and_index_out_of_bounds_for_empty():
    assert vt(make()[True]) == POINTS[1]
    raises_exactly(IndexError, "Index out of bounds", lambda: VecList([])[0])


def test_sequence_item_slot_forwards_positions():
    get = ctypes.pythonapi.PySequence_GetItem
    get.restype = ctypes.py_object
    get.argtypes = [ctypes.py_object, ctypes.c_ssize_t]
    vl = make()
    assert vt(get(vl, 2)) == POINTS[2]
    raises_exactly(IndexError, "Index out of bounds", lambda: get(vl, 3))
    # No length slot of the sequence kind: -1 reaches the conversion as is.
    raises_exactly(OverflowError, "can't convert negative int to unsigned", lambda: get(vl, -1))


def test_index_conversion_runs_under_the_list_borrow():
    vl = make()
    seen = []

    def mutate():
        try:
            vl.append(Vec3d(0, 0, 0))
        except RuntimeError as e:
            seen.append(str(e))
        vl.append(Vec3d(0, 0, 0))

    raises_exactly(RuntimeError, "Already borrowed", lambda: vl[Reenter(mutate, 0)])
    assert seen == ["Already borrowed"] and contents(vl) == contents(make())


def test_list_property():
    vl = make()
    first, second = vl.list, vl.list
    assert type(first) is list and [vt(v) for v in first] == [vt(v) for v in second]
    assert all(a is not b for a, b in zip(first, second))
    first[0].x = 42.0
    assert contents(vl) == contents(make())
    with pytest.raises(AttributeError):
        vl.list = []
    with pytest.raises(AttributeError):
        del vl.list


# ---------------------------------------------------------------------------
# Iteration


def test_iteration_walks_a_snapshot():
    vl = make()
    it = iter(vl)
    vl.append(Vec3d(7, 7, 7))
    vl.extend(make())
    vl.rotate(orvath.Quat(0, 0, 0, 1))
    assert [vt(v) for v in it] == POINTS
    assert len(vl) == 7


def test_exhausted_iterator_stays_exhausted():
    it = iter(make(POINTS[:1]))
    assert vt(next(it)) == POINTS[0]
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(it)
        with pytest.raises(StopIteration):
            it.__next__()
    assert list(it) == []


def test_iterator_class():
    it = iter(make())
    cls = type(it)
    assert cls.__name__ == "VecListIterator" and cls.__module__ == "builtins" and cls.__doc__ is None
    assert iter(it) is it and it.__iter__() is it
    assert not hasattr(orvath, "VecListIterator")
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # Every list makes its own iterator, of the one class.
    assert type(iter(VecList([]))) is cls and iter(make()) is not it


def test_iterator_survives_its_list():
    vl = make()
    it = iter(vl)
    del vl
    assert [vt(v) for v in it] == POINTS


def test_membership_falls_back_to_iteration_with_tolerance():
    vl = make()
    assert Vec3d(1, 2, 3 + 1e-17) in vl
    assert Vec3d(1, 2, 4) not in vl


# ---------------------------------------------------------------------------
# append and extend


def test_append_many_keeps_order():
    vl = VecList([])
    points = [(float(i), -float(i), i * 0.5) for i in range(5000)]
    for p in points:
        assert vl.append(Vec3d(*p)) is None
    assert contents(vl) == points
    v = Vec3d(1, 1, 1)
    vl.append(vec=v)
    v.x = 5.0
    assert vt(vl[5000]) == (1.0, 1.0, 1.0)


@pytest.mark.parametrize("call, exc, message", [
    (lambda vl: vl.append(1), TypeError, "argument 'vec': 'int' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.append(None), TypeError, "argument 'vec': 'None' is not an instance of 'Vec3d'"),
    (lambda vl: vl.append(make()), TypeError, "argument 'vec': 'VecList' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.append(), TypeError, "VecList.append() missing 1 required positional argument: 'vec'"),
    (lambda vl: vl.append(Vec3d(0, 0, 0), Vec3d(0, 0, 0)), TypeError,
     "VecList.append() takes 1 positional arguments but 2 were given"),
    (lambda vl: vl.append(v=Vec3d(0, 0, 0)), TypeError, "VecList.append() got an unexpected keyword argument 'v'"),
    (lambda vl: vl.extend([Vec3d(0, 0, 0)]), TypeError,
     "argument 'other': 'list' object is not an instance of 'VecList'"),
    (lambda vl: vl.extend(None), TypeError, "argument 'other': 'None' is not an instance of 'VecList'"),
    (lambda vl: vl.extend(Vec3d(0, 0, 0)), TypeError,
     "argument 'other': 'Vec3d' object is not an instance of 'VecList'"),
    (lambda vl: vl.extend(vl), RuntimeError, "Already mutably borrowed"),
    (lambda vl: vl.extend(other=vl), RuntimeError, "Already mutably borrowed"),
    (lambda vl: vl.extend(), TypeError, "VecList.extend() missing 1 required positional argument: 'other'"),
])
def test_mutator_errors_leave_the_list_unchanged(call, exc, message):
    vl = make()
    raises_exactly(exc, message, lambda: call(vl))
    assert pattern(contents(vl)) == pattern(POINTS)


@settings(max_examples=100)
@given(a=st.lists(triples, max_size=12), b=st.lists(triples, max_size=12))
def test_extend_appends_copies_in_order(a, b):
    left, right = make(a), make(b)
    assert left.extend(right) is None
    assert pattern(contents(left)) == pattern(a + b)
    assert pattern(contents(right)) == pattern(b)
    right.append(Vec3d(0, 0, 0))
    assert len(left) == len(a) + len(b)


def test_extend_with_a_copy_of_itself():
    vl = make()
    vl.extend(VecList(vl))
    assert contents(vl) == POINTS + POINTS


# ---------------------------------------------------------------------------
# Text form


@pytest.mark.parametrize("points, text", [
    ([], "[]"),
    ([(1.0, 2.0, 3.0), (0.5, -0.0, 1e20)], "[Vec3d(1, 2, 3)\nVec3d(0.5, -0, 100000000000000000000)]"),
    ([(1.0, -0.0, math.inf)], "[Vec3d(1, -0, inf)]"),
    ([(math.nan, -math.nan, -math.inf)], "[Vec3d(NaN, NaN, -inf)]"),
    ([(0.1 + 0.2, 1e-7, 5e-324)], "[Vec3d(0.30000000000000004, 0.0000001, 0." + "0" * 323 + "5)]"),
])
def test_repr(points, text):
    vl = make(points)
    assert repr(vl) == text and str(vl) == text
    assert repr(vl).count("\n") == max(len(points) - 1, 0)


@settings(max_examples=100)
@given(points=st.lists(triples, max_size=8))
def test_repr_matches_model(points):
    assert repr(make(points)) == model.text(points)


def test_repr_of_a_long_list_is_joined_in_order():
    # Long enough to be formatted in several chunks.
    points = [(i * 0.1, -i / 7.0, float(i) * 1e15) for i in range(20000)]
    vl = make(points)
    assert repr(vl) == model.text(points)


# ---------------------------------------------------------------------------
# Reference counts


def test_no_references_are_kept_or_leaked():
    items = [Vec3d(*p) for p in POINTS]
    source = list(items)
    before = [sys.getrefcount(v) for v in items] + [sys.getrefcount(source)]
    vl = VecList(source)
    vl.append(items[0])
    vl.extend(VecList(source))
    with pytest.raises(TypeError):
        VecList([items[0], 1])
    with pytest.raises(TypeError):
        VecList((items[1], None))
    with pytest.raises(TypeError):
        vl.append(source)
    after = [sys.getrefcount(v) for v in items] + [sys.getrefcount(source)]
    assert before == after


def test_results_are_fresh_objects():
    vl = make()
    # A temporary passed straight to getrefcount has that one reference.
    assert sys.getrefcount(vl[0]) == 1
    assert sys.getrefcount(vl.list) == 1
    assert sys.getrefcount(iter(vl)) == 1
    assert sys.getrefcount(VecList(vl)) == 1
    assert sys.getrefcount(VecList.empty()) == 1
    it = iter(vl)
    count = sys.getrefcount(it)
    assert sys.getrefcount(next(it)) == 1
    again = iter(it)
    assert again is it and sys.getrefcount(it) == count + 1
    del again
    assert sys.getrefcount(it) == count
    items = vl.list
    assert sys.getrefcount(items[0]) == 2 and sys.getrefcount(items[2]) == 2
