"""The reference: a text for every public name and for nothing else, the same
texts as stub docstrings, docs/api.md current, and every example of the page
and of the README running with the output it shows."""
import ast
import doctest
import io
import os
import re
import sys

import pytest

import orvath
from orvath import geometry

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import gen_api_doc  # noqa: E402
from reference import REFERENCE  # noqa: E402

# Attributes of object that a class inherits: not members of its own while the
# class does not define them (a class that starts to define one, __reduce__
# say, needs a text for it).
INHERITED = {"__class__", "__delattr__", "__dir__", "__eq__", "__format__", "__ge__", "__getattribute__",
             "__getstate__", "__gt__", "__hash__", "__init__", "__init_subclass__", "__le__", "__lt__", "__ne__",
             "__new__", "__reduce__", "__reduce_ex__", "__repr__", "__setattr__", "__sizeof__", "__str__",
             "__subclasshook__"}
# Bookkeeping attributes of every class and module.
BOOKKEEPING = {"__doc__", "__module__", "__all__", "__file__", "__loader__", "__name__", "__package__",
               "__spec__"}


def public_names():
    """The reference key of every public name at run time."""
    classes = [getattr(orvath, n) for n in dir(orvath) if isinstance(getattr(orvath, n), type)]
    classes += [getattr(geometry, n) for n in dir(geometry) if isinstance(getattr(geometry, n), type)]
    classes.append(type(iter(orvath.VecList.empty())))
    keys = {"orvath", "orvath.geometry"}
    keys |= {n for n in dir(geometry) if callable(getattr(geometry, n)) and n not in BOOKKEEPING}
    for cls in classes:
        keys.add(cls.__name__)
        for n in dir(cls):
            if n in BOOKKEEPING or (n in INHERITED and n not in vars(cls)):
                continue
            keys.add(cls.__name__ if n == "__new__" else f"{cls.__name__}.{n}")
    return keys


def test_every_public_name_has_a_text_and_every_text_a_name():
    names = public_names()
    assert sorted(names - set(REFERENCE)) == [], "public names without a text in tools/reference.py"
    assert sorted(set(REFERENCE) - names) == [], "texts in tools/reference.py that name nothing"


def docstring_of(body, i):
    """The docstring of the definition at body[i] (a def, a class, or an annotated name)."""
    node = body[i]
    if isinstance(node, ast.AnnAssign):
        following = body[i + 1] if i + 1 < len(body) else None
        return following.value.value if isinstance(following, ast.Expr) else None
    return ast.get_docstring(node, clean=False)


@pytest.mark.parametrize("file_name", ["__init__.pyi", "_geometry.pyi"])
def test_every_stub_definition_carries_its_text(file_name):
    with open(os.path.join(ROOT, "orvath-stubs", file_name)) as fh:
        tree = ast.parse(fh.read())
    key = "orvath" if file_name == "__init__.pyi" else "orvath.geometry"
    found = [(key, ast.get_docstring(tree, clean=False))]
    for i, node in enumerate(tree.body):
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            found.append((node.name, docstring_of(tree.body, i)))
        if not isinstance(node, ast.ClassDef):
            continue
        for j, member in enumerate(node.body):
            if isinstance(member, ast.Expr):
                continue
            setter = any(ast.unparse(d).endswith(".setter") for d in getattr(member, "decorator_list", []))
            if setter or isinstance(member, ast.FunctionDef) and member.name == "__new__":
                continue  # the getter's text covers its setter, the class text the constructor
            name = member.target.id if isinstance(member, ast.AnnAssign) else member.name
            found.append((f"{node.name}.{name}", docstring_of(node.body, j)))
    for key, doc in found:
        assert doc is not None, f"{file_name}: {key} has no docstring"
        assert " ".join(doc.split()) == " ".join(REFERENCE[key]["text"].split()), key


def test_committed_page_is_current():
    with open(os.path.join(ROOT, "docs", "api.md")) as fh:
        assert fh.read() == gen_api_doc.generate(orvath.__file__), "docs/api.md is stale: run make stubs"


def pycon_blocks(text):
    """(line number, text) of every ```pycon block."""
    for m in re.finditer(r"^```pycon\n(.*?)^```$", text, re.M | re.S):
        yield text.count("\n", 0, m.start(1)) + 1, m.group(1)


@pytest.mark.parametrize("document", ["docs/api.md", "README.md"])
def test_examples_show_their_true_output(document):
    """The first block of a document sets up the namespace every later block starts from."""
    path = os.path.join(ROOT, document)
    with open(path) as fh:
        blocks = list(pycon_blocks(fh.read()))
    assert blocks
    parser, report = doctest.DocTestParser(), io.StringIO()
    runner = doctest.DocTestRunner(optionflags=doctest.DONT_ACCEPT_TRUE_FOR_1)
    base = {"__name__": "__main__"}
    attempted = 0
    for i, (line, block) in enumerate(blocks):
        test = parser.get_doctest(block, base, f"{document}:{line}", path, line)  # runs on a copy
        attempted += runner.run(test, out=report.write, clear_globs=False).attempted
        if i == 0:
            base = test.globs
    assert runner.failures == 0, report.getvalue()
    assert attempted >= len(blocks)
