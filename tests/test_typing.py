"""The committed stub package: generated from the library's records with the
named corrections of tools/gen_stubs.py, each of which holds at run time;
stubtest finds no difference from the running module; mypy --strict and
pyright's strict mode accept the examples and a file that uses every public
member, and reject what raises."""
import ast
import keyword
import operator
import os
import shutil
import subprocess
import sys

import pytest

import orvath
from support.helpers import raises_exactly
from orvath import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import gen_stubs  # noqa: E402

STUBS = os.path.join(ROOT, "orvath-stubs")
SANITIZED = bool(os.environ.get("ORVATH_SANITIZED"))
# The checkers are run in a child process with the module the tests use.
CHILD_ENV = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}


def test_committed_stubs_match_records():
    generated = gen_stubs.generate(orvath.__file__)
    assert sorted(generated) == sorted(os.listdir(STUBS))
    for name, text in generated.items():
        with open(os.path.join(STUBS, name)) as fh:
            assert fh.read() == text, f"orvath-stubs/{name} is stale: run make stubs"


def test_usage_file_runs():
    result = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "typing", "surface_usage.py")],
                            capture_output=True, text=True, env=CHILD_ENV)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


# ---------------------------------------------------------------------------
# Each correction of the generator, checked against the running module on the
# cases the committed stubs show.

def stub_classes():
    """{class name: (module object, ClassDef)} of the committed stubs."""
    out = {}
    for file_name, module in (("__init__.pyi", orvath), ("_geometry.pyi", geometry)):
        with open(os.path.join(STUBS, file_name)) as fh:
            tree = ast.parse(fh.read())
        out.update({node.name: (module, node) for node in tree.body if isinstance(node, ast.ClassDef)})
    return out


def stub_defs(names=None):
    """(class name, FunctionDef) for the methods of every stub class, optionally only those named."""
    return [(cls, node) for cls, (_, tree) in stub_classes().items() for node in tree.body
            if isinstance(node, ast.FunctionDef) and (names is None or node.name in names)]


def operand(node):
    """(name, annotation text) of an operator's one positional-only operand after self."""
    arg = node.args.posonlyargs[1]
    return arg.arg, ast.unparse(arg.annotation)


SAMPLES = {
    "Vec3d": lambda: Vec3d(1.5, -2, 4),
    "VecList": lambda: VecList([Vec3d(1.5, -2, 4), Vec3d(0, 1, 0)]),
    "VecListIterator": lambda: iter(VecList([Vec3d(1.5, -2, 4), Vec3d(0, 1, 0)])),
    "Quat": lambda: Quat(0.5, 1, -2, 3),
    "AngleRadians": lambda: AngleRadians(1.25),
    "AngleDegrees": lambda: AngleDegrees(1.25),
    "Plane": lambda: geometry.Plane(Vec3d(0, 0, 1), 5),
    "Circle": lambda: geometry.Circle(Vec3d(1, 2, 3), 2, Vec3d(0, 0, 1)),
}
FOREIGN = [1, 2.5, "a", None, (1, 2, 3)]
REFLECTED = {"__radd__": operator.add, "__rsub__": operator.sub, "__rmul__": operator.mul,
             "__rtruediv__": operator.truediv}
ORDERINGS = {"__lt__": (operator.lt, "<"), "__le__": (operator.le, "<="), "__gt__": (operator.gt, ">"),
             "__ge__": (operator.ge, ">=")}


def check_keyword_named_parameters():
    cases = [(module, cls, node) for cls, (module, tree) in stub_classes().items() for node in tree.body
             if isinstance(node, ast.FunctionDef)
             and any(a.arg.endswith("_") and keyword.iskeyword(a.arg[:-1]) for a in node.args.posonlyargs)]
    assert cases
    for module, cls, node in cases:
        params = [a for a in node.args.posonlyargs + node.args.args if a.arg not in ("self", "cls")]
        values = [SAMPLES[ast.unparse(a.annotation)]() for a in params]
        by_name = {a.arg[:-1] if keyword.iskeyword(a.arg[:-1]) else a.arg: v for a, v in zip(params, values)}
        fn = getattr(getattr(module, cls), node.name)
        assert repr(fn(**by_name)) == repr(fn(*values))


