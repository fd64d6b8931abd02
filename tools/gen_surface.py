#!/usr/bin/env python3
"""Generates surface.hpp / surface.cpp and the member tables from tools/surface.py.

Output: parameter lists and full names for argument parsing, the docstrings
(text signatures) of classes, methods and functions, and one exported typing
record per module, class and member: a symbol orvath_typing_1_<id> holding a
32-bit little-endian length followed by that many bytes of UTF-8 JSON.

The tables are macros of surface.hpp (ORVATH_<HOME>_TABLES), expanded by the
file that holds their members: each class file expands its method and
property tables, the geometry functions' file theirs, pickle.cpp the
unpublished functions and module.cpp the publication order. A row names a binder instantiation when its
member says what it `calls` (or the `constant` it answers, or its bulk
`kernel`), and otherwise the hand-written function <home>_<member>.
"""
import hashlib
import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import surface  # noqa: E402

SYMBOL_PREFIX = "orvath_typing_1_"


def snake(name):
    return re.sub(r"(?<!^)(?=[A-Z])", "_", name).lower()


def make_id(key, used):
    n = int.from_bytes(hashlib.sha256(key.encode()).digest()[:8], "little")
    assert n not in used, key
    used.add(n)
    return n


def name(id_):
    return {"type": "name", "id": id_}


def attr(value, attr_):
    return {"type": "attribute", "value": value, "attr": attr_}


def dotted(path):
    parts = path.split(".")
    expr = name(parts[0])
    for p in parts[1:]:
        expr = attr(expr, p)
    return expr


def expression(ann, class_ids):
    if ann is None:
        return {"type": "constant", "kind": "none"}
    tag = ann[0]
    if tag == "b":
        return dotted("builtins." + ann[1])
    if tag == "cls":
        return {"type": "id", "id": str(class_ids[ann[1]])}
    if tag == "list":
        return {"type": "subscript", "value": dotted("builtins.list"), "slice": expression(ann[1], class_ids)}
    if tag in ("seq", "coll", "iter"):
        abc = {"seq": "Sequence", "coll": "Collection", "iter": "Iterator"}[tag]
        return {"type": "subscript", "value": dotted("collections.abc." + abc),
                "slice": expression(ann[1], class_ids)}
    if tag == "tuple":
        return {"type": "subscript", "value": dotted("builtins.tuple"),
                "slice": {"type": "tuple", "elts": [expression(a, class_ids) for a in ann[1:]]}}
    if tag == "dict":
        return {"type": "subscript", "value": dotted("builtins.dict"),
                "slice": {"type": "tuple", "elts": [expression(a, class_ids) for a in ann[1:]]}}
    if tag == "or_none":
        return {"type": "binop", "left": expression(ann[1], class_ids), "op": "bitor",
                "right": expression(None, class_ids)}
    if tag == "or":
        return {"type": "binop", "left": expression(ann[1], class_ids), "op": "bitor",
                "right": expression(ann[2], class_ids)}
    if tag == "attr":
        return dotted(ann[1])
    raise ValueError(ann)


def args_of(params, class_ids):
    return [{"name": p, "annotation": expression(a, class_ids)} for p, a in params]


