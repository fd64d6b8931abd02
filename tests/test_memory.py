"""Memory: big lists come and go without the process growing, a lying length
hint reserves nothing that is ever touched, and an allocation that fails
raises MemoryError and leaves the list as it was."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

orvath = pytest.importorskip("orvath")
from orvath import Quat, Vec3d, VecList  # noqa: E402

from support.oddities import Seq  # noqa: E402

PAGE = os.sysconf("SC_PAGE_SIZE")
MB = 1 << 20

# Set by `make test-asan`: the sanitizer reserves terabytes of shadow memory,
# so an address-space limit cannot be applied under it.
SANITIZED = bool(os.environ.get("ORVATH_SANITIZED"))


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def build(n, block=1000):
    """An n-element list (n a multiple of block), grown by extend from one
    block: no Python object per element."""
    base = VecList([Vec3d(float(i), 0.5 * i, -1.0) for i in range(block)])
    vl = VecList.empty()
    for _ in range(n // block):
        vl.extend(base)
    return vl


N = 10_000_000


def one_round():
    """Builds, works on and drops a 10-million-element list (240 MB, and as
    much again for each list-valued result alive at once); returns the
    resident size at the peak."""
    vl = build(N)
    normalized = vl.normalize()
    scaled = 2.0 * vl
    shifted = vl - Vec3d(1.0, 1.0, 1.0)
    half_turn = Quat(0.0, 0.0, 0.0, 1.0)
    vl.rotate(half_turn)
    last = half_turn.rotate(Vec3d(999.0, 499.5, -1.0))
    # Every block of 1000 holds the same elements: the search samples the
    # first of each, and finds the exact match at the end of the first block.
    index, distance = vl.minimum_distance_to(last, 1000)
    peak = rss()
    assert len(vl) == len(normalized) == len(scaled) == len(shifted) == N
    assert (index, distance) == (999, 0.0)
    assert scaled[N - 1].to_array() == [1998.0, 999.0, -2.0]
    assert shifted[N - 1].to_array() == [998.0, 498.5, -2.0]
    assert vl[N - 1].to_array() == last.to_array()
    return peak


def test_ten_million_elements_five_times_keep_the_process_flat():
    peaks, after = [], []
    for _ in range(5):
        peaks.append(one_round())
        after.append(rss())
    # The first round starts the pool and settles the allocators; from then
    # on the peak and the resting size stay where they were. One leaked
    # element array would be 240 MB.
    assert max(peaks[1:]) - peaks[1] < 100 * MB, [p // MB for p in peaks]
    assert max(after[1:]) - after[1] < 100 * MB, [a // MB for a in after]
    # All four lists of a round were alive at its peak; after it, one block is kept for reuse.
    assert peaks[1] - after[1] > 3 * 200 * MB, (peaks[1] // MB, after[1] // MB)


@pytest.mark.parametrize("claimed", [N, 10**12, 2**62, 2**63 - 1])
def test_huge_length_hint_touches_nothing(claimed):
    """The constructor takes __len__ as a capacity hint only: a claim of
    millions or of 2**62 elements over three real items neither fails nor
    makes the process resident in memory it never fills."""
    items = [Vec3d(1.0, 2.0, 3.0), Vec3d(4.0, 5.0, 6.0), Vec3d(7.0, 8.0, 9.0)]
    before = rss()
    lists = [VecList(Seq(items, length=claimed)) for _ in range(20)]
    grown = rss() - before
    assert all(vl.to_array() == [v.to_array() for v in items] for vl in lists)
    # At most a huge page per list is touched by its three elements.
    assert grown < 20 * 2 * MB + 16 * MB, grown // MB


LIMITED = textwrap.dedent(r"""
    import json, resource, sys
    from orvath import Quat, Vec3d, VecList

    def build(n):
        base = VecList([Vec3d(float(i), 1.0, -1.0) for i in range(1000)])
        vl = VecList.empty()
        for _ in range(n // 1000):
            vl.extend(base)
        return vl

    # 72 MB: each result below needs a fresh mapping, as long as no freed
    # block is kept for reuse (the warm-up result stays alive).
    vl = build(3_000_000)
    other = build(3_000_000)
    warm = vl.normalize()                        # the pool is running before the limit
    py_items = [Vec3d(1.0, 2.0, 3.0)] * 3_000_000
    first, last = vl[0].to_array(), vl[len(vl) - 1].to_array()

    def vm():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[0]) * resource.getpagesize()

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    calls = {
        "normalize": lambda: vl.normalize(),
        "scale": lambda: vl * 2.0,
        "add": lambda: vl + Vec3d(1.0, 1.0, 1.0),
        "cross": lambda: vl.cross(Vec3d(0.0, 0.0, 1.0)),
        "collapse": lambda: vl.collapse(1),
        "extend": lambda: vl.extend(other),
        "iter": lambda: iter(vl),
        "dot": lambda: vl.dot(Vec3d(1.0, 0.0, 0.0)),
        "is_unit": lambda: vl.is_unit(),
        "to_array": lambda: vl.to_array(),
        "list": lambda: vl.list,
        "repr": lambda: repr(vl),
        "from a Python list": lambda: VecList(py_items),
        "copy of a VecList": lambda: VecList(other),
    }
    out = {}
    for name, call in calls.items():
        resource.setrlimit(resource.RLIMIT_AS, (vm() + 8 * 2**20, hard))
        try:
            call()
            outcome = "returned"
        except MemoryError:
            outcome = "MemoryError"
        except BaseException as e:
            outcome = type(e).__name__ + ": " + str(e)
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        out[name] = [outcome, len(vl), vl[0].to_array() == first, vl[len(vl) - 1].to_array() == last]
    # rotate turns the elements where they are: it needs no memory at all.
    resource.setrlimit(resource.RLIMIT_AS, (vm() + 8 * 2**20, hard))
    vl.rotate(Quat(0.0, 1.0, 0.0, 0.0))
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    out["rotate in place"] = [first, last, vl[0].to_array(), vl[len(vl) - 1].to_array()]
    vl.rotate(Quat(0.0, 1.0, 0.0, 0.0))
    # Unlimited again, everything works.
    again = vl.normalize()
    vl.extend(other)
    out["afterwards"] = [len(again), len(vl)]
    print(json.dumps(out))
""")


@pytest.mark.skipif(SANITIZED, reason="an address-space limit cannot be set under AddressSanitizer")
def test_failed_allocations_raise_memory_error_and_change_nothing():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(orvath.__file__), *sys.path]))
    result = subprocess.run([sys.executable, "-c", LIMITED], capture_output=True, text=True, env=env, timeout=300)
    assert result.returncode == 0, result.stderr
    out = json.loads(result.stdout)
    afterwards = out.pop("afterwards")
    # A half turn about x: (x, y, z) -> (x, -y, -z).
    first, last, turned_first, turned_last = out.pop("rotate in place")
    assert turned_first == [first[0], -first[1], -first[2]] and turned_last == [last[0], -last[1], -last[2]]
    for name, (outcome, length, first_same, last_same) in out.items():
        assert outcome == "MemoryError", (name, outcome)
        assert (length, first_same, last_same) == (3_000_000, True, True), name
    assert afterwards == [3_000_000, 6_000_000]
