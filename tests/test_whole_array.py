"""VecList whole-array members: take, the pair members, the float arrays and
the copies, bit for bit against the Vec3d operations and the Python model, with
their exact errors and the lists' borrows."""
import copy
import threading

import pytest

from models import vec as vmodel
from support.helpers import raises_exactly
from support.oddities import Reenter
from test_bulk import O, make, raw, specimen, tag, tags

np = pytest.importorskip("numpy")
orvath = pytest.importorskip("orvath")
Vec3d, VecList = orvath.Vec3d, orvath.VecList

# member -> (call on two lists, model of entry i, Vec3d operation on the two elements)
PAIRS = {
    "add_each": (lambda a, b: a.add_each(b), vmodel.add, lambda u, v: u + v),
    "sub_each": (lambda a, b: a.sub_each(b), vmodel.sub, lambda u, v: u - v),
    "cross_each": (lambda a, b: a.cross_each(b), vmodel.cross, lambda u, v: u.cross(v)),
    "dot_each": (lambda a, b: a.dot_each(b), vmodel.dot, lambda u, v: u.dot(v)),
    "magnitude_array": (lambda a, b: a.magnitude_array(), lambda p, q: vmodel.magnitude(p), lambda u, v: u.magnitude()),
    **{f"{name}_array": (lambda a, b, name=name: getattr(a, f"{name}_array")(Vec3d(*O)),
                         lambda p, q, name=name: getattr(vmodel, name)(p, O),
                         lambda u, v, name=name: getattr(u, name)(Vec3d(*O)))
       for name in ("dot", "distance_to", "distance_squared")},
}


def entry_tags(result):
    if isinstance(result, VecList):
        return tags(result)
    view = memoryview(result)
    assert (view.readonly, view.format, view.ndim, view.c_contiguous) == (True, "d", 1, True)
    return [tag(x) for x in result.tolist()]


def tagged(x):
    if isinstance(x, Vec3d):
        x = (x.x, x.y, x.z)
    return tuple(map(tag, x)) if isinstance(x, tuple) else tag(x)


@pytest.mark.parametrize("n", [0, 3, 100000])
@pytest.mark.parametrize("member", sorted(PAIRS))
def test_entry_i_is_the_vec3d_operation_on_the_two_elements(member, n):
    call, model, single = PAIRS[member]
    p, q = specimen(n), specimen(n, seed=11)
    a, b = make(p), make(q)
    before = raw(a), raw(b)
    got = entry_tags(call(a, b))
    assert got == [tagged(model(x, y)) for x, y in zip(p, q)]
    assert got[:50] == [tagged(single(Vec3d(*x), Vec3d(*y))) for x, y in zip(p[:50], q[:50])]
    assert (raw(a), raw(b)) == before


def test_a_list_paired_with_itself():
    a = make(specimen(1000))
    assert tags(a.sub_each(a)) == [tuple(map(tag, vmodel.sub(p, p))) for p in specimen(1000)]


def test_float_arrays_are_numpy_views_that_cannot_be_written():
    m = make(specimen(10)).magnitude_array()
    arr = np.asarray(m)
    assert not arr.flags.owndata and not arr.flags.writeable and arr.dtype == np.float64
    assert np.asarray(m).ctypes.data == arr.ctypes.data and type(m[3]) is float
    raises_exactly(TypeError, "cannot modify read-only memory", m.__setitem__, 0, 1.0)


@pytest.mark.parametrize("member", ["add_each", "sub_each", "cross_each", "dot_each"])
def test_pair_errors(member):
    a = make(specimen(5))
    raises_exactly(ValueError, "expected a VecList of length 5, got 4", getattr(a, member), make(specimen(4)))
    raises_exactly(TypeError, "argument 'other': 'Vec3d' object is not an instance of 'VecList'",
                   getattr(a, member), Vec3d(1, 2, 3))


# ---------------------------------------------------------------------------
# take

INDEX_ARRAYS = [np.array([4, 0, 4, 2, 1], dtype=d) for d in ("i1", "u1", ">i2", "<u2", ">i4", "u4", "i8", ">u8")]


@pytest.mark.parametrize("indices", [
    [4, 0, 4, 2, 1], (4, 0, 4, 2, 1), range(1, 4), range(4, -1, -2), bytes([4, 0, 4]), *INDEX_ARRAYS,
    np.arange(20)[::-4] % 5, np.array([[0, 4], [1, 3]])[:, 1], np.array([], dtype=np.int64)],
    ids=lambda x: type(x).__name__ + str(getattr(x, "dtype", "")))
