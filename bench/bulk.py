"""VecList bulk operations against the fastest numpy expression of the same computation.

For every bulk member and for 1e3, 1e5, 1e6 and 1e7 elements, prints the ratio
numpy time / orvath time (above 1.0: orvath is faster). Each numpy side is the
fastest of a few candidate expressions over a precomputed float64 array of
shape (n, 3) holding the same values; members that return a Python list are
compared with the numpy expression followed by .tolist(), since that is what
produces the same result. Both sides are timed alternately in the same loop
(median of several repeats, fewer at 1e7), with the garbage collector off.

Then: list-returning members against a bare .tolist() of a precomputed array
of the same length (target: orvath within 1.15x of it), minimum_distance_to
with stride 1 against numpy's argmin over squared distances, and each member
on a one-element list against the matching single-object method.

Last, the members that return a VecList, and rotate, against the loop a
performance-minded user would write by hand: numba's @njit(parallel=True,
fastmath=False) over the (n, 3) array, with the same operation order and a
fresh output array per call, at 1e3 to 1e7 elements (ratio numba time /
orvath time).

`python3 bench/bulk.py profile [CHART_PNG]` prints instead nanoseconds per
element of every bulk member from 1e3 to 1e7 elements, with one thread and with
the default pool, next to a copy of the same bytes, and draws them
(docs/bulk-profile.png by default). ORVATH_PROFILE_SIZES (comma-separated) and
ORVATH_PROFILE_ROUNDS change the sizes and the rounds.
"""
import gc
import math
import os
import statistics
import sys
import time

# The comparison is with numpy as the machine runs it by default; tuning
# overrides left in the environment would skew it.
for _name in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE"):
    os.environ.pop(_name, None)

import numpy as np  # noqa: E402

import orvath  # noqa: E402
from orvath import Quat, Vec3d, VecList  # noqa: E402

SIZES = [10**3, 10**5, 10**6, 10**7]
EPS = 2.0**-52
O = (0.25, -0.5, 0.75)
QUAT = Quat.from_axis_angle(Vec3d(0.0, 0.6, 0.8), orvath.AngleRadians(0.3))


def rotation_matrix_t(q):
    # Applied as `a @ m`: the same rotation as Quat.rotate for a unit quaternion.
    rows = q.to_rotation_matrix()
    return np.array(rows, dtype=np.float64)


def np_cross(a, o):
    c = np.empty_like(a)
    x, y, z = a[:, 0], a[:, 1], a[:, 2]
    np.subtract(y * o[2], z * o[1], out=c[:, 0])
    np.subtract(z * o[0], x * o[2], out=c[:, 1])
    np.subtract(x * o[1], y * o[0], out=c[:, 2])
    return c


def np_collapse(a):
    c = a.copy()
    c[:, 1] = 0.0
    return c


def np_nearest(a, o):
    d = a - o
    k = np.einsum("ij,ij->i", d, d)
    i = int(k.argmin())
    return i, math.sqrt(k[i])


def np_nearest_sum(a, o):
    d = a - o
    d *= d
    k = d.sum(axis=1)
    i = int(k.argmin())
    return i, math.sqrt(k[i])


def np_sq(a):
    return np.einsum("ij,ij->i", a, a)


