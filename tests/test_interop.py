"""VecList and the buffer protocol: the read-only (len, 3) view of the
elements and the rule that keeps it valid (no resize while a view is alive,
rotate writing through), and VecList.from_array from any exporter of rows of
three numbers or any sequence of rows, with its errors."""
import ctypes
import gc
import pickle
import struct
import sys
import threading

import pytest
from hypothesis import given, settings, strategies as st

from support.helpers import raises_exactly
from models.bits import bits, doubles
from support.oddities import Hostile, Reenter, Seq, SeqIterRaises

np = pytest.importorskip("numpy")
orvath = pytest.importorskip("orvath")
Vec3d, VecList, Quat = orvath.Vec3d, orvath.VecList, orvath.Quat

rows = st.lists(st.tuples(doubles, doubles, doubles), max_size=20)


def make(points):
    return VecList([Vec3d(*p) for p in points])


def pattern(vl):
    """The bit pattern of every component, in element order."""
    return [bits(c) for row in vl.to_array() for c in row]


def packed(points):
    return b"".join(struct.pack("<3d", *p) for p in points)


# ---------------------------------------------------------------------------
# The exported view


@given(points=rows)
def test_view_is_the_elements_as_doubles(points):
    vl = make(points)
    with memoryview(vl) as m:
        assert (m.format, m.itemsize, m.ndim, m.shape, m.strides) == ("d", 8, 2, (len(points), 3), (24, 8))
        assert m.readonly and m.c_contiguous and m.obj is vl
        assert m.tobytes() == packed(points)
    assert bytes(vl) == packed(points)
    a = np.asarray(vl)
    assert a.shape == (len(points), 3) and a.dtype == np.float64
    assert not a.flags.writeable and not a.flags.owndata
    assert a.tobytes() == packed(points)


def test_empty_list_exports_zero_rows():
    vl = VecList.empty()
    assert np.asarray(vl).shape == (0, 3)
    assert memoryview(vl).shape == (0, 3)
    assert bytes(vl) == b""


def test_numpy_reads_the_list_memory_without_copying():
    vl = make([(1.0, 2.0, 3.0)] * 1000)
    a, b = np.asarray(vl), np.asarray(vl)
    assert a.__array_interface__["data"][0] == b.__array_interface__["data"][0]
    copy = np.array(vl)
    assert copy.flags.owndata and copy.flags.writeable and copy.tobytes() == a.tobytes()
    with pytest.raises(ValueError, match="read-only"):
        a[0, 0] = 9.0


class PyBuffer(ctypes.Structure):
    _fields_ = [("buf", ctypes.c_void_p), ("obj", ctypes.c_void_p), ("len", ctypes.c_ssize_t),
                ("itemsize", ctypes.c_ssize_t), ("readonly", ctypes.c_int), ("ndim", ctypes.c_int),
                ("format", ctypes.c_char_p), ("shape", ctypes.POINTER(ctypes.c_ssize_t)),
                ("strides", ctypes.POINTER(ctypes.c_ssize_t)), ("suboffsets", ctypes.c_void_p),
                ("internal", ctypes.c_void_p)]


SIMPLE, WRITABLE, FORMAT, ND = 0, 0x1, 0x4, 0x8
STRIDES = 0x10 | ND
F_CONTIGUOUS = 0x40 | STRIDES
ANY_CONTIGUOUS = 0x80 | STRIDES


def request(obj, flags):
    """(ndim, shape, strides, format, len) of the view a consumer asking with
    `flags` gets, released again before returning."""
    view = PyBuffer()
    ctypes.pythonapi.PyObject_GetBuffer(ctypes.py_object(obj), ctypes.byref(view), flags)
    try:
        shape = tuple(view.shape[i] for i in range(view.ndim)) if view.shape else None
        strides = tuple(view.strides[i] for i in range(view.ndim)) if view.strides else None
        return view.ndim, shape, strides, view.format, view.len
    finally:
        ctypes.pythonapi.PyBuffer_Release(ctypes.byref(view))


