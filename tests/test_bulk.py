"""VecList bulk operations: every member element for element against the Vec3d
(and Quat) method and against the pure-Python model, bit for bit, at several
sizes and worker-thread counts; the failure table; the nearest-element search;
the operators under the NotImplemented rule; re-entrant conversions; several
calling threads; reference counts."""
import functools
import math
import os
import random
import subprocess
import sys
import threading

import pytest
from hypothesis import given, settings, strategies as st

from models import quat as qmodel
from models import vec as vmodel
from models import vec_list as model
from models.bits import SPECIAL, bits, doubles, same, same_seq
from support.helpers import raises_exactly, vt
from support.oddities import Floaty, Indexy, Reenter

orvath = pytest.importorskip("orvath")
Vec3d = orvath.Vec3d
VecList = orvath.VecList
Quat = orvath.Quat

triples = st.tuples(doubles, doubles, doubles)
quads = st.tuples(doubles, doubles, doubles, doubles)


def fault(message, call):
    """The panic exception: a direct BaseException subclass, not an Exception."""
    with pytest.raises(BaseException) as info:
        try:
            call()
        except Exception:  # pragma: no cover - must not be caught here
            pytest.fail("the panic was caught as an Exception")
    assert type(info.value).__bases__ == (BaseException,)
    assert str(info.value) == message


def make(points):
    return VecList([Vec3d(*p) for p in points])


def raw(vl):
    """Exact bit patterns of a VecList's elements."""
    return [tuple(bits(c) for c in p) for p in vl.to_array()]


def tag(x):
    """The bit pattern of a computed double; any NaN matches any NaN, since
    which NaN an operation on two NaNs returns is the hardware's and the
    compiler's choice (see models.bits.same)."""
    return "NaN" if math.isnan(x) else bits(x)


def tags(vl):
    return [tuple(tag(c) for c in p) for p in vl.to_array()]


@functools.lru_cache(maxsize=None)
def specimen(n, seed=7):
    """n points mixing ordinary values with every special double."""
    rng = random.Random(seed)
    pool = SPECIAL + [-x for x in SPECIAL]
    out = []
    for i in range(n):
        if i % 5 == 0:
            out.append(tuple(rng.choice(pool) for _ in range(3)))
        else:
            out.append(tuple(rng.uniform(-1e3, 1e3) for _ in range(3)))
    return tuple(out)


O = (0.25, -0.5, 0.75)
Q = (0.9, 0.1, -0.3, 0.2)
S = 2.5

# member -> (call on the list, per-element result from the Vec3d/Quat methods,
#            kind of result)
MEMBERS = {
    "dot": (lambda vl: vl.dot(Vec3d(*O)), lambda v: v.dot(Vec3d(*O)), "float"),
    "magnitude": (lambda vl: vl.magnitude(), lambda v: v.magnitude(), "float"),
    "distance_to": (lambda vl: vl.distance_to(Vec3d(*O)), lambda v: v.distance_to(Vec3d(*O)), "float"),
    "distance_squared": (lambda vl: vl.distance_squared(Vec3d(*O)),
                         lambda v: v.distance_squared(Vec3d(*O)), "float"),
    "is_unit": (lambda vl: vl.is_unit(), lambda v: v.is_unit(), "bool"),
    "to_array": (lambda vl: vl.to_array(), lambda v: v.to_array(), "row"),
    "cross": (lambda vl: vl.cross(Vec3d(*O)), lambda v: v.cross(Vec3d(*O)), "vec"),
    "normalize": (lambda vl: vl.normalize(), lambda v: v.normalize(), "vec"),
    "add": (lambda vl: vl + Vec3d(*O), lambda v: v + Vec3d(*O), "vec"),
    "sub": (lambda vl: vl - Vec3d(*O), lambda v: v - Vec3d(*O), "vec"),
    "mul": (lambda vl: vl * S, lambda v: v * S, "vec"),
    "rmul": (lambda vl: S * vl, lambda v: S * v, "vec"),
    "div": (lambda vl: vl / S, lambda v: v / S, "vec"),
    "div0": (lambda vl: vl / -0.0, lambda v: v / -0.0, "vec"),
    "rotate": (lambda vl: (vl.rotate(Quat(*Q)), vl)[1], lambda v: Quat(*Q).rotate(v), "vec"),
}