def cases(a, vl, o_np, o):
    """(member, returns_list, orvath call, numpy candidates)."""
    m = rotation_matrix_t(QUAT)
    out = np.empty_like(a)
    return [
        ("dot", True, lambda: vl.dot(o),
         [lambda: (a @ o_np).tolist(), lambda: np.einsum("ij,j->i", a, o_np).tolist()]),
        ("magnitude", True, lambda: vl.magnitude(),
         [lambda: np.sqrt(np_sq(a)).tolist(), lambda: np.linalg.norm(a, axis=1).tolist()]),
        ("is_unit", True, lambda: vl.is_unit(),
         [lambda: (np.abs(np.sqrt(np_sq(a)) - 1.0) < EPS).tolist()]),
        ("distance_to", True, lambda: vl.distance_to(o),
         [lambda: np.sqrt(np_sq(a - o_np)).tolist(), lambda: np.linalg.norm(a - o_np, axis=1).tolist()]),
        ("distance_squared", True, lambda: vl.distance_squared(o),
         [lambda: np_sq(a - o_np).tolist(), lambda: ((a - o_np) ** 2).sum(axis=1).tolist()]),
        ("to_array", True, lambda: vl.to_array(), [lambda: a.tolist()]),
        ("minimum_distance_to", False, lambda: vl.minimum_distance_to(o, 1),
         [lambda: np_nearest(a, o_np), lambda: np_nearest_sum(a, o_np)]),
        ("rotate", False, lambda: vl.rotate(QUAT),
         [lambda: np.matmul(a, m, out=out), lambda: a @ m]),
        ("cross", False, lambda: vl.cross(o), [lambda: np_cross(a, o_np), lambda: np.cross(a, o_np)]),
        ("normalize", False, lambda: vl.normalize(),
         [lambda: a / np.sqrt(np_sq(a))[:, None], lambda: a / np.linalg.norm(a, axis=1, keepdims=True)]),
        ("collapse", False, lambda: vl.collapse(1), [lambda: np_collapse(a)]),
        ("__add__", False, lambda: vl + o, [lambda: a + o_np]),
        ("__sub__", False, lambda: vl - o, [lambda: a - o_np]),
        ("__mul__", False, lambda: vl * 2.0, [lambda: a * 2.0]),
        ("__rmul__", False, lambda: 2.0 * vl, [lambda: 2.0 * a]),
        ("__truediv__", False, lambda: vl / 3.0, [lambda: a / 3.0, lambda: np.divide(a, 3.0)]),
    ]


NEW_LIST_MEMBERS = {"cross", "normalize", "collapse", "__add__", "__sub__", "__mul__", "__rmul__", "__truediv__"}


def once(fn):
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def plan(fn, n):
    """Calls per repeat and number of repeats, from one warm-up call."""
    t = once(fn)
    number = max(1, int(0.01 / max(t, 1e-9)))
    if n >= 10**7:
        repeats = 3 if t < 0.3 else 1
    else:
        repeats = 7 if t < 0.1 else 3
    return number, repeats


def timed(fn, number):
    t0 = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - t0) / number


def compare(ours, candidates, n, settle=0.0, min_repeats=1):
    """(orvath time, fastest numpy time), both medians, measured alternately.
    With `settle`, each timed batch starts that many seconds after the last,
    so that neither side's idle worker threads are still spinning from the
    other's batch (both pools spin for a while after their work)."""
    number, repeats = plan(ours, n)
    plans = [plan(c, n) for c in candidates]
    repeats = max(min_repeats, min([repeats] + [r for _, r in plans]))
    mine, theirs = [], [[] for _ in candidates]
    for _ in range(repeats):
        time.sleep(settle)
        mine.append(timed(ours, number))
        for k, c in enumerate(candidates):
            time.sleep(settle)
            theirs[k].append(timed(c, plans[k][0]))
    return statistics.median(mine), min(statistics.median(t) for t in theirs)


def median_time(fn, n, settle=0.0, min_repeats=1):
    number, repeats = plan(fn, n)
    samples = []
    for _ in range(max(min_repeats, repeats)):
        time.sleep(settle)
        samples.append(timed(fn, number))
    return statistics.median(samples)