@pytest.mark.parametrize("flags, expected", [
    (SIMPLE, (1, None, None, None, 48)),
    (ND, (2, (2, 3), None, None, 48)),
    (STRIDES | FORMAT, (2, (2, 3), (24, 8), b"d", 48)),
    (ANY_CONTIGUOUS | FORMAT, (2, (2, 3), (24, 8), b"d", 48)),
])
def test_views_follow_the_request(flags, expected):
    vl = make([(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)])
    assert request(vl, flags) == expected
    vl.append(Vec3d(0.0, 0.0, 0.0))  # every view was released


@pytest.mark.parametrize("flags, n, message", [
    (WRITABLE, 2, "Object is not writable."),
    (STRIDES | WRITABLE, 0, "Object is not writable."),
    (F_CONTIGUOUS, 2, "the elements are C-contiguous, not Fortran-contiguous"),
])
def test_refused_requests(flags, n, message):
    vl = make([(1.0, 2.0, 3.0)] * n)
    raises_exactly(BufferError, message, lambda: request(vl, flags))
    vl.append(Vec3d(0.0, 0.0, 0.0))  # nothing was counted as exported


@pytest.mark.parametrize("n", [0, 1])
def test_no_or_one_row_is_fortran_contiguous_too(n):
    assert request(make([(1.0, 2.0, 3.0)] * n), F_CONTIGUOUS)[:3] == (2, (n, 3), (24, 8))


VIEWS = {
    "memoryview": memoryview,
    "ndarray": np.asarray,
    "PickleBuffer": pickle.PickleBuffer,
    "sliced ndarray": lambda vl: np.asarray(vl)[1:, ::2],
}


@pytest.mark.parametrize("make_view", VIEWS.values(), ids=VIEWS.keys())
def test_no_resize_while_a_view_is_alive(make_view):
    vl = make([(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)])
    before = bytes(vl)
    view = make_view(vl)
    message = "Existing exports of data: object cannot be re-sized"
    raises_exactly(BufferError, message, lambda: vl.append(Vec3d(7.0, 8.0, 9.0)))
    raises_exactly(BufferError, message, lambda: vl.extend(make([(7.0, 8.0, 9.0)])))
    assert bytes(vl) == before
    vl.normalize()  # reading members are not affected
    del view
    gc.collect()
    vl.append(Vec3d(7.0, 8.0, 9.0))
    vl.extend(make([(1.0, 1.0, 1.0)]))
    assert len(vl) == 4


def test_rotate_writes_through_to_views():
    points = [(1.0, 2.0, 3.0), (-0.0, 5e-324, 1e300), (0.5, -4.0, 2.0)] * 100_000  # split on the pool
    q = Quat(0.5, -0.5, 0.5, 0.5)
    unviewed = make(points)
    unviewed.rotate(q)
    vl = make(points)
    a = np.asarray(vl)
    address = a.__array_interface__["data"][0]
    vl.rotate(q)
    assert a.tobytes() == bytes(unviewed)
    assert np.asarray(vl).__array_interface__["data"][0] == address


def test_a_view_keeps_its_list_alive():
    vl = make([(1.0, 2.0, 3.0)])
    count = sys.getrefcount(vl)
    m = memoryview(vl)
    assert sys.getrefcount(vl) == count + 1
    del vl
    gc.collect()
    assert m.tolist() == [[1.0, 2.0, 3.0]]
    m.release()


def test_views_and_appends_on_two_threads():
    """Appends and views race: every append either happens or is refused
    with the export error, and every view shows a whole prefix of the final
    list."""
    vl = make([(0.0, 0.0, 0.0)])
    seen, refused = [], []
    stop = threading.Event()

    def viewer():
        while True:
            with memoryview(vl) as m:
                seen.append(m.tobytes())
            if stop.is_set():
                break

    def appender():
        for i in range(1, 3000):
            try:
                vl.append(Vec3d(float(i), 0.0, 0.0))
            except BufferError as e:
                assert str(e) == "Existing exports of data: object cannot be re-sized"
                refused.append(i)
        stop.set()

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=viewer), threading.Thread(target=appender)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    final = bytes(vl)
    assert len(vl) == 3000 - len(refused)
    assert seen and all(final.startswith(s) and len(s) % 24 == 0 for s in seen)


