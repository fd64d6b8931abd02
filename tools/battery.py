"""A fixed battery of orvath results, for comparing two builds bit for bit.

    python3.14 tools/battery.py > results.txt        # with the build on PYTHONPATH
    python3.14 tools/battery.py --compare a.txt b.txt [--strict]

Every member of tools/surface.py is called on the same inputs, drawn from a
seeded generator and mixed with zeros of both signs, infinities, NaN,
subnormals and the largest doubles. Each line holds the member, its inputs and
its result, floats written exactly (float.hex); a member that returns None is
followed by the state of its receiver, an exception by its type and message.

A NaN is written as "nan" whatever its sign and payload: which NaN an operation
returns is the processor's choice (x86-64 produces a negative one, arm64 a
positive one). The members that call the C library's sin, cos, tan or acos give
the platform's results; --compare reports their differences apart and fails on
them only with --strict (two builds on one system share one C library).
"""
import array
import hashlib
import math
import os
import pickle
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import surface  # noqa: E402

SAMPLES = 40
SEED = 20260517

TRIGONOMETRY = {"Vec3d.angle_to", "Quat.from_axis_angle", "Quat.to_axis_angle",
                *(f"AngleRadians.{n}" for n in ("sin", "cos", "tan", "sec", "csc", "cot"))}

INF, NAN = math.inf, math.nan
SPECIAL = [0.0, -0.0, 1.0, -1.0, 0.5, -2.0, 3.0, INF, -INF, NAN, 5e-324, -5e-324, 2.2250738585072014e-308,
           -2.225073858507201e-308, 1.7976931348623157e308, -1e300, 1e-300, 0.1, 1.0 / 3.0, 2.0 ** -52,
           1.0 + 2.0 ** -52, 1.0 - 2.0 ** -53]


class Inputs:
    """Arguments by annotation, the same sequence on every system."""

    def __init__(self, orvath):
        self.o = orvath
        self.rng = random.Random(SEED)

    def double(self):
        r = self.rng
        pick = r.random()
        if pick < 0.2:
            return r.choice(SPECIAL)
        if pick < 0.35:
            return float(r.randint(-8, 8))
        if pick < 0.7:
            return r.uniform(-10.0, 10.0)
        return math.ldexp(r.uniform(-1.0, 1.0), r.randint(-1074, 1023))

    def vec(self):
        return self.o.Vec3d(self.double(), self.double(), self.double())

    def vec_list(self, n=None):
        if n is None:
            n = self.rng.choice([0, 1, 2, 5, 17, 64, 1000])
        return self.o.VecList([self.vec() for _ in range(n)])

    def value(self, ann, receiver=None):
        """`receiver`: a VecList argument of a VecList member gets its length."""
        o, r = self.o, self.rng
        if ann == surface.FLOAT:
            return self.double()
        if ann == surface.INT or ann == ("attr", "typing.SupportsIndex"):
            return r.choice([0, 1, 2, 3, 5, 7, 64, -1])
        if ann == surface.BOOL:
            return r.random() < 0.5
        if ann == ("seq", surface.V):
            return [self.vec() for _ in range(r.choice([0, 1, 3, 20]))]
        if ann == ("coll", ("coll", surface.FLOAT)):
            if r.random() < 0.5:  # a rotation matrix, so that every branch is reached
                q = o.Quat(self.double(), self.double(), self.double(), self.double()).normalize()
                return q.to_rotation_matrix()
            return [[self.double() for _ in range(3)] for _ in range(3)]
        if ann == ("or", surface.BUFFER, ("seq", ("seq", surface.FLOAT))):
            rows = [[self.double() for _ in range(3)] for _ in range(r.choice([0, 1, 3, 20]))]
            if not rows or r.random() < 0.5:  # rows of three floats (a view cannot have length 0)
                return rows
            flat = array.array("d", [c for row in rows for c in row])  # a (n, 3) buffer of doubles
            return memoryview(flat).cast("B").cast("d", [len(rows), 3])
        if ann == surface.INDICES:  # take: negatives and positions beyond short lists too
            return [r.randint(-1, 20) for _ in range(r.choice([0, 1, 3, 20]))]
        if ann == surface.MEMO:
            return {}
        kind, name = ann
        assert kind == "cls", ann
        if name == "Vec3d":
            return self.vec()
        if name == "VecList":
            return self.vec_list(len(receiver) if type(receiver).__name__ == "VecList" else None)
        if name == "Quat":
            return o.Quat(self.double(), self.double(), self.double(), self.double())
        if name in ("AngleRadians", "AngleDegrees"):
            return getattr(o, name)(self.double())
        if name == "Plane":
            return o.geometry.Plane(self.vec(), self.double())
        if name == "Circle":
            return o.geometry.Circle(self.vec(), self.double(), self.vec())
        raise ValueError(ann)


