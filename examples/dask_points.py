"""Scaling out: a point cloud as a chunked dask array, every chunk normalised and
rotated by orvath on the worker processes of a distributed cluster.

    python3.14 examples/dask_points.py [POINTS] [CHUNK]

Each chunk enters a VecList through VecList.from_array (one copy, no Python
object per point), runs the bulk operations on that worker's thread pool, and
leaves through np.asarray (a view, no copy). The result is then checked, bit
for bit, against the same work on one VecList in this process.

A function defined in a script reaches the workers by value: cloudpickle ships
its code together with the globals it uses. ROTATION, an orvath object,
pickles like any value. orvath's classes themselves do not: they are named
builtins.Quat and so on, a name nothing can import, so the function refers to
them through the module (orvath.VecList), which pickles by its name.
"""
# dask and distributed are typed only in part; strict pyright would flag every
# value that comes out of them.
# pyright: reportUnknownMemberType=false, reportUnknownVariableType=false, reportUnknownArgumentType=false
import sys
import time

import dask.array as da
import numpy as np
from dask.base import compute
from distributed import Client, LocalCluster

import orvath

SEED = 2024
ROTATION = orvath.Quat.from_axis_angle(orvath.Vec3d(0.0, 0.6, 0.8), orvath.AngleRadians(0.3))


def normalize_and_rotate(block: np.ndarray) -> np.ndarray:
    """One chunk of shape (n, 3): unit vectors, rotated."""
    points = orvath.VecList.from_array(block).normalize()
    points.rotate(ROTATION)
    return np.asarray(points)


def on_cluster(n_points: int, chunk: int, workers: int = 2) -> tuple[np.ndarray, np.ndarray]:
    """The cloud and its normalised, rotated copy, computed on a local cluster
    of `workers` processes."""
    # dask and distributed are typed only in part: the untyped calls are marked.
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,  # type: ignore[no-untyped-call]
                           dashboard_address=None)  # pyright: ignore[reportArgumentType]
    with cluster, Client(cluster):  # type: ignore[no-untyped-call]
        rng = da.random.default_rng(SEED)  # type: ignore[no-untyped-call]
        cloud = rng.standard_normal((n_points, 3), chunks=(chunk, 3))
        moved = cloud.map_blocks(normalize_and_rotate, dtype=np.float64)
        points, result = compute(cloud, moved)  # type: ignore[no-untyped-call]
    return np.asarray(points), np.asarray(result)


def main() -> None:
    n_points = int(sys.argv[1]) if len(sys.argv) > 1 else 2_000_000
    chunk = int(sys.argv[2]) if len(sys.argv) > 2 else 250_000
    started = time.perf_counter()
    points, result = on_cluster(n_points, chunk)
    print(f"{n_points} points in chunks of {chunk} on 2 worker processes: {time.perf_counter() - started:.1f} s")
    same = result.tobytes() == normalize_and_rotate(points).tobytes()  # the whole cloud as one VecList
    print(f"bit-identical to one VecList: {same}")
    print(f"first point {points[0]} -> {result[0]}")


if __name__ == "__main__":
    main()