def entries(kind, result):
    """Bit patterns of a bulk result, entry by entry."""
    if kind == "float":
        assert type(result) is list and all(type(x) is float for x in result)
        return [tag(x) for x in result]
    if kind == "bool":
        assert type(result) is list and all(type(x) is bool for x in result)
        return list(result)
    if kind == "row":
        assert type(result) is list and all(type(r) is list and len(r) == 3 for r in result)
        return [tuple(bits(c) for c in r) for r in result]
    assert type(result) is VecList
    return tags(result)


def single(kind, r):
    if kind == "float":
        return tag(r)
    if kind == "bool":
        return r
    if kind == "row":
        return tuple(bits(c) for c in r)
    return tuple(tag(c) for c in vt(r))


# ---------------------------------------------------------------------------
# Entry i is the single-object method on element i


@pytest.mark.parametrize("n", [0, 1, 2, 3, 1000, 100000])
@pytest.mark.parametrize("member", sorted(MEMBERS))
def test_entry_i_is_the_method_on_element_i(member, n):
    bulk, one, kind = MEMBERS[member]
    points = specimen(n)
    vl = make(points)
    before = raw(vl)
    result = bulk(vl)
    expected = [single(kind, one(Vec3d(*p))) for p in points]
    assert entries(kind, result) == expected
    if member != "rotate":
        assert raw(vl) == before


@pytest.mark.parametrize("n", [0, 1, 1000, 100000])
@pytest.mark.parametrize("axis", [0, 1, 2])
def test_collapse_entries(axis, n):
    points = specimen(n)
    vl = make(points)
    expected = [tuple(bits(c) for c in model.collapse(p, axis)) for p in points]
    assert raw(vl.collapse(axis)) == expected
    assert raw(vl.collapse(axis=axis)) == expected


# The same results, whatever the number of workers and however the pool cuts
# the work: a child process prints a digest of every bulk result.
# repr() of a float is exact except that every NaN reads "nan", which is the
# comparison wanted here.
DIGEST_SCRIPT = r"""
import hashlib, math, random
from orvath import Quat, Vec3d, VecList
rng = random.Random(5)
special = [0.0, -0.0, 1.0, math.inf, -math.inf, math.nan, -math.nan, 5e-324, 1.34e154, 1.79e308]
o, q = Vec3d(0.25, -0.5, 0.75), Quat(0.9, 0.1, -0.3, 0.2)
# A VecList's repr is exact (shortest round-trip digits) but for NaN, and cheap.
finite = lambda l: VecList.from_array([[c if math.isfinite(c) else -1e300 for c in r] for r in l.to_array()])
calls = [lambda l: l.dot(o), lambda l: l.magnitude(), lambda l: l.is_unit(), lambda l: l.distance_to(o),
         lambda l: l.distance_squared(o), lambda l: l.cross(o), lambda l: l.normalize(), lambda l: l + o,
         lambda l: l - o, lambda l: l * 2.5, lambda l: l / 3.0, lambda l: l.collapse(1),
         lambda l: (l.rotate(q), l)[1], lambda l: [l.minimum_distance_to(o, s) for s in (1, 2, 3, 7, 1000)],
         lambda l: (l.sum(), l.mean(), l.bounds()), lambda l: (finite(l).sum(), finite(l).mean(), finite(l).bounds())]
h = hashlib.sha256()
for n in (1, 3, 1000, 120000):
    vl = VecList([Vec3d(*(rng.choice(special) if rng.random() < 0.1 else rng.uniform(-1e3, 1e3)
                          for _ in range(3))) for _ in range(n)])
    for call in calls:
        h.update(repr(call(VecList(vl))).encode())
print(h.hexdigest())
"""


