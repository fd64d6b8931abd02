"""examples/dask_points.py run as a script, on a real LocalCluster with two
worker processes: the chunked result is bit-identical to the same work on one
VecList."""
import os
import subprocess
import sys

import pytest

pytest.importorskip("dask.array")
pytest.importorskip("distributed")

EXAMPLE = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "dask_points.py")


def test_chunks_on_worker_processes_match_one_list():
    # A worker that dies leaves the client waiting: the timeout turns that into a failure.
    result = subprocess.run([sys.executable, EXAMPLE, "60000", "16000"], capture_output=True, text=True,
                            timeout=300, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("60000 points in chunks of 16000 on 2 worker processes: ")
    assert lines[1] == "bit-identical to one VecList: True"
