"""VecList.sum, mean and bounds against numpy, math.fsum and the memory floor.

At 1e6 and 1e7 random normal vectors, the best of several calls (milliseconds)
of: the three members on the pool and on one thread (a child process with
ORVATH_NUM_THREADS=1); numpy's a.sum(axis=0), a.mean(axis=0) and a.min(axis=0),
a.max(axis=0) over the same (n, 3) float64 array; three math.fsum calls over
ready Python lists of the columns; and the floor: numba's parallel loop that
only reads the same 24 bytes per element (a vectorised sum with fastmath).
Then the ratios the targets name: numpy / orvath (>= 3), fsum / orvath (>= 20),
orvath / floor (<= 2). Best of, not median: the machine is shared, and the
best call is the one that ran undisturbed.
"""
import json
import math
import os
import subprocess
import sys
import time

import numpy as np

from orvath import VecList

SIZES = [10**6, 10**7]


def best_ms(fn, repeats):
    fn()
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times) * 1e3


def data(n):
    a = np.random.default_rng(24).standard_normal((n, 3))
    return a, VecList.from_array(a)


def ours(n, repeats):
    _, vl = data(n)
    return {m: best_ms(getattr(vl, m), repeats) for m in ("sum", "mean", "bounds")}


def single_thread(n, repeats):
    env = {**os.environ, "ORVATH_NUM_THREADS": "1"}
    out = subprocess.run([sys.executable, __file__, "--ours", str(n), str(repeats)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def floor_ms(a, repeats):
    from numba import njit, prange

    @njit(parallel=True, fastmath=True)
    def read_all(flat):
        s = 0.0
        for i in prange(flat.size):
            s += flat[i]
        return s

    flat = a.reshape(-1)
    return best_ms(lambda: read_all(flat), repeats)


def main():
    print(f"Python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} logical CPUs; best of, ms")
    for n in SIZES:
        repeats = 15 if n <= 10**6 else 5
        a, vl = data(n)
        columns = [a[:, k].tolist() for k in range(3)]
        pool = ours(n, repeats)
        one = single_thread(n, repeats)
        peers = {
            "sum": best_ms(lambda: a.sum(axis=0), repeats),
            "mean": best_ms(lambda: a.mean(axis=0), repeats),
            "bounds": best_ms(lambda: (a.min(axis=0), a.max(axis=0)), repeats),
        }
        fsum = best_ms(lambda: [math.fsum(c) for c in columns], max(3, repeats // 3))
        floor = floor_ms(a, repeats)
        print(f"\nn = {n:.0e}: read floor (numba, parallel) {floor:.2f}, three math.fsum {fsum:.1f}")
        print("member     pool   1 thread    numpy   numpy/pool  fsum/pool  pool/floor")
        for m in ("sum", "mean", "bounds"):
            fs = f"{fsum / pool[m]:9.1f}" if m != "bounds" else "        -"
            print(f"{m:8} {pool[m]:6.2f} {one[m]:10.2f} {peers[m]:8.2f} {peers[m] / pool[m]:12.1f}  {fs}  "
                  f"{pool[m] / floor:10.2f}")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--ours"]:
        print(json.dumps(ours(int(sys.argv[2]), int(sys.argv[3]))))
    else:
        main()
