"""Copy and pickle for every value class: the state each class hands pickle,
bit-exact round trips through every protocol, stored fields restored as they
were, a VecList's elements as one block (out of band with protocol 5),
pickles loaded in a fresh interpreter, and the reconstructor's errors."""
import copy
import os
import pickle
import struct
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, strategies as st

from support.helpers import raises_exactly
from models.bits import from_bits
from support.members import snapshot

orvath = pytest.importorskip("orvath")
Vec3d, VecList, Quat = orvath.Vec3d, orvath.VecList, orvath.Quat
AngleRadians, AngleDegrees = orvath.AngleRadians, orvath.AngleDegrees
Plane, Circle = orvath.geometry.Plane, orvath.geometry.Circle

# Every bit pattern: NaN payloads (signalling ones too), -0.0, subnormals.
anybits = st.integers(0, 2**64 - 1).map(from_bits)


# Objects whose stored fields are exactly the given doubles, in state order.
# Plane and Circle go through their setters, which store without normalising.
def plane(nx, ny, nz, constant):
    p = Plane.xy()
    p.normal, p.distance = Vec3d(nx, ny, nz), constant
    return p


def circle(cx, cy, cz, radius, nx, ny, nz):
    c = Circle.none()
    c.center, c.radius, c.normal = Vec3d(cx, cy, cz), radius, Vec3d(nx, ny, nz)
    return c


def vec_list(*fields):
    return VecList([Vec3d(*fields[i:i + 3]) for i in range(0, len(fields), 3)])


MAKERS = {
    "Vec3d": (3, Vec3d),
    "Quat": (4, Quat),
    "AngleRadians": (1, AngleRadians),
    "AngleDegrees": (1, AngleDegrees),
    "Plane": (4, plane),
    "Circle": (7, circle),
    "VecList": (9, vec_list),
}


def fields_st(name):
    count, _ = MAKERS[name]
    if name == "VecList":
        return st.integers(0, 4).flatmap(lambda n: st.lists(anybits, min_size=3 * n, max_size=3 * n))
    return st.lists(anybits, min_size=count, max_size=count)


def build(name, fields):
    return MAKERS[name][1](*fields)


@pytest.mark.parametrize("name", MAKERS)
@given(data=st.data())
def test_the_state_is_the_fields_little_endian(name, data):
    fields = data.draw(fields_st(name))
    obj = build(name, fields)
    fn, args = obj.__reduce__()
    assert fn is orvath._restore
    assert args == (name, struct.pack(f"<{len(fields)}d", *fields))


@pytest.mark.parametrize("name", MAKERS)
@given(data=st.data())
def test_pickles_and_copies_keep_every_bit(name, data):
    obj = build(name, data.draw(fields_st(name)))
    old = snapshot(obj)
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        again = pickle.loads(pickle.dumps(obj, protocol))
        assert type(again) is type(obj) and snapshot(again) == old
    for twin in (copy.copy(obj), copy.deepcopy(obj)):
        assert twin is not obj and type(twin) is type(obj) and snapshot(twin) == old


MUTATIONS = {
    "Vec3d": lambda o: setattr(o, "x", 9.0),
    "Quat": lambda o: setattr(o, "k", 9.0),
    "AngleRadians": lambda o: setattr(o, "angle", 9.0),
    "AngleDegrees": lambda o: setattr(o, "angle", 9.0),
    "Plane": lambda o: setattr(o, "normal", Vec3d(9.0, 9.0, 9.0)),
    "Circle": lambda o: setattr(o, "radius", 9.0),
    "VecList": lambda o: o.append(Vec3d(9.0, 9.0, 9.0)),
}


@pytest.mark.parametrize("name", MAKERS)
@pytest.mark.parametrize("duplicate", [copy.copy, copy.deepcopy, lambda o: pickle.loads(pickle.dumps(o, 5))],
                         ids=["copy", "deepcopy", "pickle"])
def test_copies_are_independent(name, duplicate):
    obj = build(name, [0.5 * (i + 1) for i in range(MAKERS[name][0])])
    old = snapshot(obj)
    twin = duplicate(obj)
    MUTATIONS[name](twin)
    assert snapshot(obj) == old and snapshot(twin) != old


def test_a_large_list_round_trips_through_the_pool():
    fields = [from_bits((i * 0x9E3779B97F4A7C15) % 2**64) for i in range(3 * 300_000)]
    vl = vec_list(*fields)
    block = struct.pack(f"<{len(fields)}d", *fields)
    assert vl.__reduce_ex__(4)[1] == ("VecList", block)
    for protocol in (2, 4, 5):
        assert bytes(pickle.loads(pickle.dumps(vl, protocol))) == block


