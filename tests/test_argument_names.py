"""Every argument name a message shows comes from the surface description:
the binding files pass the generated parameter names, never a string literal,
so renaming a parameter in tools/surface.py renames it everywhere at once."""
import pathlib
import re

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"

# The calls that name an argument in their message, and which of their
# arguments (counted from 0, or from the end when negative) is that name.
NAMING_CALLS = {
    r"\barg_(?:double|u64|bool|vec3|quat|angle_radians|plane|circle)": 1,
    r"\barg_value<[^>]*>": 2,
    r"\.read": 2,
    r"\berr::argument": 0,
    r"\berr::type_mismatch": 2,
    r"\bfrom_object": 1,
    r"\belements_from_(?:sequence|buffer|rows|items)": 1,
    r"\brow_from_sequence": 2,
    r"\berr::(?:array_format|row_type)": -1,
}


def call_arguments(text, start):
    """The top-level comma-separated arguments of the call whose '(' is at start."""
    depth, args, current = 0, [], []
    for ch in text[start:]:
        if ch in "([{":
            depth += 1
            if depth == 1:
                continue
        elif ch in ")]}":
            depth -= 1
            if depth == 0:
                args.append("".join(current).strip())
                return args
        elif ch == "," and depth == 1:
            args.append("".join(current).strip())
            current = []
            continue
        current.append(ch)
    raise AssertionError("unbalanced call")


def naming_arguments(path):
    text = path.read_text()
    for pattern, position in NAMING_CALLS.items():
        for m in re.finditer(pattern + r"\s*\(", text):
            args = call_arguments(text, m.end() - 1)
            at = position + len(args) if position < 0 else position
            if 0 <= at < len(args):
                line = text.count("\n", 0, m.start()) + 1
                yield f"{path.relative_to(SRC.parent)}:{line}", args[at]


def test_no_binding_file_names_an_argument_with_a_literal():
    seen, literal = 0, []
    for path in sorted(SRC.rglob("*.[ch]pp")):
        for where, arg in naming_arguments(path):
            seen += 1
            if '"' in arg:
                literal.append(f"{where}: {arg}")
    assert literal == []
    # The scan really reads the conversion calls (a broken pattern would pass
    # vacuously).
    assert seen > 40