def start_digest(threads):
    env = dict(os.environ)
    env.pop("ORVATH_NUM_THREADS", None)
    if threads is not None:
        env["ORVATH_NUM_THREADS"] = str(threads)
    env["PYTHONPATH"] = os.path.dirname(orvath.__file__)
    return subprocess.Popen([sys.executable, "-c", DIGEST_SCRIPT],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def test_results_do_not_depend_on_the_thread_count():
    children = {t: start_digest(t) for t in (None, 1, 2, 5)}
    digests = {}
    for t, child in children.items():
        out, err = child.communicate(timeout=600)
        assert child.returncode == 0, err
        digests[t] = out.strip()
    assert len(set(digests.values())) == 1, digests


def test_long_vector_results_match_the_short_ones():
    # A long list of one repeated block, cut into many chunks, must give the
    # block's result (checked element-wise above) at every position: sampled
    # at both ends, around every possible chunk edge, and at random.
    n, k = 750_000, 1000
    piece = make(specimen(k))
    whole = VecList.empty()
    for _ in range(n // k):
        whole.extend(piece)
    rng = random.Random(11)
    edges = {n * j // 64 + d for j in range(65) for d in range(-3, 4)}
    sample = sorted(i for i in edges | set(range(300)) | set(range(n - 300, n)) | {rng.randrange(n) for _ in range(2000)}
                    if 0 <= i < n)
    calls = {m: MEMBERS[m][0] for m in ("cross", "normalize", "add", "sub", "mul", "rmul", "div", "rotate")}
    calls["collapse"] = lambda vl: vl.collapse(2)
    for member, call in calls.items():
        short = tags(call(VecList(piece)))
        long = call(VecList(whole))
        assert len(long) == n
        assert [tuple(tag(c) for c in vt(long[i])) for i in sample] == [short[i % k] for i in sample], member


# ---------------------------------------------------------------------------
# Against the pure-Python model


def model_vec(kind, points):
    return [tuple(bits(c) for c in p) for p in points] if kind == "vec" else points


@settings(max_examples=200)
@given(points=st.lists(triples, max_size=12), o=triples, s=doubles)
def test_members_match_the_model(points, o, s):
    vl = make(points)
    ov = Vec3d(*o)
    checks = [
        (vl.dot(ov), [vmodel.dot(p, o) for p in points]),
        (vl.magnitude(), [vmodel.magnitude(p) for p in points]),
        (vl.distance_to(ov), [vmodel.distance_to(p, o) for p in points]),
        (vl.distance_squared(ov), [vmodel.distance_squared(p, o) for p in points]),
    ]
    for got, want in checks:
        assert same_seq(got, want)
    assert vl.is_unit() == [vmodel.is_unit(p) for p in points]
    vectors = [
        (vl.cross(ov), [vmodel.cross(p, o) for p in points]),
        (vl.normalize(), [vmodel.normalize(p) for p in points]),
        (vl + ov, [vmodel.add(p, o) for p in points]),
        (vl - ov, [vmodel.sub(p, o) for p in points]),
        (vl * s, [vmodel.scale(p, s) for p in points]),
        (s * vl, [vmodel.scale(p, s) for p in points]),
        (vl / s, [vmodel.divide(p, s) for p in points]),
    ]
    for got, want in vectors:
        assert type(got) is VecList and len(got) == len(want)
        assert all(same_seq(g, w) for g, w in zip(got.to_array(), want))


@settings(max_examples=200)
@given(points=st.lists(triples, max_size=12), q=quads)
def test_rotate_matches_the_model(points, q):
    vl = make(points)
    assert vl.rotate(Quat(*q)) is None
    assert len(vl) == len(points)
    assert all(same_seq(g, qmodel.rotate(q, p)) for g, p in zip(vl.to_array(), points))


@settings(max_examples=200)
@given(points=st.lists(triples, min_size=1, max_size=40), o=triples, stride=st.integers(1, 45))
def test_minimum_distance_to_matches_the_model(points, o, stride):
    index, distance = make(points).minimum_distance_to(Vec3d(*o), stride)
    want_index, want_distance = model.minimum_distance_to(points, o, stride)
    assert type(index) is int and type(distance) is float
    assert index == want_index and same(distance, want_distance)


@settings(max_examples=50)
@given(seed=st.integers(0, 2**32), stride=st.sampled_from([1, 2, 3, 50, 999, 5000, 2**64 - 1]))
def test_minimum_distance_to_on_long_lists(seed, stride):
    # Long lists against the model, every stride kind; that the pool splits
    # such searches, and still agrees with the model, is checked by the core
    # tests (tests/cpp/bulk_test.cpp), which can see the chunk count.
    rng = random.Random(seed)
    points = [(rng.uniform(-100, 100), rng.uniform(-100, 100), rng.uniform(-100, 100)) for _ in range(20000)]
    o = (rng.uniform(-100, 100), 0.0, 1.0)
    index, distance = make(points).minimum_distance_to(Vec3d(*o), stride)
    want_index, want_distance = model.minimum_distance_to(points, o, stride)
    assert (index, bits(distance)) == (want_index, bits(want_distance))


# ---------------------------------------------------------------------------
# Nearest-element search: concrete cases


def test_neighbourhood_of_the_best_sample_only():
    vl = make([(4, 0, 0), (9, 0, 0), (9, 0, 0), (9, 0, 0), (9, 0, 0), (1, 0, 0)])
    assert vl.minimum_distance_to(Vec3d(0, 0, 0), 2) == (0, 4.0)
    assert vl.minimum_distance_to(Vec3d(0, 0, 0), 1) == (5, 1.0)
    assert vl.minimum_distance_to(other=Vec3d(0, 0, 0), stride=6) == (5, 1.0)


@pytest.mark.parametrize("stride", [1, 5, 10, 2**64 - 1])
def test_stride_one_or_at_least_the_length_finds_the_nearest(stride):
    vl = make([(5, 0, 0), (3, 0, 0), (-2, 0, 0), (4, 0, 0), (2, 0, 0)])
    assert vl.minimum_distance_to(Vec3d(0, 0, 0), stride) == (2, 2.0)


@pytest.mark.parametrize("stride", [1, 3, 7])
def test_one_element(stride):
    assert make([(3, 4, 0)]).minimum_distance_to(Vec3d(0, 0, 0), stride) == (0, 5.0)


@pytest.mark.parametrize("points, o, expected", [
    # Ties go to the lower index.
    ([(1, 0, 0), (0, 1, 0), (0, 0, 1)], (0, 0, 0), (0, 1.0)),
    ([(5, 0, 0), (0, -2, 0), (2, 0, 0)], (0, 0, 0), (1, 2.0)),
    # -0.0 and 0.0 differences both square to +0.0: equal keys, lower index.
    ([(1, 1, 1), (-0.0, 0, 0), (0.0, -0.0, 0)], (0, 0, 0), (1, 0.0)),
    # A NaN key with the sign bit clear sorts above +inf: never chosen over a number.
    ([(math.nan, 0, 0), (math.inf, 0, 0), (3, 4, 0)], (0, 0, 0), (2, 5.0)),
    ([(math.nan, 0, 0), (math.inf, 0, 0)], (0, 0, 0), (1, math.inf)),
    # With the sign bit set it sorts below everything, even +0.0.
    ([(0, 0, 0), (-math.nan, 0, 0), (1, 0, 0)], (0, 0, 0), (1, math.nan)),
    # inf - inf is the default NaN, whose sign bit is set on x86-64.
    ([(1, 0, 0), (math.inf, 0, 0)], (math.inf, 0, 0), "model"),
])
def test_total_order_keys(points, o, expected):
    index, distance = make(points).minimum_distance_to(Vec3d(*o), 1)
    if expected == "model":
        expected = model.minimum_distance_to(points, o, 1)
    assert index == expected[0] and same(distance, expected[1])


def test_ties_across_chunks_keep_the_lowest_index():
    # Many equal keys spread over a long list: the lowest index wins.
    points = [(3.0, 4.0, 0.0) if i % 1000 == 0 else (10.0, 0.0, 0.0) for i in range(200000)]
    points[150000] = points[170000] = (0.0, 0.0, 5.0)
    vl = make(points)
    assert vl.minimum_distance_to(Vec3d(0, 0, 0), 1) == (0, 5.0)
    points[0] = (9.0, 0.0, 0.0)
    assert make(points).minimum_distance_to(Vec3d(0, 0, 0), 1) == (1000, 5.0)


# ---------------------------------------------------------------------------
# Edge cases of the members


def test_empty_lists_give_empty_results():
    e = VecList.empty()
    o = Vec3d(1, 2, 3)
    for r in (e.dot(o), e.magnitude(), e.is_unit(), e.distance_to(o), e.distance_squared(o), e.to_array()):
        assert r == [] and type(r) is list
    for r in (e.cross(o), e.normalize(), e.collapse(0), e + o, e - o, e * 2.0, 2.0 * e, e / 0.0):
        assert type(r) is VecList and len(r) == 0 and r is not e
    assert e.rotate(Quat(1, 0, 0, 0)) is None and len(e) == 0


def test_documented_values():
    assert all(math.isnan(c) for c in make([(0, 0, 0)]).normalize().to_array()[0])
    assert make([(1, 0, 0), (1 + 2.0**-52, 0, 0), (0.6, 0.8, 0)]).is_unit() == [True, False, True]
    assert make([(1, 2, 3)]).collapse(1).to_array() == [[1.0, 0.0, 3.0]]
    assert bits(make([(1, 2, -3)]).collapse(2).to_array()[0][2]) == 0  # +0.0
    q = make([(1, -1, 0)]) / 0.0
    assert q.to_array()[0][:2] == [math.inf, -math.inf] and math.isnan(q.to_array()[0][2])
    assert tags(2.0 * make(specimen(50))) == tags(make(specimen(50)) * 2.0)


def test_rotate_replaces_elements_in_place():
    vl = make([(1, 0, 0), (0, 1, 0)])
    kept = vl[0]
    snapshot = iter(vl)
    q = Quat.from_axis_angle(Vec3d(0, 0, 1), orvath.AngleRadians(math.pi / 2))
    assert vl.rotate(quat=q) is None
    assert [vt(v) for v in vl] == [vt(q.rotate(Vec3d(1, 0, 0))), vt(q.rotate(Vec3d(0, 1, 0)))]
    assert vt(kept) == (1.0, 0.0, 0.0)
    assert [vt(v) for v in snapshot] == [(1.0, 0.0, 0.0), (0.0, 1.0, 0.0)]


def test_results_are_independent_of_the_list():
    vl = make([(1, 2, 3)])
    r = vl + Vec3d(1, 1, 1)
    r.append(Vec3d(0, 0, 0))
    vl.append(Vec3d(5, 5, 5))
    assert len(r) == 2 and vt(r[0]) == (2.0, 3.0, 4.0) and len(vl) == 2
    a = vl
    a += Vec3d(1, 1, 1)  # no in-place form: binds a new list
    assert a is not vl and vt(vl[0]) == (1.0, 2.0, 3.0)


# ---------------------------------------------------------------------------
# Failure table: wrong arguments change nothing


P = [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)]


@pytest.mark.parametrize("call, exc, message", [
    (lambda vl: vl.dot(1), TypeError, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.cross(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
    (lambda vl: vl.distance_to((1, 2, 3)), TypeError,
     "argument 'other': 'tuple' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.distance_squared(vl), TypeError,
     "argument 'other': 'VecList' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.rotate(Vec3d(1, 0, 0)), TypeError, "argument 'quat': 'Vec3d' object is not an instance of 'Quat'"),
    (lambda vl: vl.collapse(1.0), TypeError, "argument 'axis': 'float' object cannot be interpreted as an integer"),
    (lambda vl: vl.collapse("0"), TypeError, "argument 'axis': 'str' object cannot be interpreted as an integer"),
    (lambda vl: vl.collapse(-1), OverflowError, "can't convert negative int to unsigned"),
    (lambda vl: vl.collapse(2**64), OverflowError, "int too big to convert"),
    (lambda vl: vl.minimum_distance_to(1, 1), TypeError,
     "argument 'other': 'int' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.minimum_distance_to(1, 0), TypeError,
     "argument 'other': 'int' object is not an instance of 'Vec3d'"),
    (lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), 1.5), TypeError,
     "argument 'stride': 'float' object cannot be interpreted as an integer"),
    (lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), -1), OverflowError, "can't convert negative int to unsigned"),
    (lambda vl: vl.dot(), TypeError, "VecList.dot() missing 1 required positional argument: 'other'"),
    (lambda vl: vl.cross(Vec3d(0, 0, 0), Vec3d(0, 0, 0)), TypeError,
     "VecList.cross() takes 1 positional arguments but 2 were given"),
    (lambda vl: vl.minimum_distance_to(), TypeError,
     "VecList.minimum_distance_to() missing 2 required positional arguments: 'other' and 'stride'"),
    (lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), other=Vec3d(0, 0, 0)), TypeError,
     "VecList.minimum_distance_to() got multiple values for argument 'other'"),
    (lambda vl: vl.rotate(q=Quat(1, 0, 0, 0)), TypeError, "VecList.rotate() got an unexpected keyword argument 'q'"),
    (lambda vl: vl.collapse(), TypeError, "VecList.collapse() missing 1 required positional argument: 'axis'"),
    (lambda vl: vl.magnitude(1), TypeError, "VecList.magnitude() takes no arguments (1 given)"),
    (lambda vl: vl.to_array(x=1), TypeError, "VecList.to_array() takes no keyword arguments"),
])
def test_argument_errors(call, exc, message):
    vl = make(P)
    raises_exactly(exc, message, lambda: call(vl))
    assert raw(vl) == raw(make(P))


