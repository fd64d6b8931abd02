"""The committed stub package matches the library's records, and mypy --strict
accepts the examples and a file that uses every public member."""
import os
import shutil
import subprocess
import sys

import pytest

import orvath

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import gen_stubs  # noqa: E402

STUBS = os.path.join(ROOT, "orvath-stubs")


def test_committed_stubs_match_records():
    generated = gen_stubs.generate(orvath.__file__)
    assert sorted(generated) == sorted(os.listdir(STUBS))
    for name, text in generated.items():
        with open(os.path.join(STUBS, name)) as fh:
            assert fh.read() == text, f"orvath-stubs/{name} is stale: run tools/gen_stubs.py"


def test_usage_file_runs():
    result = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "typing", "surface_usage.py")],
                            capture_output=True, text=True, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


@pytest.fixture(scope="module")
def stub_path(tmp_path_factory):
    # mypy looks for a stub-only package in site-packages; on its search path
    # the same files serve under the module's own name.
    path = tmp_path_factory.mktemp("stubs")
    shutil.copytree(STUBS, path / "orvath")
    return str(path)


def run_mypy(stub_path, *targets):
    pytest.importorskip("mypy")
    env = dict(os.environ, MYPYPATH=stub_path)
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--cache-dir", os.devnull, *targets],
                          capture_output=True, text=True, env=env, cwd=ROOT)


def test_mypy_strict_examples_and_usage(stub_path):
    result = run_mypy(stub_path, "examples", "tests/typing/surface_usage.py")
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_rejects_wrong_use(stub_path, tmp_path):
    bad = tmp_path / "bad.py"
    bad.write_text("from orvath import Vec3d\nfrom orvath.geometry import Plane\n"
                   "reveal_type(Vec3d(1, 2, 3).dot(Vec3d(1, 2, 3)))\n"
                   "reveal_type(Plane.xy().normal)\n"
                   "Vec3d(1, 2, 3).dot(2.0)\n")
    result = run_mypy(stub_path, str(bad))
    out = result.stdout
    assert 'Revealed type is "float"' in out
    assert 'Revealed type is "orvath.Vec3d"' in out
    assert 'Argument 1 to "dot" of "Vec3d" has incompatible type "float"' in out
    assert result.returncode == 1
