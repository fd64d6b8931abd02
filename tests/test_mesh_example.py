"""examples/mesh.py run as a script on a small torus: its normals and areas
agree bit for bit with numpy in the same operation order."""
import os
import subprocess
import sys

EXAMPLE = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "mesh.py")


def test_normals_and_areas_match_numpy_bit_for_bit():
    result = subprocess.run([sys.executable, EXAMPLE, "5000"], capture_output=True, text=True, timeout=120,
                            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "5000 faces, 2500 vertices"
    assert lines[1] == "bit-identical to numpy in the same operation order: True"