@pytest.mark.parametrize("points, call, message", [
    (P, lambda vl: vl.collapse(3), "assertion failed: axis <= 2"),
    ([], lambda vl: vl.collapse(2**64 - 1), "assertion failed: axis <= 2"),
    (P, lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), 0), "assertion failed: stride != 0"),
    ([], lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), 0), "assertion failed: stride != 0"),
    ([], lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), 1), "called `Option::unwrap()` on a `None` value"),
    ([], lambda vl: vl.minimum_distance_to(Vec3d(0, 0, 0), Indexy(5)), "called `Option::unwrap()` on a `None` value"),
])
def test_panics_leave_the_list_unchanged(points, call, message, capfd):
    vl = make(points)
    fault(message, lambda: call(vl))
    assert raw(vl) == raw(make(points))
    vl.append(Vec3d(0, 0, 0))  # every borrow was released
    assert message in capfd.readouterr().err


# ---------------------------------------------------------------------------
# Operators


@pytest.mark.parametrize("make_result, factor", [
    (lambda vl: vl * 2, 2.0), (lambda vl: 2 * vl, 2.0), (lambda vl: vl * True, 1.0),
    (lambda vl: vl * Floaty(-0.5), -0.5), (lambda vl: Floaty(-0.5) * vl, -0.5), (lambda vl: vl * Indexy(3), 3.0),
    (lambda vl: vl * 10**20, 1e20),
])
def test_multiply_accepts_the_float_rule(make_result, factor):
    points = specimen(20)
    r = make_result(make(points))
    assert type(r) is VecList
    assert all(same_seq(g, vmodel.scale(p, factor)) for g, p in zip(r.to_array(), points))


