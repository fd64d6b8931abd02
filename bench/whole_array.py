"""VecList whole-array members against numpy and numba: take, the pair members,
the float arrays, copies, and the mesh job of examples/mesh.py.

    python3.14 bench/whole_array.py [numpy|numba|mesh]

For 1e5, 1e6 and 1e7 elements, each member against the fastest of the numpy
expressions that compute the same thing from float64 arrays of shape (n, 3)
(ratio numpy time / orvath time, higher is better for orvath), then against
numba's @njit(parallel=True, fastmath=False) loop with the same formula and
operation order and a fresh output per call (ratio numba time / orvath time).
take gathers n elements at uniformly random positions of a list of n. Both
sides are timed alternately, medians of several repeats, as in bench/bulk.py.
"""
import copy
import gc
import os
import sys

import numpy as np

from bulk import compare, fmt  # the timing rules of the bulk tables

from orvath import Vec3d, VecList

SIZES = [10**5, 10**6, 10**7]
O = (0.25, -0.5, 0.75)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "examples"))


def data(n):
    rng = np.random.default_rng(n)
    a, b = rng.uniform(-10.0, 10.0, (n, 3)), rng.uniform(-10.0, 10.0, (n, 3))
    return a, b, VecList.from_array(a), VecList.from_array(b), rng.integers(0, n, n)


def np_dot_rows(a, b):
    return np.einsum("ij,ij->i", a, b)


def np_cross_rows(a, b):
    c = np.empty_like(a)
    np.subtract(a[:, 1] * b[:, 2], a[:, 2] * b[:, 1], out=c[:, 0])
    np.subtract(a[:, 2] * b[:, 0], a[:, 0] * b[:, 2], out=c[:, 1])
    np.subtract(a[:, 0] * b[:, 1], a[:, 1] * b[:, 0], out=c[:, 2])
    return c


def numpy_cases(a, b, va, vb, idx):
    o_np, o = np.array(O), Vec3d(*O)
    # The peer with a target is the form a numpy user writes; the rows without
    # one time the fastest other form found.
    return [
        ("take vs a[idx]", lambda: va.take(idx), [lambda: a[idx]], 5),
        ("take vs np.take", lambda: va.take(idx), [lambda: np.take(a, idx, axis=0)], None),
        ("add_each", lambda: va.add_each(vb), [lambda: a + b], 1),
        ("sub_each", lambda: va.sub_each(vb), [lambda: a - b], 1),
        ("cross_each vs np.cross", lambda: va.cross_each(vb), [lambda: np.cross(a, b)], 5),
        ("cross_each vs components", lambda: va.cross_each(vb), [lambda: np_cross_rows(a, b)], None),
        ("dot_each", lambda: va.dot_each(vb), [lambda: np_dot_rows(a, b)], 3),
        ("magnitude_array", lambda: va.magnitude_array(), [lambda: np.linalg.norm(a, axis=1)], 3),
        ("dot_array vs einsum", lambda: va.dot_array(o), [lambda: np.einsum("ij,j->i", a, o_np)], 3),
        ("dot_array vs a @ o", lambda: va.dot_array(o), [lambda: a @ o_np], None),
        ("distance_to_array", lambda: va.distance_to_array(o), [lambda: np.linalg.norm(a - o_np, axis=1)], 3),
        ("distance_squared_array", lambda: va.distance_squared_array(o),
         [lambda: np_dot_rows(a - o_np, a - o_np)], 3),
        ("magnitude_array vs list", lambda: va.magnitude_array(), [lambda: np.asarray(va.magnitude())], 20),
        ("copy.copy vs from_array", lambda: copy.copy(va), [lambda: VecList.from_array(np.asarray(va))], 1 / 1.2),
    ]


def numpy_table():
    ratios, targets = {}, {}
    for n in SIZES:
        a, b, va, vb, idx = data(n)
        for name, ours, theirs, target in numpy_cases(a, b, va, vb, idx):
            mine, peer = compare(ours, theirs, n)
            ratios[name, n], targets[name] = peer / mine, target
            gc.collect()
        del a, b, va, vb, idx
        gc.collect()
    print(f"numpy {np.__version__}, {os.cpu_count()} logical CPUs: numpy time / orvath time")
    print(f"{'member':<26}" + "".join(f"{n:>9.0e}" for n in SIZES) + "   target")
    for name in dict.fromkeys(k[0] for k in ratios):
        target = f">= {targets[name]:.2f}" if targets[name] else "-"
        print(f"{name:<26}" + "".join(fmt(ratios[name, n]) for n in SIZES) + f"   {target}")
    return ratios