def test_take_gathers_in_the_given_order(indices):
    points = specimen(5)
    assert raw(make(points).take(indices)) == raw(make([points[i] for i in list(indices)]))


def test_take_on_the_pool():
    points = specimen(100000)
    idx = np.random.default_rng(5).integers(0, len(points), 300000)
    assert raw(make(points).take(idx)) == raw(make([points[i] for i in idx.tolist()]))


@pytest.mark.parametrize("indices, exc, message", [
    ([0, 1, 2, 7, 9], IndexError, "index 7 at position 3 is out of range for a VecList of length 5"),
    (np.array([0, 5, -1], dtype=">i2"), IndexError, "index 5 at position 1 is out of range for a VecList of length 5"),
    (range(2, 7), IndexError, "index 5 at position 3 is out of range for a VecList of length 5"),
    (range(9, 0, -1), IndexError, "index 9 at position 0 is out of range for a VecList of length 5"),
    (range(4, -3, -2), OverflowError, "index -2 at position 3 is negative (can't convert negative int to unsigned)"),
    ([2**64 + 1], IndexError, "index 18446744073709551617 at position 0 is out of range for a VecList of length 5"),
    (np.array([0, 0, -128], dtype=np.int8), OverflowError,
     "index -128 at position 2 is negative (can't convert negative int to unsigned)"),
    (np.array([-2**63]), OverflowError,
     "index -9223372036854775808 at position 0 is negative (can't convert negative int to unsigned)"),
    ([1, -1], OverflowError, "index -1 at position 1 is negative (can't convert negative int to unsigned)"),
    (np.zeros((2, 2), dtype=int), ValueError, "expected a 1-D array of indices, got (2, 2)"),
    (np.zeros(2), TypeError, "argument 'indices': expected an array of integers, got format 'd'"),
    (np.zeros(2, dtype=bool), TypeError, "argument 'indices': expected an array of integers, got format '?'"),
    ([0, 1.0], TypeError, "argument 'indices': 'float' object cannot be interpreted as an integer"),
    (1.5, TypeError, "argument 'indices': 'float' object is not an instance of 'Sequence'"),
])
def test_take_errors(indices, exc, message):
    raises_exactly(exc, message, make(specimen(5)).take, indices)


def test_take_reports_the_lowest_bad_position_across_chunks():
    idx = np.zeros(1000000, dtype=np.int64)
    idx[[999999, 700001, 300007]] = [-3, 11, 10]
    raises_exactly(IndexError, "index 10 at position 300007 is out of range for a VecList of length 10",
                   make(specimen(10)).take, idx)


def test_take_reads_a_snapshot_of_its_indices():
    indices = [3, 0, 2]
    indices[1] = Reenter(indices.clear, 1)
    points = specimen(5)
    assert raw(make(points).take(indices)) == raw(make([points[3], points[1], points[2]]))
    assert indices == []


def test_take_index_that_grows_the_list_meets_the_borrow():
    vl = make(specimen(5))
    before = raw(vl)
    raises_exactly(RuntimeError, "Already borrowed", vl.take, [0, Reenter(lambda: vl.append(Vec3d(0, 0, 0)))])
    assert raw(vl) == before
    vl.append(Vec3d(0, 0, 0))  # free to write again


# ---------------------------------------------------------------------------
# Copies and threads


@pytest.mark.parametrize("how", [copy.copy, copy.deepcopy, lambda vl: vl.__deepcopy__(memo={})])
def test_copies_keep_every_bit_and_are_independent(how):
    vl = make(specimen(3000))
    c = how(vl)
    assert type(c) is VecList and c is not vl and raw(c) == raw(vl)
    c.append(Vec3d(0, 0, 0))
    assert len(vl) == 3000
    raises_exactly(TypeError, "argument 'memo': 'list' object is not an instance of 'dict'", vl.__deepcopy__, [])


def fingerprint(vl):
    """The bits of every component, any NaN alike."""
    arr = np.asarray(vl)
    out = arr.view(np.uint64).copy()
    out[np.isnan(arr)] = 0
    return out.tobytes()


def test_threads_pairing_and_gathering_the_same_lists():
    a, b = make(specimen(50000)), make(specimen(50000, seed=2))
    idx = np.arange(50000)[::-1]
    expected = fingerprint(a.cross_each(b)), fingerprint(a.take(idx))
    assert expected[1] == fingerprint(VecList.from_array(np.asarray(a)[::-1]))
    failures = []

    def work():
        try:
            for _ in range(5):
                assert (fingerprint(a.cross_each(b)), fingerprint(a.take(idx))) == expected
        except BaseException as e:  # pragma: no cover - reported below
            failures.append(e)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