@pytest.mark.parametrize("expr, message", [
    (lambda vl, v: v + vl, "unsupported operand type(s) for +: 'builtins.Vec3d' and 'builtins.VecList'"),
    (lambda vl, v: vl + vl, "unsupported operand type(s) for +: 'builtins.VecList' and 'builtins.VecList'"),
    (lambda vl, v: vl + 1, "unsupported operand type(s) for +: 'builtins.VecList' and 'int'"),
    (lambda vl, v: v - vl, "unsupported operand type(s) for -: 'builtins.Vec3d' and 'builtins.VecList'"),
    (lambda vl, v: vl - 1.0, "unsupported operand type(s) for -: 'builtins.VecList' and 'float'"),
    (lambda vl, v: vl * vl, "unsupported operand type(s) for *: 'builtins.VecList' and 'builtins.VecList'"),
    (lambda vl, v: vl * v, "unsupported operand type(s) for *: 'builtins.VecList' and 'builtins.Vec3d'"),
    (lambda vl, v: v * vl, "unsupported operand type(s) for *: 'builtins.Vec3d' and 'builtins.VecList'"),
    # str repeats by an int, and the interpreter says so.
    (lambda vl, v: vl * "2", "can't multiply sequence by non-int of type 'builtins.VecList'"),
    (lambda vl, v: vl * None, "unsupported operand type(s) for *: 'builtins.VecList' and 'NoneType'"),
    (lambda vl, v: 2.0 / vl, "unsupported operand type(s) for /: 'float' and 'builtins.VecList'"),
    (lambda vl, v: vl / v, "unsupported operand type(s) for /: 'builtins.VecList' and 'builtins.Vec3d'"),
    (lambda vl, v: vl / "a", "unsupported operand type(s) for /: 'builtins.VecList' and 'str'"),
    (lambda vl, v: vl / 10**400, "unsupported operand type(s) for /: 'builtins.VecList' and 'int'"),
])
def test_unsupported_operands(expr, message):
    vl = make(P)
    v = Vec3d(1, 1, 1)
    raises_exactly(TypeError, message, lambda: expr(vl, v))
    assert raw(vl) == raw(make(P)) and vt(v) == (1.0, 1.0, 1.0)