def enc(x):
    """Exact text of a result: floats by their bits (any NaN alike), objects by their values."""
    if isinstance(x, float):
        return "nan" if math.isnan(x) else x.hex()
    if isinstance(x, (bool, int, str, dict)) or x is None:
        return repr(x)
    if isinstance(x, (bytes, bytearray, memoryview, pickle.PickleBuffer)):
        # Every byte string here is a state block of little-endian doubles:
        # written as its doubles, so that a NaN reads "nan" here too.
        data = bytes(memoryview(x))
        if len(data) % 8:
            return f"{type(x).__name__}'{data.hex()}'"
        return type(x).__name__ + enc(list(struct.unpack(f"<{len(data) // 8}d", data)))
    if isinstance(x, (list, tuple)):
        inner = ",".join(enc(v) for v in x)
        return f"[{inner}]" if isinstance(x, list) else f"({inner})"
    if type(x).__name__ == "builtin_function_or_method":  # a reconstructor, by name
        return f"<{getattr(x, '__module__', None)}.{x.__name__}>"
    name = type(x).__name__
    fields = {"Vec3d": "x y z", "Quat": "w i j k", "AngleRadians": "angle", "AngleDegrees": "angle",
              "Plane": "normal distance", "Circle": "center radius normal"}.get(name)
    if fields:
        return name + enc(tuple(getattr(x, f) for f in fields.split()))
    if name == "VecList":
        return name + enc(x.to_array())
    if name in ("iterator", "VecListIterator"):
        return name + enc(list(x))
    raise TypeError(f"no text for {name}")


def short(text):
    return text if len(text) <= 400 else "#" + hashlib.sha256(text.encode()).hexdigest()


def call(fn, args, receiver=None):
    # The fault exception is preceded by a diagnostic line on the standard
    # error stream; the battery expects it, so keep it off the terminal.
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)
    try:
        result = fn(*args)
    except BaseException as e:  # the fault exception derives from BaseException
        return f"!{type(e).__name__}: {e}"
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)
    if result is None and receiver is not None:
        return "None; " + short(enc(receiver))
    if type(result).__name__ == "VecListIterator":
        result = list(result)
    return short(enc(result))


def run(out):
    import orvath
    gen = Inputs(orvath)
    spaces = {name: (orvath.geometry if name in ("Plane", "Circle") else orvath) for name in surface.CLASSES}
    for cls_name, members in surface.CLASSES.items():
        if cls_name == "VecListIterator":
            continue  # VecList.__iter__ covers it
        cls = getattr(spaces[cls_name], cls_name)
        for m in members:
            if m["kind"] == "slot":
                continue  # the interpreter's own entry points (the buffer protocol), not ours to call
            key = f"{cls_name}.{m['name']}"
            kind = m["kind"]
            for i in range(1 if kind == "static" and not m["params"] else SAMPLES):
                if kind == "ctor":
                    args = [gen.value(a) for _, a in m["params"]]
                    line = call(cls, args)
                elif kind == "static":
                    args = [gen.value(a) for _, a in m["params"]]
                    line = call(getattr(cls, m["name"]), args)
                else:
                    receiver = gen.value(("cls", cls_name))
                    args = [] if kind == "property" else [gen.value(a, receiver) for _, a in m["params"]]
                    inputs = short(enc([receiver, *args]))  # before a mutating member runs
                    if kind == "property":
                        line = call(lambda r=receiver, n=m["name"]: getattr(r, n), [])
                    else:
                        line = call(getattr(receiver, m["name"]), args, receiver)
                    out.write(f"{key} {i} {inputs} -> {line}\n")
                    continue
                out.write(f"{key} {i} {short(enc(args))} -> {line}\n")
    for name, fn in surface.FUNCTIONS.items():
        for i in range(SAMPLES):
            args = [gen.value(a) for _, a in fn["params"]]
            line = call(getattr(orvath.geometry, name), args)
            out.write(f"geometry.{name} {i} {short(enc(args))} -> {line}\n")


def compare(path_a, path_b, strict):
    with open(path_a) as fa, open(path_b) as fb:
        a, b = fa.read().splitlines(), fb.read().splitlines()
    if len(a) != len(b) or not a:
        print(f"{path_a}: {len(a)} lines, {path_b}: {len(b)} lines")
        return 1
    differ, trig = [], []
    for la, lb in zip(a, b):
        if la != lb:
            (trig if la.split(" ", 1)[0] in TRIGONOMETRY else differ).append((la, lb))
    if trig:
        names = sorted({la.split(" ", 1)[0] for la, _ in trig})
        print(f"{len(trig)} results of the C library's trigonometry differ ({', '.join(names)})")
        if strict:
            differ += trig
    for la, lb in differ[:20]:
        print(f"- {la}\n+ {lb}")
    print(f"{len(a)} results compared, {len(differ)} differ" + ("" if strict else " (trigonometry aside)"))
    return 1 if differ else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["--compare"]:
        sys.exit(compare(sys.argv[2], sys.argv[3], "--strict" in sys.argv[4:]))
    run(sys.stdout)