def make_data(n):
    """A numpy array and a VecList holding the same n vectors (n a multiple of the base)."""
    rng = np.random.default_rng(12345)
    base = rng.uniform(-10.0, 10.0, size=(min(n, 1000), 3))
    reps = n // len(base)
    # Binary doubling with list operations instead of n Python objects.
    block = VecList([Vec3d(*row) for row in base.tolist()])
    big = VecList.empty()
    while reps:
        if reps & 1:
            big.extend(block)
        reps >>= 1
        if reps:
            block.extend(block * 1.0)
    return np.ascontiguousarray(np.tile(base, (n // len(base), 1))), big


def fmt(r):
    return f"{r:9.2f}"


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values))


def main():
    started = time.perf_counter()
    print(f"Python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} logical CPUs")
    print("ratio = numpy time / orvath time (higher is better for orvath)\n")
    ratios = {}
    tolist_ratios = {}
    gc.disable()
    try:
        for n in SIZES:
            a, vl = make_data(n)
            o_np = np.array(O)
            o = Vec3d(*O)
            baseline = np.sqrt(np_sq(a))
            tl_number, tl_repeats = plan(baseline.tolist, n)
            tolist_time = statistics.median(timed(baseline.tolist, tl_number) for _ in range(tl_repeats))
            for name, returns_list, ours, candidates in cases(a, vl, o_np, o):
                mine, theirs = compare(ours, candidates, n)
                ratios[name, n] = theirs / mine
                if returns_list and name != "to_array":
                    tolist_ratios[name, n] = tolist_time / mine
                gc.collect()
            print(f"  done n={n:.0e} ({time.perf_counter() - started:.0f} s)", file=sys.stderr)
            del a, vl, baseline
            gc.collect()

        names = [c[0] for c in cases(np.zeros((1, 3)), VecList.empty(), np.zeros(3), Vec3d(0, 0, 0))]
        header = f"{'member':<22}" + "".join(f"{n:>9.0e}" for n in SIZES)
        print(header)
        for name in names:
            print(f"{name:<22}" + "".join(fmt(ratios[name, n]) for n in SIZES))
        worst = min(ratios.values())
        print(f"\nworst ratio: {worst:.2f} (target >= 1.0)")
        for n in (10**5, 10**6):
            g = geomean([ratios[m, n] for m in names if m in NEW_LIST_MEMBERS])
            print(f"geometric mean, members returning a VecList, n={n:.0e}: {g:.2f} (target >= 3)")
        print(f"minimum_distance_to stride 1 at 1e6 vs numpy argmin: "
              f"{ratios['minimum_distance_to', 10**6]:.2f} (target >= 8)")

        print("\nlist-returning members: tolist() of a precomputed array / orvath (target >= 0.87, i.e. within 1.15x)")
        print(f"{'member':<22}" + "".join(f"{n:>9.0e}" for n in SIZES))
        for name in sorted({k[0] for k in tolist_ratios}, key=names.index):
            print(f"{name:<22}" + "".join(fmt(tolist_ratios[name, n]) for n in SIZES))

        one_element()
        numba_ratios = numba_table()
        save_results({"sizes": SIZES, "members": names,
                      "ratios": {f"{m}@{n}": r for (m, n), r in ratios.items()},
                      "numba_sizes": NUMBA_SIZES,
                      "numba_ratios": {f"{m}@{n}": r for (m, n), r in numba_ratios.items()}})
    finally:
        gc.enable()
    print(f"\ntotal {time.perf_counter() - started:.0f} s")


def save_results(data):
    # make bench keeps the numbers for bench/chart.py.
    path = os.environ.get("ORVATH_BENCH_JSON")
    if path:
        import json
        with open(path, "w") as fh:
            json.dump(data, fh, indent=1)


def one_element():
    import timeit

    v, o = Vec3d(1.0, 2.0, 3.0), Vec3d(*O)
    vl = VecList([v])
    env = {"v": v, "o": o, "vl": vl, "q": QUAT}
    pairs = [
        ("dot", "vl.dot(o)", "v.dot(o)"),
        ("cross", "vl.cross(o)", "v.cross(o)"),
        ("magnitude", "vl.magnitude()", "v.magnitude()"),
        ("normalize", "vl.normalize()", "v.normalize()"),
        ("is_unit", "vl.is_unit()", "v.is_unit()"),
        ("distance_to", "vl.distance_to(o)", "v.distance_to(o)"),
        ("distance_squared", "vl.distance_squared(o)", "v.distance_squared(o)"),
        ("to_array", "vl.to_array()", "v.to_array()"),
        ("minimum_distance_to", "vl.minimum_distance_to(o, 1)", "v.distance_to(o)"),
        ("rotate", "vl.rotate(q)", "q.rotate(v)"),
        ("__add__", "vl + o", "v + o"),
        ("__sub__", "vl - o", "v - o"),
        ("__mul__", "vl * 2.0", "v * 2.0"),
        ("__rmul__", "2.0 * vl", "2.0 * v"),
        ("__truediv__", "vl / 3.0", "v / 3.0"),
    ]
    print("\none-element list: orvath bulk member / matching single-object method (target <= 2.0)")
    print(f"{'member':<22}{'bulk ns':>10}{'single ns':>11}{'ratio':>8}")
    worst = 0.0
    for name, bulk, single in pairs:
        tb = min(timeit.repeat(bulk, globals=env, number=50000, repeat=7)) / 50000 * 1e9
        ts = min(timeit.repeat(single, globals=env, number=50000, repeat=7)) / 50000 * 1e9
        worst = max(worst, tb / ts)
        print(f"{name:<22}{tb:>10.1f}{ts:>11.1f}{tb / ts:>8.2f}")
    print(f"worst one-element ratio: {worst:.2f}")


# ---------------------------------------------------------------------------
# numba: hand-written parallel loops, same formulas, same operation order

NUMBA_SIZES = [10**3, 10**4, 10**5, 10**6, 10**7]


def numba_kernels():
    from numba import njit, prange

    jit = njit(parallel=True, fastmath=False, cache=False)

    @jit
    def cross(a, o):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            x, y, z = a[i, 0], a[i, 1], a[i, 2]
            out[i, 0] = y * o[2] - z * o[1]
            out[i, 1] = z * o[0] - x * o[2]
            out[i, 2] = x * o[1] - y * o[0]
        return out

    @jit
    def normalize(a):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            x, y, z = a[i, 0], a[i, 1], a[i, 2]
            m = math.sqrt((x * x + y * y) + z * z)
            out[i, 0] = x / m
            out[i, 1] = y / m
            out[i, 2] = z / m
        return out

    @jit
    def collapse1(a):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0]
            out[i, 1] = 0.0
            out[i, 2] = a[i, 2]
        return out

    @jit
    def add(a, o):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0] + o[0]
            out[i, 1] = a[i, 1] + o[1]
            out[i, 2] = a[i, 2] + o[2]
        return out

    @jit
    def sub(a, o):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0] - o[0]
            out[i, 1] = a[i, 1] - o[1]
            out[i, 2] = a[i, 2] - o[2]
        return out

    @jit
    def scale(a, s):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0] * s
            out[i, 1] = a[i, 1] * s
            out[i, 2] = a[i, 2] * s
        return out

    @jit
    def divide(a, s):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0] / s
            out[i, 1] = a[i, 1] / s
            out[i, 2] = a[i, 2] / s
        return out

    # The specified rotation: conj(q) * v * q, written out with its zero terms.
    @jit
    def rotate(a, q):
        w, qi, qj, qk = q[0], q[1], q[2], q[3]
        for n in prange(a.shape[0]):
            x, y, z = a[n, 0], a[n, 1], a[n, 2]
            e0 = ((0.0 * w + qi * x) + qj * y) + qk * z
            e1 = ((w * x - qi * 0.0) - qj * z) + qk * y
            e2 = ((w * y - qj * 0.0) - qk * x) + qi * z
            e3 = ((w * z - qk * 0.0) - qi * y) + qj * x
            a[n, 0] = ((e0 * qi + e1 * w) + e2 * qk) - e3 * qj
            a[n, 1] = ((e0 * qj + e2 * w) + e3 * qi) - e1 * qk
            a[n, 2] = ((e0 * qk + e3 * w) + e1 * qj) - e2 * qi

    # The floor for every member above: each reads 24 bytes and writes 24 bytes
    # per element, which is all a parallel copy does.
    @jit
    def copy(a):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0]
            out[i, 1] = a[i, 1]
            out[i, 2] = a[i, 2]
        return out

    return {"cross": cross, "normalize": normalize, "collapse": collapse1, "add": add, "sub": sub,
            "scale": scale, "divide": divide, "rotate": rotate, "copy": copy}