# ---------------------------------------------------------------------------
# Re-entrant conversions run while the list is borrowed


@pytest.mark.parametrize("call", [
    lambda vl, idx: vl.collapse(idx),
    lambda vl, idx: vl.collapse(axis=idx),
    lambda vl, idx: vl.minimum_distance_to(Vec3d(0, 0, 0), idx),
])
def test_index_that_appends_meets_the_borrow(call):
    vl = make(P)
    index = Reenter(lambda: vl.append(Vec3d(0, 0, 0)), 1)
    raises_exactly(RuntimeError, "Already borrowed", lambda: call(vl, index))
    assert [str(e) for e in index.refused] == ["Already borrowed"] and raw(vl) == raw(make(P))


def test_other_stays_borrowed_while_stride_converts():
    vl = make(P)
    other = Vec3d(1, 1, 1)
    stride = Reenter(lambda: setattr(other, "x", 100.0), 1)
    raises_exactly(RuntimeError, "Already borrowed", lambda: vl.minimum_distance_to(other, stride))
    assert [str(e) for e in stride.refused] == ["Already borrowed"] and vt(other) == (1.0, 1.0, 1.0)
    # Reading other in the hook is fine: shared borrows coexist.
    seen = []
    assert vl.minimum_distance_to(other, Reenter(lambda: seen.append(other.x), 1))[0] == 0 and seen == [1.0]