# ---------------------------------------------------------------------------
# numpy's operators defer to the list's


def test_numpy_scalars_meet_the_list_operators():
    vl = make([(1.0, -2.0, 3.5), (0.1, 0.2, 0.3)])
    product = np.float64(2.5) * vl
    assert type(product) is VecList and pattern(product) == pattern(vl * 2.5)
    assert pattern(np.int64(3) * vl) == pattern(3.0 * vl)
    for call in (lambda: np.float64(2.0) / vl, lambda: vl + np.float64(1.0), lambda: np.ones(3) + vl):
        with pytest.raises(TypeError):
            call()


# ---------------------------------------------------------------------------
# from_array: buffers

FORMATS = ["<f8", ">f8", "<f4", ">f4", "<f2", ">f2", "i1", "u1", "<i2", ">u2", "<i4", ">u4", "<i8", ">i8", "<u8",
           ">u8", "?"]


@pytest.mark.parametrize("dtype", FORMATS)
@given(data=st.data())
def test_every_number_format_converts_as_float_does(dtype, data):
    """Any bytes at all, read in any number format: each element is float()
    of the numpy scalar, bit for bit (NaN payloads included)."""
    size = np.dtype(dtype).itemsize
    raw = data.draw(st.binary(max_size=3 * size * 6).map(lambda b: b[:len(b) // (3 * size) * 3 * size]))
    a = np.frombuffer(raw, dtype).reshape(-1, 3)
    got = pattern(VecList.from_array(a))
    assert got == [bits(float(x)) for x in a.ravel()]


def _structured_field(n):
    """Rows of three doubles at odd addresses, 25 bytes apart."""
    s = np.zeros(n, dtype=[("pad", "u1"), ("p", "<f8", (3,))])
    s["p"] = np.arange(3 * n, dtype=float).reshape(n, 3) - 7.5
    return s["p"]


LAYOUTS = {
    "every other row": lambda a: a[::2],
    "reversed": lambda a: a[::-1],
    "columns of a wider array": lambda a: np.hstack([a, a[:, :1]])[:, :3],
    "columns reversed": lambda a: a[:, ::-1],
    "column-major": np.asfortranarray,
    "one row broadcast": lambda a: np.broadcast_to(a[1], a.shape),
    "unaligned": lambda a: _structured_field(len(a)),
    "float32 strided": lambda a: a.astype(np.float32)[::3],
    "big-endian strided": lambda a: a.astype(">f8")[1::2],
}


@pytest.mark.parametrize("layout", LAYOUTS.values(), ids=LAYOUTS.keys())
@pytest.mark.parametrize("n", [7, 200_000])
def test_any_strides(layout, n):
    base = np.random.default_rng(n).standard_normal((n, 3)) * 1e3
    base[0] = (-0.0, np.inf, np.nan)
    view = layout(base)
    got = VecList.from_array(view)
    assert len(got) == len(view)
    assert bytes(got) == np.ascontiguousarray(view, dtype=np.float64).tobytes()


def test_buffers_without_numpy():
    vl = make([(1.0, -0.0, 3.0), (4.0, 5.0, 6.0)])
    for source in (vl, memoryview(vl), memoryview(bytes(vl)).cast("d", (2, 3)), (ctypes.c_double * 3 * 2)(),
                   ((ctypes.c_int32.__ctype_be__) * 3 * 2)()):
        got = VecList.from_array(source)
        assert bytes(got) == np.array(memoryview(source), dtype=float).tobytes()
    assert VecList.from_array(vl) is not vl


class Exporter:
    """A buffer exporter written in Python (PEP 688), counting its releases."""

    def __init__(self, array):
        self.array, self.released = array, 0

    def __buffer__(self, flags):
        return memoryview(self.array)

    def __release_buffer__(self, view):
        self.released += 1
        view.release()


@pytest.mark.parametrize("array, ok", [(np.ones((2, 3)), True), (np.ones((2, 2)), False),
                                       (np.ones((2, 3), complex), False)])
def test_the_exporter_is_released_on_every_path(array, ok):
    exporter = Exporter(array)
    if ok:
        assert bytes(VecList.from_array(exporter)) == array.tobytes()
    else:
        with pytest.raises((ValueError, TypeError)):
            VecList.from_array(exporter)
    assert exporter.released == 1


# ---------------------------------------------------------------------------
# from_array: sequences of rows


@given(points=rows)
def test_sequences_of_rows_round_trip(points):
    vl = make(points)
    for source in (vl.to_array(), [tuple(r) for r in vl.to_array()], tuple(vl.list), vl.list):
        assert pattern(VecList.from_array(source)) == pattern(vl)


def test_rows_of_any_number_kind():
    got = VecList.from_array([[1, True, np.float32(0.1)], (np.int64(2**53 + 1), 2.5, np.float64(-0.0)),
                              np.array([1, 2, 3], dtype=np.uint8)])
    assert pattern(got) == [bits(float(x)) for x in
                            (1, True, np.float32(0.1), np.int64(2**53 + 1), 2.5, -0.0, 1, 2, 3)]


def test_a_row_changed_while_it_is_read():
    """A __float__ that empties its own row: the row's items were taken
    before any of them converted."""
    row = [None, 2.0, 3.0]
    row[0] = Reenter(lambda: row.clear(), 1.0)
    assert VecList.from_array([row]).to_array() == [[1.0, 2.0, 3.0]]
    assert row == []


def test_outer_length_is_only_a_hint():
    assert VecList.from_array(Seq([[1, 2, 3], [4, 5, 6]], length=2**62)).to_array() == [[1, 2, 3], [4, 5, 6]]


@pytest.mark.parametrize("array, exc, message", [
    (np.zeros((4, 2)), ValueError, "expected an array of shape (n, 3), got (4, 2)"),
    (np.zeros((2, 4)), ValueError, "expected an array of shape (n, 3), got (2, 4)"),
    (np.zeros(3), ValueError, "expected an array of shape (n, 3), got (3,)"),
    (np.zeros((2, 3, 3)), ValueError, "expected an array of shape (n, 3), got (2, 3, 3)"),
    (np.float64(1.0), ValueError, "expected an array of shape (n, 3), got ()"),
    (b"abc", ValueError, "expected an array of shape (n, 3), got (3,)"),
    (np.zeros((2, 3), complex), TypeError, "argument 'array': expected an array of real numbers, got format 'Zd'"),
    (np.zeros((2, 3), object), TypeError, "argument 'array': expected an array of real numbers, got format 'O'"),
    (np.zeros((2, 3), "S2"), TypeError, "argument 'array': expected an array of real numbers, got format '2s'"),
    ([[1, 2], [3, 4, 5]], ValueError, "expected a sequence of length 3 at index 0, got length 2"),
    ([[1, 2, 3], (4, 5, 6, 7)], ValueError, "expected a sequence of length 3 at index 1, got length 4"),
    ([[1, 2, 3], "ab"], ValueError, "expected a sequence of length 3 at index 1, got length 2"),
    ([[1, 2, 3], 7], TypeError, "argument 'array': expected a sequence of length 3 at index 1, got 'int' object"),
    ([{1, 2, 3}], TypeError, "argument 'array': expected a sequence of length 3 at index 0, got 'set' object"),
    ([[1, "x", 3]], TypeError, "argument 'array': must be real number, not str"),
    ([[1, 2, None]], TypeError, "argument 'array': must be real number, not NoneType"),
    ([[1, 2, 10**400]], OverflowError, "int too large to convert to float"),
    (5, TypeError, "argument 'array': 'int' object is not an instance of 'Sequence'"),
    (None, TypeError, "argument 'array': 'None' is not an instance of 'Sequence'"),
    ({(1, 2, 3)}, TypeError, "argument 'array': 'set' object is not an instance of 'Sequence'"),
    (SeqIterRaises([[1, 2, 3]] * 2, 1, TypeError("iter")), TypeError, "argument 'array': iter"),
    (SeqIterRaises([[1, 2, 3]] * 2, 1, Hostile("iter")), Hostile, "iter"),
])
def test_errors(array, exc, message):
    raises_exactly(exc, message, lambda: VecList.from_array(array))


# An exporter written against the C protocol whose description of its
# buffer contradicts itself: a type made with PyType_FromSpec whose
# getbuffer slot is a ctypes callback filling in what it is told.
class PyTypeSlot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("pfunc", ctypes.c_void_p)]


class PyTypeSpec(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("basicsize", ctypes.c_int), ("itemsize", ctypes.c_int),
                ("flags", ctypes.c_uint), ("slots", ctypes.POINTER(PyTypeSlot))]


GETBUFFER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.POINTER(PyBuffer), ctypes.c_int)
Py_bf_getbuffer = 1


def lying_exporter(ndim=2, shape=(2, 3), itemsize=8, fmt=b"d", length=None, suboffsets=False):
    """An object exporting 48 bytes of memory as described."""
    memory = (ctypes.c_char * 48)()
    shape_array = (ctypes.c_ssize_t * max(len(shape), 1))(*shape)
    suboffset_array = (ctypes.c_ssize_t * 2)(0, 0)

    def getbuffer(obj, view, flags):
        v = view.contents
        ctypes.pythonapi.Py_IncRef(ctypes.py_object(obj))
        v.obj = id(obj)
        v.buf = ctypes.addressof(memory)
        v.len = 48 if length is None else length
        v.itemsize, v.readonly, v.ndim, v.format = itemsize, 1, ndim, fmt
        v.shape = ctypes.cast(shape_array, ctypes.POINTER(ctypes.c_ssize_t)) if shape else None
        v.strides = None
        v.suboffsets = ctypes.addressof(suboffset_array) if suboffsets else None
        return 0

    callback = GETBUFFER(getbuffer)
    slots = (PyTypeSlot * 2)(PyTypeSlot(Py_bf_getbuffer, ctypes.cast(callback, ctypes.c_void_p)), PyTypeSlot(0, None))
    type_description = PyTypeSpec(b"lying.Exporter", 0, 0, 0, slots)
    ctypes.pythonapi.PyType_FromSpec.restype = ctypes.py_object
    cls = ctypes.pythonapi.PyType_FromSpec(ctypes.byref(type_description))
    cls.keep = (memory, shape_array, suboffset_array, callback)  # alive as long as the type
    return cls()


@pytest.mark.parametrize("lie, message", [
    (dict(itemsize=4), "its item size is not its format's"),
    (dict(length=40), "its length is not its shape's"),
    (dict(shape=(2**62, 3), length=0), "its length is not its shape's"),  # 2**62 * 24 wraps to 0
    (dict(shape=()), "it has no shape"),
    (dict(suboffsets=True), "it has suboffsets"),
])
def test_a_buffer_that_contradicts_itself_is_refused(lie, message):
    exporter = lying_exporter(**lie)
    count = sys.getrefcount(exporter)
    raises_exactly(BufferError, "inconsistent buffer: " + message, lambda: VecList.from_array(exporter))
    assert sys.getrefcount(exporter) == count  # the view was released
    assert bytes(VecList.from_array(lying_exporter())) == bytes(48)


def test_arguments():
    raises_exactly(TypeError, "VecList.from_array() missing 1 required positional argument: 'array'",
                   VecList.from_array)
    assert VecList.from_array(array=[[1, 2, 3]]).to_array() == [[1.0, 2.0, 3.0]]
    assert VecList.from_array.__text_signature__ == "(array)"