def numba_cases(k, a, vl, o_np, o, q_np):
    """(member, orvath call, numba call) for the VecList-returning members and rotate."""
    return [
        ("cross", lambda: vl.cross(o), lambda: k["cross"](a, o_np)),
        ("normalize", lambda: vl.normalize(), lambda: k["normalize"](a)),
        ("collapse", lambda: vl.collapse(1), lambda: k["collapse"](a)),
        ("__add__", lambda: vl + o, lambda: k["add"](a, o_np)),
        ("__sub__", lambda: vl - o, lambda: k["sub"](a, o_np)),
        ("__mul__", lambda: vl * 2.0, lambda: k["scale"](a, 2.0)),
        ("__rmul__", lambda: 2.0 * vl, lambda: k["scale"](a, 2.0)),
        ("__truediv__", lambda: vl / 3.0, lambda: k["divide"](a, 3.0)),
        ("rotate", lambda: vl.rotate(QUAT), lambda: k["rotate"](a, q_np)),
    ]


def numba_table():
    try:
        import numba
    except ImportError:
        print("\nnumba is not installed: no numba table")
        return {}
    kernels = numba_kernels()
    q_np = np.array([QUAT.w, QUAT.i, QUAT.j, QUAT.k])
    ratios, times, copy_times = {}, {}, {}
    names = None
    for n in NUMBA_SIZES:
        a, vl = make_data(n)
        o_np, o = np.array(O), Vec3d(*O)
        rows = numba_cases(kernels, a, vl, o_np, o, q_np)
        names = [r[0] for r in rows]
        for name, ours, theirs in rows:
            theirs()  # compiles on the first call
            # More repeats than the numpy table: two thread pools taking
            # turns on two cores make single batches noisier.
            mine, peer = compare(ours, [theirs], n, settle=0.02, min_repeats=11 if n <= 10**6 else 3)
            ratios[name, n] = peer / mine
            times[name, n] = mine, peer
        kernels["copy"](a)
        copy_times[n] = median_time(lambda: kernels["copy"](a), n, settle=0.02, min_repeats=11 if n <= 10**6 else 3)
        del a, vl
        gc.collect()
    print(f"\nnumba {numba.__version__}, {numba.get_num_threads()} threads, @njit(parallel=True, fastmath=False): "
          "numba time / orvath time")
    print(f"{'member':<22}" + "".join(f"{n:>9.0e}" for n in NUMBA_SIZES))
    for name in names:
        print(f"{name:<22}" + "".join(fmt(ratios[name, n]) for n in NUMBA_SIZES))
    worst = min(ratios[m, n] for m in names for n in NUMBA_SIZES if n >= 10**4)
    print(f"\nworst ratio from 1e4 to 1e7: {worst:.2f} (target >= 0.95)")
    # Where a member misses the target, how far each side is from the memory
    # floor: the time of numba's parallel copy of the same array (48 bytes
    # moved per element) over the member's time, 1.00 meaning copy speed.
    below = [(m, n) for m in names for n in NUMBA_SIZES if n >= 10**4 and ratios[m, n] < 0.95]
    if below:
        print("below 0.95, copy time / member time (1.00 = as fast as a parallel copy of the array):")
        for m, n in below:
            mine, peer = times[m, n]
            print(f"  {m:<20}{n:>8.0e}  orvath {copy_times[n] / mine:.2f}  numba {copy_times[n] / peer:.2f}"
                  f"  (copy {copy_times[n] * 1e6:.0f} us, {48 * n / copy_times[n] / 1e9:.1f} GB/s)")
    for n in (10**5, 10**6):
        print(f"geometric mean at n={n:.0e}: {geomean([ratios[m, n] for m in names]):.2f} (target >= 1.5)")
    return ratios


