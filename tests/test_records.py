"""The typing records exported by the library, read from its dynamic symbols."""
import collections
import ctypes
import hashlib
import json
import os
import subprocess
import sys

import pytest

import orvath

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "tools"))
import records as records_mod  # noqa: E402

LIB = orvath.__file__
RECORDS = records_mod.read_records(LIB)

# Members added beyond the specified surface, as (class, member); each brings
# one record.
ADDED = {("Vec3d", "__iter__"), ("Quat", "then"), ("Quat", "inverse"), ("Quat", "slerp"),
         ("Quat", "from_rotation_matrix"), ("Quat", "from_two_vectors"),
         ("VecList", "from_array"), ("VecList", "__reduce_ex__"), ("VecList", "__buffer__"),
         ("VecList", "__release_buffer__"),
         *(("VecList", m) for m in ("take", "add_each", "sub_each", "cross_each", "dot_each", "magnitude_array",
                                    "dot_array", "distance_to_array", "distance_squared_array", "__copy__",
                                    "__deepcopy__")),
         ("VecList", "sum"), ("VecList", "mean"), ("VecList", "bounds"),
         *((c, "__reduce__") for c in ("Vec3d", "VecList", "Quat", "AngleRadians", "AngleDegrees", "Plane", "Circle"))}
# The specified records are a contract that other tools read: SHA-256 over
# their symbol names and raw bytes (length word and JSON), in symbol order.
SPECIFIED_SHA256 = "19831be553d19decd3cabb319e9ee614cb08f1efec2b1310502c34d962cba0f8"


def by_type(kind):
    return [r for r in RECORDS.values() if r["type"] == kind]


def split_added():
    """({symbol: record} of the specified surface, {symbol: (class, member)} of the additions)."""
    classes = {r["id"]: r["name"] for r in by_type("class")}
    added = {}
    for symbol, rec in RECORDS.items():
        key = (classes.get(rec.get("parent")), rec["name"])
        if key in ADDED:
            added[symbol] = key
    return {s: r for s, r in RECORDS.items() if s not in added}, added


def test_counts():
    specified, added = split_added()
    kinds = collections.Counter(r["type"] for r in specified.values())
    assert kinds == {"module": 2, "class": 8, "function": 154}
    assert sorted(added.values()) == sorted(ADDED)


def test_specified_records_are_unchanged_byte_for_byte():
    with open(LIB, "rb") as fh:
        data = fh.read()
    symbols = records_mod.dynamic_symbols(LIB)
    digest = hashlib.sha256()
    for symbol in sorted(split_added()[0]):
        address, size = symbols[symbol]
        offset = records_mod.file_offset(data, address)
        digest.update(symbol.encode() + b"\0" + data[offset:offset + size])
    assert digest.hexdigest() == SPECIFIED_SHA256


def test_exports_are_entry_point_and_records_only():
    out = subprocess.run(["nm", "-D", "--defined-only", LIB], capture_output=True, text=True, check=True)
    names = [line.split()[-1] for line in out.stdout.splitlines() if line.strip()]
    others = [n for n in names if not n.startswith(records_mod.PREFIX)]
    assert others == ["PyInit_orvath"]
    assert len(names) == 1 + 164 + len(ADDED)


def test_symbol_suffix_is_unique_id():
    suffixes = [name[len(records_mod.PREFIX):] for name in RECORDS]
    assert all(s.isdigit() and int(s) < 2**64 for s in suffixes)
    ids = [r["id"] for r in RECORDS.values() if "id" in r]
    assert len(ids) == len(set(ids)) == 2 + 8 + 4
    for name, rec in RECORDS.items():
        if "id" in rec:
            assert name == records_mod.PREFIX + rec["id"]


def test_records_match_loaded_memory():
    """ctypes reads the same bytes from the loaded library as the file holds."""
    lib = ctypes.CDLL(LIB)
    for name, rec in list(RECORDS.items())[:20]:
        addr = ctypes.addressof(ctypes.c_char.in_dll(lib, name))
        length = int.from_bytes(ctypes.string_at(addr, 4), "little")
        assert json.loads(ctypes.string_at(addr + 4, length).decode()) == rec


def test_classes_are_final_and_exist():
    for cls in by_type("class"):
        assert cls["decorators"] == [{"type": "attribute", "value": {"type": "name", "id": "typing"},
                                      "attr": "final"}]
        if cls["name"] == "VecListIterator":
            assert type(iter(orvath.VecList.empty())).__name__ == "VecListIterator"
        else:
            owner = orvath.geometry if cls["name"] in ("Plane", "Circle") else orvath
            assert isinstance(getattr(owner, cls["name"]), type)