def build_records():
    """Returns [(symbol id, record dict)] in a stable order."""
    used = set()
    module_ids = {m: make_id("module:" + m, used) for m in surface.MODULES}
    class_ids = {c: make_id("class:" + c, used) for c in surface.CLASSES}
    function_ids = {f: make_id("function:" + f, used) for f in surface.FUNCTIONS}
    member_id = {**class_ids, **function_ids, "geometry": module_ids["geometry"]}
    records = []
    for m, names in surface.MODULES.items():
        records.append((module_ids[m], {"type": "module", "name": m, "id": str(module_ids[m]),
                                        "members": [str(member_id[n]) for n in names],
                                        "incomplete": False}))
    for c, members in surface.CLASSES.items():
        cid = str(class_ids[c])
        records.append((class_ids[c], {"type": "class", "name": c, "id": cid,
                                       "decorators": [dotted("typing.final")]}))
        for mem in members:
            kind = mem["kind"]
            if kind == "property":
                rec = {"type": "function", "name": mem["name"], "parent": cid,
                       "decorators": [name("property")],
                       "arguments": {"posonlyargs": [{"name": surface.RECEIVER_PARAM}], "args": []},
                       "returns": expression(mem["returns"], class_ids)}
                records.append((make_id(f"getter:{c}.{mem['name']}", used), rec))
                if mem["settable"]:
                    rec = {"type": "function", "name": mem["name"], "parent": cid,
                           "decorators": [attr(attr({"type": "id", "id": cid}, mem["name"]), "setter")],
                           "arguments": {"posonlyargs": [{"name": surface.RECEIVER_PARAM}],
                                         "args": args_of([(surface.SETTER_PARAM, mem["returns"])], class_ids)},
                           "returns": expression(None, class_ids)}
                    records.append((make_id(f"setter:{c}.{mem['name']}", used), rec))
                continue
            arguments = {"args": args_of(mem["params"], class_ids)}
            decorators = []
            if kind == "ctor":
                arguments = {"posonlyargs": [{"name": "cls"}], **arguments}
                returns = {"type": "id", "id": cid}
            elif kind == "static":
                decorators = [name("staticmethod")]
                returns = expression(mem["returns"], class_ids)
            else:
                arguments = {"posonlyargs": [{"name": surface.RECEIVER_PARAM}], **arguments}
                returns = expression(mem["returns"], class_ids)
            rec = {"type": "function", "name": mem["name"], "parent": cid, "decorators": decorators,
                   "arguments": arguments, "returns": returns}
            records.append((make_id(f"member:{c}.{mem['name']}", used), rec))
    for f, fn in surface.FUNCTIONS.items():
        rec = {"type": "function", "name": f, "id": str(function_ids[f]), "decorators": [],
               "arguments": {"args": args_of(fn["params"], class_ids)},
               "returns": expression(fn["returns"], class_ids)}
        records.append((function_ids[f], rec))
    return records


def c_string(s):
    out = []
    for ch in s.encode():
        if ch == 0x0A:
            out.append("\\n")
        elif ch in (0x22, 0x5C):
            out.append("\\" + chr(ch))
        elif 0x20 <= ch < 0x7F:
            out.append(chr(ch))
        else:
            out.append("\\%03o" % ch)
    return '"' + "".join(out) + '"'


def text_signature(name_, params, receiver):
    names = (["$" + surface.RECEIVER_PARAM] if receiver else []) + [p for p, _ in params]
    return f"{name_}({', '.join(names)})\n--\n\n"


def kind_of(ann):
    """The binder's kind for an annotation: bind::Float, bind::Bool, bind::<Class>."""
    if ann == surface.FLOAT:
        return "bind::Float"
    if ann == surface.BOOL:
        return "bind::Bool"
    if ann[0] == "cls":
        return "bind::" + ann[1]
    raise ValueError(f"no binder kind for {ann}")


def kinds(*anns):
    return ", ".join(kind_of(a) for a in anns)


def member_function(c, mem):
    """The C++ expression of a method's or static's function."""
    prefix, mname, params = snake(c), mem["name"], mem["params"]
    ident = f"{prefix}_{mname.strip('_')}"
    sig = f"surface::{ident}, " if params else ""
    ret = mem["returns"]
    if "calls" in mem:
        if mem["kind"] == "method":
            binder = f"bind::Method<{kinds(surface.cls(c), ret, *(a for _, a in params))}>"
        else:
            binder = f"bind::Function<{kinds(ret, *(a for _, a in params))}>"
        return f"{binder}::call<{sig}{mem['calls']}>"
    if "constant" in mem:
        return f"bind::constant<{kind_of(ret)}, {mem['constant']}>"
    if "kernel" in mem:
        return f"{prefix}_bulk{'_with' if params else ''}<bulk::{mem['kernel']}{', ' + sig[:-2] if params else ''}>"
    if mem.get("impl") == "reduce_value":
        return f"reduce_value<bind::{c}::Obj>"
    return ident