# ---------------------------------------------------------------------------
# Profile: nanoseconds per element of every bulk member across list sizes, with
# one thread and with the default pool, next to what the same work costs at least.

PROFILE_SIZES = [10**3, 3 * 10**3, 10**4, 2 * 10**4, 3 * 10**4, 6 * 10**4, 10**5, 15 * 10**4, 2 * 10**5,
                 3 * 10**5, 10**6, 3 * 10**6, 10**7]


def profile_cases(a, vl, o):
    """(member, call) for every bulk member; rotate turns the list in place,
    the pair members take a second list of the same length, take a random
    permutation."""
    other = vl * -0.5
    order = np.random.default_rng(7).permutation(len(vl))
    return [
        ("dot", lambda: vl.dot(o)),
        ("magnitude", lambda: vl.magnitude()),
        ("is_unit", lambda: vl.is_unit()),
        ("distance_to", lambda: vl.distance_to(o)),
        ("distance_squared", lambda: vl.distance_squared(o)),
        ("to_array", lambda: vl.to_array()),
        ("from_array", lambda: VecList.from_array(a)),
        ("minimum_distance_to", lambda: vl.minimum_distance_to(o, 1)),
        ("rotate", lambda: vl.rotate(QUAT)),
        ("cross", lambda: vl.cross(o)),
        ("normalize", lambda: vl.normalize()),
        ("collapse", lambda: vl.collapse(1)),
        ("__add__", lambda: vl + o),
        ("__sub__", lambda: vl - o),
        ("__mul__", lambda: vl * 2.0),
        ("__truediv__", lambda: vl / 3.0),
        ("magnitude_array", lambda: vl.magnitude_array()),
        ("dot_array", lambda: vl.dot_array(o)),
        ("distance_to_array", lambda: vl.distance_to_array(o)),
        ("distance_squared_array", lambda: vl.distance_squared_array(o)),
        ("add_each", lambda: vl.add_each(other)),
        ("cross_each", lambda: vl.cross_each(other)),
        ("dot_each", lambda: vl.dot_each(other)),
        ("take", lambda: vl.take(order)),
        ("sum", lambda: vl.sum()),
        ("bounds", lambda: vl.bounds()),
    ]