def live_class(name):
    if name == "VecListIterator":
        return type(iter(orvath.VecList.empty()))
    return getattr(orvath.geometry if name in ("Plane", "Circle") else orvath, name)


def test_every_member_record_names_a_live_member():
    classes = {r["id"]: r["name"] for r in by_type("class")}
    for rec in by_type("function"):
        if "parent" not in rec:
            assert callable(getattr(orvath.geometry, rec["name"]))
            continue
        cls = live_class(classes[rec["parent"]])
        assert rec["name"] in vars(cls), (cls.__name__, rec["name"])


def test_method_signatures_match_text_signatures():
    classes = {r["id"]: r["name"] for r in by_type("class")}
    for rec in by_type("function"):
        args = [a["name"] for a in rec["arguments"]["args"]]
        decorators = rec["decorators"]
        if "parent" not in rec:
            fn = getattr(orvath.geometry, rec["name"])
            assert fn.__text_signature__ == "(" + ", ".join(args) + ")"
            assert "posonlyargs" not in rec["arguments"]
            continue
        cls = live_class(classes[rec["parent"]])
        if rec["name"] == "__new__":
            assert rec["arguments"]["posonlyargs"] == [{"name": "cls"}]
            assert cls.__text_signature__ == "(" + ", ".join(args) + ")"
        elif decorators == [{"type": "name", "id": "staticmethod"}]:
            assert "posonlyargs" not in rec["arguments"]
            assert vars(cls)[rec["name"]].__func__.__text_signature__ == "(" + ", ".join(args) + ")"
        elif not decorators and not rec["name"].startswith("__"):
            assert rec["arguments"]["posonlyargs"] == [{"name": "self"}]
            assert getattr(cls, rec["name"]).__text_signature__ == "(" + ", ".join(["$self"] + args) + ")"


def test_setter_records():
    classes = {r["id"]: r["name"] for r in by_type("class")}
    setters = [r for r in by_type("function") if r["decorators"] and r["decorators"][0]["type"] == "attribute"]
    assert len(setters) == 3 + 4 + 1 + 1 + 2 + 3  # Vec3d, Quat, angles, Plane, Circle
    for rec in setters:
        deco = rec["decorators"][0]
        assert deco["attr"] == "setter"
        assert deco["value"] == {"type": "attribute", "value": {"type": "id", "id": rec["parent"]},
                                 "attr": rec["name"]}
        assert [a["name"] for a in rec["arguments"]["args"]] == ["value"]
        assert rec["returns"] == {"type": "constant", "kind": "none"}
        prop = vars(live_class(classes[rec["parent"]]))[rec["name"]]
        assert prop.__set__ is not None


@pytest.mark.parametrize("cls, name, expected", [
    ("VecListIterator", "__next__", {"type": "binop", "op": "bitor", "left": "Vec3d",
                                     "right": {"type": "constant", "kind": "none"}}),
    ("Vec3d", "to_array", {"type": "subscript", "value": {"type": "attribute", "value":
                           {"type": "name", "id": "builtins"}, "attr": "list"},
                           "slice": {"type": "attribute", "value": {"type": "name", "id": "builtins"},
                                     "attr": "float"}}),
])
def test_annotation_shapes(cls, name, expected):
    class_ids = {r["name"]: r["id"] for r in by_type("class")}
    rec = next(r for r in by_type("function") if r.get("parent") == class_ids[cls] and r["name"] == name)
    if expected["type"] == "binop":
        expected = dict(expected, left={"type": "id", "id": class_ids[expected["left"]]})
    assert rec["returns"] == expected


def test_vec_list_constructor_annotation():
    class_ids = {r["name"]: r["id"] for r in by_type("class")}
    rec = next(r for r in by_type("function") if r.get("parent") == class_ids["VecList"]
               and r["name"] == "__new__")
    seq = rec["arguments"]["args"][0]["annotation"]
    assert seq["value"] == {"type": "attribute", "attr": "Sequence", "value": {
        "type": "attribute", "attr": "abc", "value": {"type": "name", "id": "collections"}}}
    assert seq["slice"] == {"type": "id", "id": class_ids["Vec3d"]}


def test_battery_covers_every_member():
    # The cross-build comparison (clang, aarch64) must keep up with the surface:
    # each member it is given has to get inputs and a text for its result.
    import io

    import battery
    import surface
    out = io.StringIO()
    battery.run(out)
    called = {line.split(" ", 1)[0] for line in out.getvalue().splitlines()}
    expected = {f"{c}.{m['name']}" for c, members in surface.CLASSES.items() if c != "VecListIterator"
                for m in members if m["kind"] != "slot"} | {f"geometry.{n}" for n in surface.FUNCTIONS}
    assert called == expected
