"""The worker pool as Python sees it: started by the first bulk operation (and
nothing earlier), one worker per logical processor or ORVATH_NUM_THREADS, and
usable again in a child made by fork() after the parent's pool has started."""
import multiprocessing
import os
import subprocess
import sys
import textwrap
import warnings

import pytest

orvath = pytest.importorskip("orvath")

# Runs in a fresh interpreter, whose only thread is the main one: counts the
# threads this process has besides it before and after each step.
PROBE = textwrap.dedent(r"""
    import os, sys
    def workers():
        return len(os.listdir("/proc/self/task")) - 1
    from orvath import Vec3d, VecList
    steps = [workers()]
    vl = VecList([Vec3d(1, 2, 3)]); vl.append(Vec3d(0, 0, 0)); vl.extend(vl.__class__(vl)); vl[0]; list(vl); len(vl)
    steps.append(workers())
    getattr(VecList.empty(), sys.argv[1])(*eval(sys.argv[2]))
    steps.append(workers())
    VecList.empty().magnitude()
    steps.append(workers())
    print(*steps)
""")


def usable_processors():
    """The pool's default size: the affinity mask under the Linux platform layer,
    the online processors under the generic POSIX one (`make test-posix`)."""
    if os.environ.get("ORVATH_EXPECT_PLATFORM") == "posix":
        return os.cpu_count()
    return len(os.sched_getaffinity(0))


def probe(member, args, threads=None):
    env = dict(os.environ)
    env.pop("ORVATH_NUM_THREADS", None)
    if threads is not None:
        env["ORVATH_NUM_THREADS"] = threads
    env["PYTHONPATH"] = os.path.dirname(orvath.__file__)
    out = subprocess.run([sys.executable, "-c", PROBE, member, args], env=env, capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return [int(x) for x in out.stdout.split()]


@pytest.mark.parametrize("member, args", [
    ("magnitude", "()"), ("dot", "(Vec3d(0, 0, 0),)"), ("cross", "(Vec3d(0, 0, 0),)"),
    ("normalize", "()"), ("is_unit", "()"), ("to_array", "()"), ("collapse", "(2,)"),
    ("__add__", "(Vec3d(0, 0, 0),)"), ("__mul__", "(2.0,)"), ("__truediv__", "(0.0,)"),
    ("rotate", "(__import__('orvath').Quat(1, 0, 0, 0),)"), ("__repr__", "()"),
])
def test_first_bulk_operation_starts_the_pool_even_on_an_empty_list(member, args):
    before_import_use, after_container_use, after_first, after_second = probe(member, args)
    expected = usable_processors()
    assert (before_import_use, after_container_use) == (0, 0)
    assert after_first == after_second == expected


def test_pool_starts_before_the_empty_list_fault():
    # The unwrap failure comes from the search, after the pool was asked for.
    assert probe("__len__", "()", "3")[2] == 0
    out = subprocess.run(
        [sys.executable, "-c", "import orvath, os\n"
         "try: orvath.VecList.empty().minimum_distance_to(orvath.Vec3d(0, 0, 0), 1)\n"
         "except BaseException as e: print(str(e))\n"
         "print(len(os.listdir('/proc/self/task')) - 1)"],
        env={**os.environ, "ORVATH_NUM_THREADS": "3", "PYTHONPATH": os.path.dirname(orvath.__file__)},
        capture_output=True, text=True, timeout=120)
    assert out.stdout.split("\n")[:2] == ["called `Option::unwrap()` on a `None` value", "3"]


@pytest.mark.parametrize("setting, expected", [("1", 1), ("3", 3), ("0", None), ("lots", None)])
def test_thread_count_setting(setting, expected):
    counts = probe("magnitude", "()", setting)
    assert counts[3] == (expected if expected is not None else usable_processors())


# CPU ticks of the calling thread and of the workers over the same bulk work.
SHARES = textwrap.dedent(r"""
    import os
    from orvath import Quat, Vec3d, VecList
    def ticks():
        out = {}
        for tid in os.listdir("/proc/self/task"):
            with open(f"/proc/self/task/{tid}/stat") as fh:
                fields = fh.read().rsplit(")", 1)[1].split()
            out[tid] = int(fields[11]) + int(fields[12])
        return out
    vl = VecList([Vec3d(float(i), 1.0, -2.0) for i in range(1000)] * 1000)
    vl.normalize()
    before = ticks()
    for _ in range(100):
        vl.normalize(); vl.cross(Vec3d(1, 2, 3)); vl.rotate(Quat(0.6, 0.8, 0, 0))
    after = ticks()
    caller = str(os.getpid())
    print(after[caller] - before[caller], sum(after[t] - before.get(t, 0) for t in after if t != caller))
""")


@pytest.mark.skipif(not os.path.exists("/proc/self/task"), reason="reads the threads' times from /proc")
def test_one_thread_runs_every_operation_on_the_caller():
    out = subprocess.run([sys.executable, "-c", SHARES], capture_output=True, text=True, timeout=300,
                         env={**os.environ, "ORVATH_NUM_THREADS": "1",
                              "PYTHONPATH": os.path.dirname(orvath.__file__)})
    assert out.returncode == 0, out.stderr
    caller, workers = map(int, out.stdout.split())
    # A tick is 1/100 s of run time: the caller's seconds of work, none of it the worker's.
    assert caller >= 20
    assert workers == 0


def child_work(queue):
    from orvath import Vec3d, VecList
    vl = VecList([Vec3d(float(i), 1.0, -2.0) for i in range(300000)])
    norm = vl.normalize()
    queue.put((len(norm), norm[299999].to_array(), vl.minimum_distance_to(Vec3d(5.0, 1.0, -2.0), 1),
               sum(vl.magnitude()[:10])))


def test_bulk_operation_in_a_forked_child_completes():
    # Start the pool here, with enough work for the workers to take part.
    big = orvath.VecList([orvath.Vec3d(float(i), 1.0, -2.0) for i in range(300000)])
    expected_norm = big.normalize()
    ctx = multiprocessing.get_context("fork")
    queue = ctx.Queue()
    with warnings.catch_warnings():
        # The interpreter warns that forking a process with threads may deadlock;
        # not waiting for the parent's workers is exactly what is tested.
        warnings.simplefilter("ignore", DeprecationWarning)
        child = ctx.Process(target=child_work, args=(queue,))
        child.start()
    try:
        result = queue.get(timeout=60)
        child.join(timeout=60)
    finally:
        if child.is_alive():
            child.kill()
            child.join()
    assert child.exitcode == 0
    assert result == (300000, expected_norm[299999].to_array(), (5, 0.0),
                      sum(big.magnitude()[:10]))
    # The parent's pool is untouched by the fork.
    assert big.normalize().to_array()[-5:] == expected_norm.to_array()[-5:]