def method_row(name_, fn, params, static, doc_symbol):
    flags = "METH_FASTCALL | METH_KEYWORDS" if params else "METH_NOARGS"
    if static:
        flags += " | METH_STATIC"
    return f"    {{{c_string(name_)}, method_cast<{fn}>(), {flags}, surface::{doc_symbol}}},"


def property_row(c, mem):
    name_ = mem["name"]
    obj = f"bind::{c}::Obj"
    if mem["settable"]:
        field = mem.get("field", name_)
        args = f"{obj}, &bind::{c}::Value::{field}" if field else obj
        getter, setter = f"get_field<{args}>", f"set_field<{args}>"
    elif "calls" in mem:
        getter = f"bind::Method<{kinds(surface.cls(c), mem['returns'])}>::get<{mem['calls']}>"
        setter = "nullptr"
    else:
        getter, setter = f"{snake(c)}_get_{name_}", "nullptr"
    return f"    {{{c_string(name_)}, {getter}, {setter}, nullptr, nullptr}},"


# The type slot of each operator, and the function that fills it:
# <class>_<suffix>. The comparisons share the one richcompare slot, __mul__
# and __rmul__ the one multiply slot (the interpreter tries it both ways).
OPERATOR_SLOTS = {
    "__add__": [("Py_nb_add", "add")], "__sub__": [("Py_nb_subtract", "sub")],
    "__mul__": [("Py_nb_multiply", "mul")], "__rmul__": [("Py_nb_multiply", "mul")],
    "__truediv__": [("Py_nb_true_divide", "truediv")], "__neg__": [("Py_nb_negative", "neg")],
    **{op: [("Py_tp_richcompare", "richcompare")]
       for op in ("__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__")},
    # Sequence iteration and `in` reach the items through sq_item.
    "__getitem__": [("Py_mp_subscript", "getitem"), ("Py_sq_item", "item")],
    "__len__": [("Py_mp_length", "len")], "__iter__": [("Py_tp_iter", "iter")],
    "__next__": [("Py_tp_iternext", "next")], "__hash__": [("Py_tp_hash", "hash")],
    "__repr__": [("Py_tp_repr", "repr")],
    "__buffer__": [("Py_bf_getbuffer", "buffer")], "__release_buffer__": [("Py_bf_releasebuffer", "release_buffer")],
}


def type_lines(c, members):
    """The constructor, slot table and PyType_Spec of class c. Its object type
    is <Class>Object; a class with a constructor has its binder's maker, or
    the hand-written <class>_make; one without cannot be instantiated from
    Python."""
    prefix = snake(c)
    kinds_ = {m["kind"] for m in members}
    lines, slots = [], []
    has_ctor = "ctor" in kinds_
    if has_ctor:
        ctor = next(m for m in members if m["kind"] == "ctor")
        make = f"{prefix}_make"
        if "calls" in ctor:
            make = (f"bind::Make<{kinds(surface.cls(c), *(a for _, a in ctor['params']))}>"
                    f"::make<surface::{prefix}_new, {ctor['calls']}>")
        lines.append(f"using {prefix}_constructor = Constructor<surface::{prefix}_new, {make}>;")
        slots += [f"{{Py_tp_doc, const_cast<char*>(surface::{prefix}_doc)}}",
                  f"{{Py_tp_new, slot({prefix}_constructor::tp_new)}}",
                  f"{{Py_tp_vectorcall, slot({prefix}_constructor::vectorcall)}}"]
    slots.append(f"{{Py_tp_dealloc, slot(holder_dealloc<{c}Object>)}}")
    if kinds_ & {"method", "static"}:
        slots.append(f"{{Py_tp_methods, {prefix}_methods}}")
    if "property" in kinds_:
        slots.append(f"{{Py_tp_getset, {prefix}_getset}}")
    for m in members:
        for slot_name, suffix in OPERATOR_SLOTS.get(m["name"], []) if m["kind"] in ("op", "slot") else []:
            row = f"{{{slot_name}, slot({prefix}_{suffix})}}"
            if row not in slots:
                slots.append(row)
    lines.append(f"PyType_Slot {prefix}_slots[] = {{")
    lines += [f"    {row}," for row in slots] + ["    {0, nullptr},", "};"]
    flags = "Py_TPFLAGS_DEFAULT" + ("" if has_ctor else " | Py_TPFLAGS_DISALLOW_INSTANTIATION")
    lines.append(f"PyType_Spec {prefix}_spec = {{{c_string('builtins.' + c)}, sizeof({c}Object), 0, {flags}, "
                 f"{prefix}_slots}};")
    return lines