# What a member costs at least: a copy of its bytes; for the members that
# return a Python list, creating the same objects (numpy's tolist, on one
# thread in both processes).
FLOORS = {"copy": "copy of the same bytes", "float list": "numpy tolist(), n floats",
          "row lists": "numpy tolist(), n rows of 3 floats"}
LIST_FLOORS = {"dot": "float list", "magnitude": "float list", "distance_to": "float list",
               "distance_squared": "float list", "to_array": "row lists"}


def profile_sizes():
    return [int(float(s)) for s in os.environ["ORVATH_PROFILE_SIZES"].split(",")] \
        if os.environ.get("ORVATH_PROFILE_SIZES") else PROFILE_SIZES


def batch_calls(fn):
    """Calls in a batch of about 2 ms, from the best of five calls; a call
    that alone takes longer makes a batch of one without the other four."""
    best = math.inf
    for _ in range(5):
        best = min(best, once(fn))
        if best >= 0.002:
            break
    return max(1, int(0.002 / max(best, 1e-9)))


def profile_run():
    """One process, one thread setting, serving the parent: for each line "n"
    on stdin, one round (a batch of about 2 ms per member, members in turn) at
    n elements, answered with one line of JSON, ns per element by member.
    A batch's call count comes from the best of five calls, so that both
    processes time batches of the same length, and each batch follows one
    untimed call: the first call after other members pays for caches and
    heap pages they took, which is the cost of the interleaving, not of the
    member."""
    import json
    gc.disable()
    data = None
    for line in sys.stdin:
        n = int(line)
        if data is None or data[0] != n:
            data = None
            gc.collect()
            a, vl = make_data(n)
            dst = np.empty_like(a)
            column = a[:, 0].copy()
            calls = [("copy", lambda: np.copyto(dst, a)), ("float list", column.tolist),
                     ("row lists", a.tolist)] + profile_cases(a, vl, Vec3d(*O))
            numbers = []
            for _, fn in calls:
                fn()
                numbers.append(batch_calls(fn))
            data = (n, calls, numbers)
        _, calls, numbers = data
        times = {}
        for (name, fn), k in zip(calls, numbers):
            fn()
            times[name] = timed(fn, k) / n * 1e9
        print(json.dumps(times), flush=True)