def check_operands_positional_only():
    cases = [(cls, node) for cls, node in stub_defs() if gen_stubs.is_dunder(node.name)
             and node.name != "__new__" and len(node.args.posonlyargs) > 1]
    assert cases
    for cls, node in cases:
        name, _ = operand(node)
        raises_exactly(TypeError, f"wrapper {node.name}() takes no keyword arguments",
                       lambda: getattr(SAMPLES[cls](), node.name)(**{name: SAMPLES[cls]()}))


def check_reflected_operators():
    cases = stub_defs(REFLECTED)
    assert {operand(node)[1] == "typing.Never" for _, node in cases} == {True, False}
    for cls, node in cases:
        this = SAMPLES[cls]()
        _, annotation = operand(node)
        if annotation == "typing.Never":
            for other in FOREIGN + [make() for make in SAMPLES.values()]:
                assert getattr(this, node.name)(other) is NotImplemented, (cls, node.name, other)
        else:
            other = 2.5 if annotation == "builtins.float" else this * 3
            assert repr(getattr(this, node.name)(other)) == repr(REFLECTED[node.name](other, this))


def check_rich_comparisons():
    cases = [(cls, node) for cls, node in stub_defs(ORDERINGS) if operand(node)[1] == "typing.Never"]
    assert cases
    for cls, node in cases:
        compare, symbol = ORDERINGS[node.name]
        raises_exactly(TypeError, f"'{symbol}' not supported between instances of 'builtins.{cls}' and "
                       f"'builtins.{cls}'", lambda: compare(SAMPLES[cls](), SAMPLES[cls]()))


def check_equality_with_any_object():
    cases = stub_defs({"__eq__", "__ne__"})
    assert cases and all(operand(node)[1] == "builtins.object" for _, node in cases)
    for cls, _ in cases:
        this = SAMPLES[cls]()
        for other in FOREIGN:
            assert (this == other) is False and (this != other) is True
        assert this not in FOREIGN


def check_unhashable_classes():
    declared = {cls for cls, (_, tree) in stub_classes().items() for node in tree.body
                if isinstance(node, ast.AnnAssign) and ast.unparse(node) == "__hash__: typing.ClassVar[None]"}
    assert declared
    for cls in SAMPLES:
        runtime = type(SAMPLES[cls]())
        assert (runtime.__hash__ is None) is (cls in declared)
        if cls in declared:
            raises_exactly(TypeError, f"unhashable type: 'builtins.{cls}'", lambda: hash(SAMPLES[cls]()))


def check_iterator_end_is_stop_iteration():
    cases = stub_defs({"__next__"})
    assert cases
    for cls, node in cases:
        it = SAMPLES[cls]()
        items = []
        with pytest.raises(StopIteration):
            while True:
                items.append(it.__next__())
        assert items and all(type(item).__name__ == ast.unparse(node.returns) for item in items)
        raises_exactly(StopIteration, "", it.__next__)


def check_buffer_exporters_keep_their_operators():
    np = pytest.importorskip("numpy")
    declared = {cls for cls, (_, tree) in stub_classes().items() for node in tree.body
                if isinstance(node, ast.AnnAssign) and ast.unparse(node) == "__array_ufunc__: typing.ClassVar[None]"}
    assert declared
    for cls in SAMPLES:
        runtime = type(SAMPLES[cls]())
        assert (getattr(runtime, "__array_ufunc__", 1) is None) is (cls in declared)
        if cls in declared:
            assert type(np.float64(2.0) * SAMPLES[cls]()) is runtime


def check_unpublished_classes():
    classes = stub_classes()
    hidden = {name for name, (_, tree) in classes.items()
              if "typing.type_check_only" in [ast.unparse(d) for d in tree.decorator_list]}
    assert hidden
    for name, (module, _) in classes.items():
        assert hasattr(module, name) is (name not in hidden)


CHECKS = {name[len("check_"):]: fn for name, fn in globals().items() if name.startswith("check_")}


def test_every_correction_has_a_check():
    assert sorted(CHECKS) == sorted(fix.__name__ for fix in gen_stubs.CORRECTIONS)


@pytest.mark.parametrize("name", sorted(CHECKS))
def test_correction_holds_at_run_time(name):
    CHECKS[name]()


# ---------------------------------------------------------------------------
# The checkers