def numba_kernels():
    from numba import njit, prange

    jit = njit(parallel=True, fastmath=False, cache=False)

    @jit
    def add(a, b):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0] + b[i, 0]
            out[i, 1] = a[i, 1] + b[i, 1]
            out[i, 2] = a[i, 2] + b[i, 2]
        return out

    @jit
    def sub(a, b):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 0] - b[i, 0]
            out[i, 1] = a[i, 1] - b[i, 1]
            out[i, 2] = a[i, 2] - b[i, 2]
        return out

    @jit
    def cross(a, b):
        out = np.empty_like(a)
        for i in prange(a.shape[0]):
            out[i, 0] = a[i, 1] * b[i, 2] - a[i, 2] * b[i, 1]
            out[i, 1] = a[i, 2] * b[i, 0] - a[i, 0] * b[i, 2]
            out[i, 2] = a[i, 0] * b[i, 1] - a[i, 1] * b[i, 0]
        return out

    @jit
    def dot(a, b):
        out = np.empty(a.shape[0])
        for i in prange(a.shape[0]):
            out[i] = (a[i, 0] * b[i, 0] + a[i, 1] * b[i, 1]) + a[i, 2] * b[i, 2]
        return out

    @jit
    def take(a, idx):
        out = np.empty((idx.shape[0], 3))
        for k in prange(idx.shape[0]):
            i = idx[k]
            out[k, 0] = a[i, 0]
            out[k, 1] = a[i, 1]
            out[k, 2] = a[i, 2]
        return out

    return {"add_each": add, "sub_each": sub, "cross_each": cross, "dot_each": dot, "take": take}


def numba_table():
    try:
        import numba
    except ImportError:
        print("\nnumba is not installed: no numba table")
        return {}
    kernels, ratios = numba_kernels(), {}
    for n in SIZES:
        a, b, va, vb, idx = data(n)
        for name, k in kernels.items():
            ours = (lambda: va.take(idx)) if name == "take" else (lambda name=name: getattr(va, name)(vb))
            theirs = (lambda k=k: k(a, idx)) if name == "take" else (lambda k=k: k(a, b))
            theirs()  # compiles on the first call
            mine, peer = compare(ours, [theirs], n, settle=0.02, min_repeats=11 if n <= 10**6 else 3)
            ratios[name, n] = peer / mine
        del a, b, va, vb, idx
        gc.collect()
    print(f"\nnumba {numba.__version__}, {numba.get_num_threads()} threads: numba time / orvath time")
    print(f"{'member':<26}" + "".join(f"{n:>9.0e}" for n in SIZES))
    for name in kernels:
        print(f"{name:<26}" + "".join(fmt(ratios[name, n]) for n in SIZES))
    return ratios


def mesh_job(faces=500_000):
    import mesh

    vertices, tris = mesh.torus(faces)
    mine, peer = compare(lambda: mesh.with_orvath(vertices, tris), [lambda: mesh.as_numpy_writes_it(vertices, tris)],
                         len(tris), min_repeats=7)
    print(f"\nmesh job, {len(tris)} faces, numpy arrays in and out: orvath {mine * 1e3:.1f} ms, "
          f"numpy {peer * 1e3:.1f} ms, ratio {peer / mine:.2f} (target >= 10)")
    return peer / mine


def main(which):
    gc.disable()
    results = {}
    try:
        if which in ("all", "numpy"):
            results["numpy"] = {f"{m}@{n}": r for (m, n), r in numpy_table().items()}
        if which in ("all", "numba"):
            results["numba"] = {f"{m}@{n}": r for (m, n), r in numba_table().items()}
        if which in ("all", "mesh"):
            results["mesh"] = mesh_job()
    finally:
        gc.enable()
    path = os.environ.get("ORVATH_BENCH_JSON")
    if path:
        import json
        with open(path, "w") as fh:
            json.dump(results, fh, indent=1)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "all")