def tables():
    """{home: lines} of the member tables and the publication order."""
    header = []
    out = {}
    for c, members in surface.CLASSES.items():
        prefix = snake(c)
        lines = list(header)
        methods = [m for m in members if m["kind"] in ("method", "static")]
        if methods:
            lines.append(f"PyMethodDef {prefix}_methods[] = {{")
            for m in methods:
                lines.append(method_row(m["name"], member_function(c, m), m["params"], m["kind"] == "static",
                                        f"{prefix}_{m['name'].strip('_')}_doc"))
            lines += ["    {nullptr, nullptr, 0, nullptr},", "};"]
        props = [m for m in members if m["kind"] == "property"]
        if props:
            lines.append(f"PyGetSetDef {prefix}_getset[] = {{")
            lines += [property_row(c, m) for m in props]
            lines += ["    {nullptr, nullptr, nullptr, nullptr, nullptr},", "};"]
        lines += type_lines(c, members)
        out[prefix] = lines
    lines = list(header) + ["PyMethodDef geometry_functions[] = {"]
    for f, fn in surface.FUNCTIONS.items():
        if "calls" in fn:
            binder = f"bind::Function<{kinds(fn['returns'], *(a for _, a in fn['params']))}>"
            expr = f"{binder}::call<surface::fn_{f}, {fn['calls']}>"
        else:
            expr = f"geometry_{f}"
        lines.append(method_row(f, expr, fn["params"], False, f"fn_{f}_doc"))
    lines += ["    {nullptr, nullptr, 0, nullptr},", "};"]
    out["geometry"] = lines
    lines = list(header)
    for f, fn in surface.PRIVATE_FUNCTIONS.items():
        ident = f.strip("_")
        lines.append(f"PyMethodDef {ident}_function =")
        lines.append(method_row(f, f"orvath_{ident}", fn["params"], False, f"fn_{ident}_doc")[:-1] + ";")
    out["orvath"] = lines
    function_index = {f: i for i, f in enumerate(surface.FUNCTIONS)}
    lines = list(header)
    lines.append("PyMethodDef* const private_functions[] = {" +
                 "".join(f"&{f.strip('_')}_function, " for f in surface.PRIVATE_FUNCTIONS) + "nullptr};")
    for m, names in surface.MODULES.items():
        lines.append(f"const Published {m}_names[] = {{")
        for n in names:
            if n in surface.CLASSES:
                lines.append(f"    {{{c_string(n)}, {snake(n)}_type, nullptr}},")
            elif n in surface.FUNCTIONS:
                lines.append(f"    {{{c_string(n)}, nullptr, &geometry_functions[{function_index[n]}]}},")
            else:
                assert n in surface.MODULES, n
                lines.append(f"    {{{c_string(n)}, nullptr, nullptr}},")
        lines += ["    {nullptr, nullptr, nullptr},", "};"]
    out["modules"] = lines
    return out


def write_if_changed(path, text):
    if not os.path.exists(path) or open(path).read() != text:
        with open(path, "w") as fh:
            fh.write(text)


