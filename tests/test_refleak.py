"""Reference and memory leaks.

Every public call of orvath (each method, property get/set/delete, operator in
both its syntax and its slot-wrapper form, static method, constructor through
vectorcall and through __new__, module function) and every error path
(argument parsing, wrong types, borrow conflicts, IndexError, OverflowError,
the fault exception, circle_circle's ValueErrors, NotImplemented operators,
hostile sequences), as the table in support/calls.py lists them, is run once
to check it takes the intended path, warmed up, then repeated; afterwards the interpreter's total reference count, its count of
allocated memory blocks, the bytes in use on the C heap and the process's
mapped size must be where they were, within a small constant slack.

Needs a debug interpreter (sys.gettotalrefcount) with orvath built against it
(`make test-refleak`); anywhere else the module skips.
"""
import contextlib
import ctypes
import gc
import os
import sys

import pytest

if not hasattr(sys, "gettotalrefcount"):
    pytest.skip("needs a debug interpreter (sys.gettotalrefcount)", allow_module_level=True)

from support.calls import CASES, Sink, outcome  # noqa: E402
from support.members import Vec3d  # noqa: E402


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


# ---------------------------------------------------------------------------
# The calls (support/calls.py)

@pytest.mark.parametrize("case", CASES, ids=[c.id for c in CASES])
def test_no_leak(case):
    with contextlib.redirect_stderr(Sink()):
        got = outcome(case.run)
        assert got is case.expect, f"{case.id}: raised {got}, expected {case.expect}"
        report = leak_report(case.run, case.repeat)
    assert report is None, f"{case.id}: grew by {report} over {case.repeat} calls"


# ---------------------------------------------------------------------------
# The measure itself

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