@pytest.fixture(scope="module")
def stub_path(tmp_path_factory):
    # mypy and pyright look for a stub-only package in site-packages; on their
    # search paths the same files serve under the module's own name.
    path = tmp_path_factory.mktemp("stubs")
    shutil.copytree(STUBS, path / "orvath")
    return path


def run_mypy(stub_path, *targets):
    pytest.importorskip("mypy")
    env = dict(os.environ, MYPYPATH=str(stub_path))
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--cache-dir", os.devnull, *targets],
                          capture_output=True, text=True, env=env, cwd=ROOT)


def test_mypy_strict_examples_and_usage(stub_path):
    result = run_mypy(stub_path, "examples", "tests/typing/surface_usage.py")
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_rejects_wrong_use(stub_path, tmp_path):
    bad = tmp_path / "bad.py"
    bad.write_text("import orvath\nfrom orvath import AngleRadians, Quat, Vec3d, geometry\n"
                   "reveal_type(Vec3d(1, 2, 3).dot(Vec3d(1, 2, 3)))\n"
                   "reveal_type(orvath.geometry.Plane.xy().normal)\n"
                   "Vec3d(1, 2, 3).dot(2.0)\n"
                   "2 / Vec3d(1, 2, 3)\n"
                   "Vec3d(1, 2, 3) < Vec3d(1, 2, 3)\n"
                   "2 * AngleRadians(1)\n"
                   "Quat.from_rotation_matrix([1.0, 0.0, 0.0])\n")
    result = run_mypy(stub_path, str(bad))
    out = result.stdout
    assert 'bad.py:9: error: List item 0 has incompatible type "float"; expected "Collection[float]"' in out
    assert 'Revealed type is "float"' in out
    assert 'Revealed type is "orvath.Vec3d"' in out
    assert 'Argument 1 to "dot" of "Vec3d" has incompatible type "float"' in out
    assert 'bad.py:6: error: Unsupported operand types for / ("int" and "Vec3d")' in out
    assert 'bad.py:7: error: Unsupported operand types for < ("Vec3d" and "Vec3d")' in out
    assert 'bad.py:8: error: Unsupported operand types for * ("int" and "AngleRadians")' in out
    assert result.returncode == 1


@pytest.mark.skipif(SANITIZED, reason="a static check; the sanitizer build adds nothing to it")
def test_stubtest_finds_no_difference():
    pytest.importorskip("mypy")
    result = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "stubtest.py")],
                            capture_output=True, text=True, env=CHILD_ENV)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success: no issues found in 2 modules" in result.stdout


@pytest.mark.skipif(SANITIZED, reason="a static check; the sanitizer build adds nothing to it")
def test_pyright_strict_accepts_examples_usage_and_stubs(stub_path, tmp_path):
    pyright = shutil.which("pyright")
    assert pyright, "pyright is not on PATH (tools/devroot installs it)"
    config = tmp_path / "pyrightconfig.json"
    build = os.path.dirname(orvath.__file__)
    config.write_text(f'{{"typeCheckingMode": "strict", "pythonVersion": "3.14", "pythonPlatform": "Linux", '
                      f'"stubPath": "{stub_path}", "extraPaths": ["{build}"]}}')
    result = subprocess.run([pyright, "-p", str(config), "--pythonpath", sys.executable,
                             "tests/typing", "examples", str(stub_path)],
                            capture_output=True, text=True, cwd=ROOT)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "0 errors, 0 warnings, 0 informations" in result.stdout


@pytest.mark.skipif(SANITIZED, reason="a static check; the sanitizer build adds nothing to it")
@pytest.mark.parametrize("line", ["from orvath.geometry import Plane", "import orvath.geometry"])
def test_checkers_reject_importing_the_geometry_attribute(stub_path, tmp_path, line):
    (tmp_path / "bad.py").write_text(line + "\n")  # ModuleNotFoundError at run time
    (tmp_path / "pyrightconfig.json").write_text(f'{{"stubPath": "{stub_path}"}}')
    pyright = subprocess.run([shutil.which("pyright"), "-p", str(tmp_path)], capture_output=True, text=True)
    assert 'bad.py:1:' in pyright.stdout and 'error: Import "orvath.geometry" could not be resolved' in pyright.stdout
    assert 'bad.py:1: error: Cannot find implementation or library stub for module named "orvath.geometry"' in \
        run_mypy(stub_path, str(tmp_path / "bad.py")).stdout