def main(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    # Slots are parsed by the interpreter: their parameters are not ours.
    parsed = [m for ms in surface.CLASSES.values() for m in ms if m["kind"] != "slot"]
    functions = [*surface.FUNCTIONS.values(), *surface.PRIVATE_FUNCTIONS.values()]
    param_names = []
    for mem in parsed + functions:
        for p, _ in mem.get("params", []):
            if p not in param_names:
                param_names.append(p)
    index = {p: i for i, p in enumerate(param_names)}

    max_params = max(len(m.get("params", [])) for m in parsed + functions)
    hpp = ["// Generated by tools/gen_surface.py from tools/surface.py. Do not edit.",
           "#pragma once", "", '#include "signature.hpp"', "", "namespace orvath::surface {", "",
           f"inline constexpr std::size_t kParamNameCount = {len(param_names)};",
           "extern const char* const kParamNames[kParamNameCount];",
           "// The most parameters of any member: the size of a parsing buffer.",
           f"inline constexpr std::size_t kMaxParams = {max_params};",
           "// What a property setter calls its value in messages.",
           f"inline constexpr const char* kSetterParam = {c_string(surface.SETTER_PARAM)};",
           f"inline constexpr const char* kReceiverParam = {c_string(surface.RECEIVER_PARAM)};", ""]
    cpp = ["// Generated by tools/gen_surface.py from tools/surface.py. Do not edit.",
           '#include "surface.hpp"', "", "namespace orvath::surface {", "",
           "const char* const kParamNames[kParamNameCount] = {" +
           ", ".join(c_string(p) for p in param_names) + "};", ""]

    def signature(ident, full_name, params):
        ids = ", ".join(str(index[p]) for p, _ in params)
        hpp.append(f"extern const Signature {ident};")
        cpp.append(f"static const std::uint16_t {ident}_params[] = {{{ids}}};")
        cpp.append(f"const Signature {ident} = {{{c_string(full_name)}, {ident}_params, {len(params)}}};")

    def doc(ident, text):
        hpp.append(f"extern const char {ident}[];")
        cpp.append(f"const char {ident}[] = {c_string(text)};")

    for c, members in surface.CLASSES.items():
        prefix = snake(c)
        hpp.append(f"// {c}")
        for mem in members:
            kind, mname = mem["kind"], mem["name"]
            if kind == "ctor":
                doc(f"{prefix}_doc", text_signature(c, mem["params"], False))
                signature(f"{prefix}_new", f"{c}.__new__()", mem["params"])
            elif kind in ("static", "method"):
                ident = f"{prefix}_{mname.strip('_')}"
                doc(f"{ident}_doc", text_signature(mname, mem["params"], kind == "method"))
                if mem["params"]:
                    signature(ident, f"{c}.{mname}()", mem["params"])
            elif kind == "op" and mem["params"]:
                # Operators parse nothing, but name their operand in messages.
                signature(f"{prefix}_{mname.strip('_')}", f"{c}.{mname}()", mem["params"])
        hpp.append("")
    hpp.append("// orvath.geometry functions")
    for f, fn in surface.FUNCTIONS.items():
        doc(f"fn_{f}_doc", text_signature(f, fn["params"], False))
        signature(f"fn_{f}", f"{f}()", fn["params"])
    hpp.append("")
    hpp.append("// unpublished functions of orvath")
    for f, fn in surface.PRIVATE_FUNCTIONS.items():
        ident = f"fn_{f.strip('_')}"
        doc(f"{ident}_doc", text_signature(f, fn["params"], False))
        signature(ident, f"{f}()", fn["params"])
    hpp += ["", "}  // namespace orvath::surface", "",
            "// The member tables, each expanded in the file that holds its members."]
    for home, lines in tables().items():
        hpp.append(f"#define ORVATH_{home.upper()}_TABLES" + "".join(" \\\n" + line for line in lines))
        hpp.append("")
    cpp += ["", "}  // namespace orvath::surface", "",
            "// Typing records, read by the stub generator; never used at run time.",
            'extern "C" {']
    for sym, rec in build_records():
        data = json.dumps(rec, separators=(",", ":"), ensure_ascii=False).encode()
        blob = len(data).to_bytes(4, "little") + data
        body = ",".join(str(b) for b in blob)
        cpp.append(f'__attribute__((visibility("default"), used)) extern const unsigned char '
                   f"{SYMBOL_PREFIX}{sym}[{len(blob)}] = {{{body}}};")
    cpp += ["}", ""]

    for fname, lines in (("surface.hpp", hpp), ("surface.cpp", cpp)):
        write_if_changed(os.path.join(out_dir, fname), "\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1])