@pytest.mark.parametrize("expr, symbol", [
    (lambda vl, m: vl * m, "*: 'builtins.VecList' and 'Reenter'"),
    (lambda vl, m: m * vl, "*: 'Reenter' and 'builtins.VecList'"),
    (lambda vl, m: vl / m, "/: 'builtins.VecList' and 'Reenter'"),
])
def test_float_that_mutates_is_swallowed_into_not_implemented(expr, symbol):
    """A scalar whose __float__ tries to change the list first."""
    vl = make(P)
    m = Reenter(lambda: vl.append(Vec3d(0, 0, 0)), 2.0)
    raises_exactly(TypeError, "unsupported operand type(s) for " + symbol, lambda: expr(vl, m))
    assert m.refused and {str(e) for e in m.refused} == {"Already borrowed"}
    assert raw(vl) == raw(make(P))


def test_reading_the_list_in_float_is_allowed():
    vl = make(P)

    class Reader:
        def __float__(self):
            return float(len(vl))

    assert (vl * Reader()).to_array() == [[2.0, 4.0, 6.0], [8.0, 10.0, 12.0]]


# ---------------------------------------------------------------------------
# Several calling threads


def nearest_tag(vl, o):
    index, distance = vl.minimum_distance_to(o, 7)
    return index, tag(distance)


