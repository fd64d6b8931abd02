"""Face normals and face areas of a closed triangle mesh, with numpy arrays in
and numpy arrays out.

    python3.14 examples/mesh.py [FACES]

The mesh is a torus: a grid of quads around both of its circles, two triangles
each, so every edge is shared by exactly two faces. Vertices are an (n, 3)
float64 array, faces an (m, 3) int64 array, as a mesh file loader gives them.

For face (i, j, k) with corners v0, v1, v2, the normal is the normalised
c = (v1 - v0) x (v2 - v0) and the area half its length. orvath runs it as
whole-list operations on its worker pool: VecList.from_array (one copy), take
for the three corners (reading the face columns where they lie), sub_each,
cross_each, normalize, and magnitude_array; np.asarray views the results
without a copy.

The check against numpy writes the same formulas in the same operation order,
component by component (x = a.y*b.z - a.z*b.y and so on; the length as
sqrt((x*x + y*y) + z*z); each component divided by it), and must agree bit for
bit. np.cross and np.linalg.norm are what a numpy user writes instead; their
operation order is numpy's own (np.linalg.norm may sum in another order), so
they are timed but only reported, not required, to agree.
"""
import sys
import time
from collections.abc import Callable

import numpy as np

from orvath import VecList


def torus(faces: int, major: float = 3.0, minor: float = 1.0) -> tuple[np.ndarray, np.ndarray]:
    """Vertices (n, 3) and faces (m, 3) of a torus of about `faces` triangles."""
    k = max(3, round((faces / 2) ** 0.5))
    u = np.linspace(0.0, 2.0 * np.pi, k, endpoint=False)
    uu, vv = np.meshgrid(u, u * 1.1 + 0.05, indexing="ij")
    ring = major + minor * np.cos(vv)
    vertices = np.stack([ring * np.cos(uu), ring * np.sin(uu), minor * np.sin(vv)], axis=-1).reshape(-1, 3)
    i, j = np.meshgrid(np.arange(k), np.arange(k), indexing="ij")
    a, b = i * k + j, ((i + 1) % k) * k + j
    c, d = ((i + 1) % k) * k + (j + 1) % k, i * k + (j + 1) % k
    tris = np.concatenate([np.stack([a, b, c], -1).reshape(-1, 3), np.stack([a, c, d], -1).reshape(-1, 3)])
    return vertices, tris.astype(np.int64)


def with_orvath(vertices: np.ndarray, faces: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    # Each intermediate list is dropped as soon as it has been used, so that
    # its memory serves the next result instead of fresh pages.
    vl = VecList.from_array(vertices)
    v0 = vl.take(faces[:, 0])
    e1 = vl.take(faces[:, 1]).sub_each(v0)
    e2 = vl.take(faces[:, 2]).sub_each(v0)
    del v0
    c = e1.cross_each(e2)
    del e1, e2
    return np.asarray(c.normalize()), np.asarray(c.magnitude_array()) * 0.5


def same_order(vertices: np.ndarray, faces: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The same formulas in numpy, in orvath's operation order."""
    v0, v1, v2 = (vertices[faces[:, n]] for n in range(3))
    a, b = v1 - v0, v2 - v0
    c = np.stack([a[:, 1] * b[:, 2] - a[:, 2] * b[:, 1], a[:, 2] * b[:, 0] - a[:, 0] * b[:, 2],
                  a[:, 0] * b[:, 1] - a[:, 1] * b[:, 0]], axis=-1)
    length = np.sqrt((c[:, 0] * c[:, 0] + c[:, 1] * c[:, 1]) + c[:, 2] * c[:, 2])
    return c / length[:, None], length * 0.5


def as_numpy_writes_it(vertices: np.ndarray, faces: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    v0, v1, v2 = (vertices[faces[:, n]] for n in range(3))
    c = np.cross(v1 - v0, v2 - v0)
    length = np.linalg.norm(c, axis=1)
    return c / length[:, None], length * 0.5


def identical(x: tuple[np.ndarray, np.ndarray], y: tuple[np.ndarray, np.ndarray]) -> bool:
    return all(p.shape == q.shape and p.tobytes() == q.tobytes() for p, q in zip(x, y))


Job = Callable[[np.ndarray, np.ndarray], tuple[np.ndarray, np.ndarray]]


def best_ms(fn: Job, *args: np.ndarray, repeats: int = 5) -> float:
    times: list[float] = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn(*args)
        times.append(time.perf_counter() - start)
    return min(times) * 1e3


def main(faces: int) -> None:
    vertices, tris = torus(faces)
    ours = with_orvath(vertices, tris)
    print(f"{len(tris)} faces, {len(vertices)} vertices")
    print(f"bit-identical to numpy in the same operation order: {identical(ours, same_order(vertices, tris))}")
    usual = as_numpy_writes_it(vertices, tris)
    print(f"np.cross normals bit-identical: {ours[0].tobytes() == usual[0].tobytes()}, "
          f"np.linalg.norm areas bit-identical: {ours[1].tobytes() == usual[1].tobytes()}, "
          f"largest difference {max(np.max(np.abs(p - q)) for p, q in zip(ours, usual)):.3g}")
    t_orvath = best_ms(with_orvath, vertices, tris)
    t_numpy = best_ms(as_numpy_writes_it, vertices, tris)
    print(f"orvath {t_orvath:.1f} ms, numpy {t_numpy:.1f} ms ({t_numpy / t_orvath:.1f}x)")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000)