def profile():
    """Keeps one process with ORVATH_NUM_THREADS=1 and one with the default
    pool (the pool reads the variable once) and asks them for rounds in turn,
    so that both settings see the same load; best of ORVATH_PROFILE_ROUNDS
    rounds per size (default 9, a third of that at 1e7): on a machine shared
    with other work, more rounds find more of its quiet moments. Prints both
    next to the floors, saves the numbers as JSON and draws the chart."""
    import json
    import platform
    import subprocess
    args = sys.argv[2:]
    out_png = args[0] if args else os.path.join(os.path.dirname(__file__), "..", "docs", "bulk-profile.png")
    labels = ("one thread", "default pool")
    procs = {}
    for label, threads in zip(labels, ("1", None)):
        env = dict(os.environ)
        env.pop("ORVATH_NUM_THREADS", None)
        if threads:
            env["ORVATH_NUM_THREADS"] = threads
        procs[label] = subprocess.Popen([sys.executable, __file__, "profile-run"], env=env, text=True,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    sizes = profile_sizes()
    rounds = int(os.environ.get("ORVATH_PROFILE_ROUNDS", "9"))
    runs = {label: {**{floor: {} for floor in FLOORS}, "members": {}} for label in labels}
    for n in sizes:
        for _ in range(max(3, rounds // 3) if n >= 10**7 else rounds):
            for label in labels:
                procs[label].stdin.write(f"{n}\n")
                procs[label].stdin.flush()
                for name, ns in json.loads(procs[label].stdout.readline()).items():
                    row = runs[label][name] if name in FLOORS else runs[label]["members"].setdefault(name, {})
                    row[str(n)] = min(ns, row.get(str(n), math.inf))
        print(f"  done n={n:.0e}", file=sys.stderr)
    for proc in procs.values():
        proc.stdin.close()
        proc.wait()
    cpu = processor_name()
    print(f"ns per element, best of {rounds} rounds; {cpu}, {os.cpu_count()} logical CPUs, "
          f"Python {platform.python_version()}")
    print(f"{'member':<20}{'':<7}" + "".join(f"{n:>8.2g}" for n in sizes))
    for floor in FLOORS:
        row = runs["one thread"][floor]
        print(f"{floor + ' (floor)':<27}" + "".join(f"{row[str(n)]:8.2f}" for n in sizes))
    for name in runs["one thread"]["members"]:
        for label, tag in zip(labels, ("1 thr", "pool")):
            row = runs[label]["members"][name]
            print(f"{name if tag == '1 thr' else '':<20}{tag:<7}" + "".join(f"{row[str(n)]:8.2f}" for n in sizes))
    path = os.environ.get("ORVATH_BENCH_JSON")
    if path:
        with open(path, "w") as fh:
            json.dump({"processor": cpu, "sizes": sizes, "runs": runs}, fh, indent=1)
    profile_chart(runs, sizes, cpu, out_png)


def processor_name():
    try:
        with open("/proc/cpuinfo") as fh:
            for line in fh:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    import platform
    return platform.processor() or "unknown processor"


def profile_chart(runs, sizes, cpu, out_png):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    names = list(runs["one thread"]["members"])
    cols = 4
    rows = (len(names) + cols - 1) // cols
    fig, axes = plt.subplots(rows, cols, figsize=(16, 3.2 * rows), sharex=True)
    floor = [runs["one thread"]["copy"][str(n)] for n in sizes]
    for ax, name in zip(axes.flat, names):
        for label, style in (("one thread", "o-"), ("default pool", "s-")):
            ax.plot(sizes, [runs[label]["members"][name][str(n)] for n in sizes], style, ms=3, label=label)
        ax.plot(sizes, floor, "k:", label=FLOORS["copy"])
        if name in LIST_FLOORS:
            ax.plot(sizes, [runs["one thread"][LIST_FLOORS[name]][str(n)] for n in sizes], "--", color="0.45",
                    label=FLOORS[LIST_FLOORS[name]])
            ax.legend(fontsize=7, loc="upper left")
        ax.set_xscale("log")
        ax.set_ylim(bottom=0)
        ax.axvspan(10**4, 2 * 10**5, color="0.93", zorder=0)
        ax.set_title(name, fontsize=10)
        ax.grid(alpha=0.3)
    for ax in list(axes.flat)[len(names):]:
        ax.axis("off")
    axes.flat[0].legend(fontsize=8)
    for ax in axes[-1]:
        ax.set_xlabel("elements")
    for ax in axes[:, 0]:
        ax.set_ylabel("ns per element")
    fig.suptitle(f"orvath bulk members, ns per element (lower is better; shaded: 1e4 to 2e5) — {cpu}")
    fig.tight_layout(rect=(0, 0, 1, 0.985))  # room for the title above the first row
    fig.savefig(out_png, dpi=80)
    print(f"chart: {os.path.normpath(out_png)}")


if __name__ == "__main__":
    if sys.argv[1:] == ["numba"]:
        gc.disable()
        numba_table()
    elif sys.argv[1:2] == ["profile"]:
        profile()
    elif sys.argv[1:] == ["profile-run"]:
        profile_run()
    else:
        main()