def test_threads_running_bulk_operations_at_once():
    shared = make(specimen(20000, seed=3))
    o = Vec3d(*O)
    expected = {
        "dot": [tag(x) for x in shared.dot(o)],
        "norm": tags(shared.normalize()),
        "near": nearest_tag(shared, o),
        "text": repr(shared),
    }
    barrier = threading.Barrier(4)
    failures = []

    def work(seed):
        own = make(specimen(5000, seed=seed))
        own_expected = tags(own * 3.0)
        barrier.wait()
        try:
            for _ in range(3):
                assert [tag(x) for x in shared.dot(o)] == expected["dot"]
                assert tags(shared.normalize()) == expected["norm"]
                assert nearest_tag(shared, o) == expected["near"]
                assert repr(shared) == expected["text"]
                assert tags(own * 3.0) == own_expected
                own.rotate(Quat(1, 0, 0, 0))
                own_expected = tags(own * 3.0)
        except BaseException as e:  # pragma: no cover - reported below
            failures.append(e)

    threads = [threading.Thread(target=work, args=(s,)) for s in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures, failures


# ---------------------------------------------------------------------------
# Reference counts


def test_operands_are_not_kept_and_results_are_fresh():
    vl = make(P)
    o, q, s = Vec3d(*O), Quat(*Q), Floaty(2.0)
    counts = [sys.getrefcount(x) for x in (vl, o, q, s)]
    for _ in range(3):
        vl.dot(o), vl.cross(o), vl.distance_to(o), vl.minimum_distance_to(o, 1)
        vl + o, vl - o, vl * s, s * vl, vl / s
        vl.rotate(q)
        for bad in (lambda: vl.dot(q), lambda: vl.rotate(o), lambda: vl.collapse(o)):
            with pytest.raises(TypeError):
                bad()
        with pytest.raises(TypeError):
            vl * o
        with pytest.raises(BaseException):
            vl.minimum_distance_to(o, 0)
    assert [sys.getrefcount(x) for x in (vl, o, q, s)] == counts
    assert sys.getrefcount(vl.dot(o)) == 1 and sys.getrefcount(vl + o) == 1
    r = vl.magnitude()
    assert sys.getrefcount(r[0]) == 2
    t = vl.minimum_distance_to(o, 1)
    assert sys.getrefcount(t[1]) == 2
    rows = vl.to_array()
    assert sys.getrefcount(rows[0]) == 2 and sys.getrefcount(rows[0][1]) == 2
    flags = vl.is_unit()
    assert flags[0] is False