def test_protocol_5_hands_out_the_list_memory():
    vl = vec_list(*[float(i) for i in range(3 * 1000)])
    buffers = []
    data = pickle.dumps(vl, 5, buffer_callback=buffers.append)
    assert len(buffers) == 1 and len(data) < 100  # the block is not in the stream
    with buffers[0].raw() as raw, memoryview(vl) as own:
        assert raw.tobytes() == own.tobytes()
    message = "Existing exports of data: object cannot be re-sized"
    raises_exactly(BufferError, message, lambda: vl.append(Vec3d(0.0, 0.0, 0.0)))
    again = pickle.loads(data, buffers=buffers)
    assert bytes(again) == bytes(vl)
    buffers[0].release()
    vl.append(Vec3d(0.0, 0.0, 0.0))
    assert len(again) == 1000  # a copy, not a view of vl
    in_band = pickle.dumps(vl, 5)
    assert len(in_band) > 24 * len(vl) and bytes(pickle.loads(in_band)) == bytes(vl)


def test_protocol_5_state_is_the_list_itself():
    vl = vec_list(1.0, 2.0, 3.0)
    fn, (name, state) = vl.__reduce_ex__(5)
    assert (fn, name, type(state)) == (orvath._restore, "VecList", pickle.PickleBuffer)
    with memoryview(state) as m:
        assert m.obj is vl


def test_pickles_load_in_a_fresh_interpreter(tmp_path):
    """Every class, through every protocol, in a new process: what it loads
    pickles again to the very same bytes. The second part imports orvath once
    more, which makes a new _restore, and pickles with that."""
    objects = [Vec3d(1.0, -0.0, from_bits(0x7FF0000000000001)), Quat(0.5, -0.5, 0.5, -0.5),
               AngleRadians(float("inf")), AngleDegrees(from_bits(0xFFF8DEADBEEF0001)),
               plane(0.0, 0.0, 2.0, -5.0), circle(1.0, 2.0, 3.0, -2.0, 0.0, 0.0, 5.0),
               vec_list(1.0, 2.0, 3.0, 5e-324, -1e308, 0.1)]
    reference = pickle.dumps(objects, 2)
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        (tmp_path / f"p{protocol}").write_bytes(pickle.dumps(objects, protocol))
    script = textwrap.dedent(f"""
        import pickle, sys
        for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
            with open({str(tmp_path)!r} + f"/p{{protocol}}", "rb") as f:
                print(pickle.dumps(pickle.loads(f.read()), 2).hex())
        del sys.modules["orvath"]
        import orvath
        v = pickle.loads(pickle.dumps(orvath.Vec3d(1.0, 2.0, 3.0)))
        print(v.to_array(), "orvath" in sys.modules)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[:-1] == [reference.hex()] * (pickle.HIGHEST_PROTOCOL - 1)
    assert lines[-1] == "[1.0, 2.0, 3.0] True"


def test_the_reconstructor_is_unpublished():
    fn = orvath._restore
    assert "_restore" not in orvath.__all__
    assert fn.__module__ == "orvath" and fn.__self__ is orvath
    assert fn.__text_signature__ == "(name, state)"


@pytest.mark.parametrize("args, exc, message", [
    (("Nope", b""), ValueError, "no class named 'Nope' can be restored"),
    (("VecListIterator", b""), ValueError, "no class named 'VecListIterator' can be restored"),
    (("Vec3d", bytes(23)), ValueError, "the state of a Vec3d is 24 bytes, got 23"),
    (("Circle", bytes(64)), ValueError, "the state of a Circle is 56 bytes, got 64"),
    (("VecList", bytes(25)), ValueError, "the state of a VecList is a multiple of 24 bytes, got 25"),
    ((1, b""), TypeError, "argument 'name': 'int' object is not an instance of 'str'"),
    (("Vec3d", 5), TypeError, "argument 'state': a bytes-like object is required, not 'int'"),
    (("Vec3d",), TypeError, "_restore() missing 1 required positional argument: 'state'"),
])
def test_reconstructor_errors(args, exc, message):
    raises_exactly(exc, message, lambda: orvath._restore(*args))


def test_reconstructor_takes_any_contiguous_buffer():
    block = struct.pack("<6d", 1.0, 2.0, 3.0, 4.0, 5.0, 6.0)
    for state in (block, bytearray(block), memoryview(block), memoryview(block).cast("d")):
        assert orvath._restore(state=state, name="VecList").to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]
    assert orvath._restore("VecList", b"").to_array() == []
