"""Vectors in and out of numpy, and pickling, against numpy doing the same work.

At 1e6 and 1e7 elements (float64 arrays of shape (n, 3) with random values):

- np.asarray(vl): a view, so its cost does not grow with n (target: under 5 us at both sizes).
- VecList.from_array(a) against a.copy() for a C-contiguous array (target: within 1.5x), and
  from_array(a[::2]) against a[::2].copy() (target: within 3x).
- pickle.loads(pickle.dumps(x, 5)) for the list against the same for the ndarray (target: within 1.5x);
  with a buffer_callback the list's own memory is handed out (checked), so dumps takes constant time.
- numpy in, normalize, numpy out: np.asarray(VecList.from_array(a).normalize()) against the fastest numpy
  normalisation (target at 1e6: at least 5x faster).
- Peak memory of from_array, in a fresh child process: the growth of the resident high-water mark over the
  input, in output arrays (target: 1.0, the input plus one output array); a.copy() for reference.

Both sides of a comparison are timed alternately (bench/bulk.py's harness), medians of several repeats.
"""
import gc
import os
import pickle
import statistics
import subprocess
import sys
import textwrap
import time
import timeit

import numpy as np
from bulk import compare, plan, timed

from orvath import VecList

SIZES = [10**6, 10**7]


def microseconds(stmt, env):
    number = 20000
    return min(timeit.repeat(stmt, globals=env, number=number, repeat=5)) / number * 1e6


def out_of_band(vl):
    """Seconds for pickle.dumps with a buffer_callback, after checking that the
    buffer handed out is the list's own memory."""
    buffers = []
    pickle.dumps(vl, 5, buffer_callback=buffers.append)
    assert np.frombuffer(buffers[0], dtype=np.uint8).ctypes.data == np.asarray(vl).ctypes.data
    buffers[0].release()

    def run():
        buffers.clear()
        pickle.dumps(vl, 5, buffer_callback=buffers.append)

    number, repeats = plan(run, 1)
    result = statistics.median(timed(run, number) for _ in range(repeats))
    buffers.clear()
    return result


PEAK = textwrap.dedent("""
    import sys
    import numpy as np
    from orvath import VecList

    def status(key):
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith(key))

    n, how = int(sys.argv[1]), sys.argv[2]
    a = np.random.default_rng(1).standard_normal((n, 3))
    VecList.from_array(a[:1000]).normalize()  # the worker pool is up
    before = status("VmRSS:")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the high-water mark starts again from here
    out = VecList.from_array(a) if how == "from_array" else a.copy()
    print((status("VmHWM:") - before) / a.nbytes)
""")


def peak_growth(n, how):
    result = subprocess.run([sys.executable, "-c", PEAK, str(n), how], capture_output=True, text=True,
                            check=True, env=os.environ)
    return float(result.stdout)


def main():
    started = time.perf_counter()
    print(f"Python {sys.version.split()[0]}, numpy {np.__version__}, {os.cpu_count()} logical CPUs\n")
    results = {}
    gc.disable()
    try:
        for n in SIZES:
            a = np.random.default_rng(n).standard_normal((n, 3))
            vl = VecList.from_array(a)
            strided = a[::2]
            r = {
                "asarray_us": microseconds("np.asarray(vl)", {"np": np, "vl": vl}),
                "from_array": compare(lambda: VecList.from_array(a), [a.copy], n),
                "from_array_strided": compare(lambda: VecList.from_array(strided), [strided.copy], n),
                "pickle": compare(lambda: pickle.loads(pickle.dumps(vl, 5)),
                                  [lambda: pickle.loads(pickle.dumps(a, 5))], n),
                "out_of_band_us": out_of_band(vl) * 1e6,
                "normalize": compare(lambda: np.asarray(VecList.from_array(a).normalize()),
                                     [lambda: a / np.sqrt(np.einsum("ij,ij->i", a, a))[:, None],
                                      lambda: a / np.linalg.norm(a, axis=1, keepdims=True)], n),
                "peak_from_array": peak_growth(n, "from_array"),
                "peak_copy": peak_growth(n, "copy"),
            }
            results[n] = r
            print(f"  done n={n:.0e} ({time.perf_counter() - started:.0f} s)", file=sys.stderr)
            del a, vl, strided
            gc.collect()
    finally:
        gc.enable()

    def ms(t):
        return f"{t * 1e3:.2f} ms"

    print(f"{'operation':<48}" + "".join(f"{n:>24.0e}" for n in SIZES))
    rows = [
        ("np.asarray(vl) (target < 5 us)", lambda r: f"{r['asarray_us']:.2f} us"),
        ("from_array(a) / a.copy() (target <= 1.5)",
         lambda r: f"{r['from_array'][0] / r['from_array'][1]:.2f} ({ms(r['from_array'][0])})"),
        ("from_array(a[::2]) / a[::2].copy() (target <= 3)",
         lambda r: f"{r['from_array_strided'][0] / r['from_array_strided'][1]:.2f} "
                   f"({ms(r['from_array_strided'][0])})"),
        ("pickle round trip, list / ndarray (target <= 1.5)",
         lambda r: f"{r['pickle'][0] / r['pickle'][1]:.2f} ({ms(r['pickle'][0])})"),
        ("dumps with buffer_callback (no copy)", lambda r: f"{r['out_of_band_us']:.1f} us"),
        ("normalize end to end, numpy / orvath (>= 5 at 1e6)",
         lambda r: f"{r['normalize'][1] / r['normalize'][0]:.2f} ({ms(r['normalize'][0])})"),
        ("peak growth from_array, outputs (target 1.0)", lambda r: f"{r['peak_from_array']:.2f}"),
        ("peak growth a.copy(), outputs (reference)", lambda r: f"{r['peak_copy']:.2f}"),
    ]
    for label, cell in rows:
        print(f"{label:<48}" + "".join(f"{cell(results[n]):>24}" for n in SIZES))
    save_results(results)
    print(f"\ntotal {time.perf_counter() - started:.0f} s")


def save_results(results):
    path = os.environ.get("ORVATH_BENCH_JSON")
    if path:
        import json
        with open(path, "w") as fh:
            json.dump({str(n): r for n, r in results.items()}, fh, indent=1)


if __name__ == "__main__":
    main()
