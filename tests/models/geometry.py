"""Pure-Python model of the plane, circle and intersection formulas.

Vectors are 3-tuples of floats. Every expression keeps the grouping of the
formulas (three-term sums as ((a + b) + c), normalisation by three divisions),
so the results are the IEEE doubles the extension must produce. Python raises
where IEEE arithmetic would give inf or NaN (division by zero, sqrt of a
negative), so those two operations go through `div` and `sqrt`, shared with the
vector model like the vector helpers and lengths.
"""
import math

from models.vec import cross, div, dot, magnitude, normalize, sqrt, sub

EPS = 2.0 ** -52
PI = 3.141592653589793

TOO_FAR = "The given geometries are too far apart and do not intersect at all."
CONTAINED = ("One of the given geometries is contained entirely within the other. "
             "The surfaces do not intersect.")
IDENTICAL = "The given geometries are identical."
OUT_OF_PLANE = "The given geometries are out of plane from each other"


# --- Plane: (normal, distance) with normal . p + distance = 0 -------------------------------

def plane_new(normal, distance):
    return (normalize(normal), -distance)


def plane_from_point(normal, point):
    n = normalize(normal)
    return (n, -dot(n, point))


def plane_from_points(p1, p2, p3):
    n = normalize(cross(sub(p2, p1), sub(p3, p1)))
    return (n, -dot(n, p1))


def plane_distance_to_point(plane, point):
    n, d = plane
    return abs(dot(n, point) + d)


def plane_contains_point(plane, point):
    return plane_distance_to_point(plane, point) < EPS


# --- Circle: (center, radius, normal) -------------------------------------------------------

def circle_new(center, radius, normal):
    return (center, abs(radius), normalize(normal))


def circle_area(circle):
    r = circle[1]
    return (r * r) * PI


def circle_get_plane(circle):
    center, _, normal = circle
    return plane_from_point(normal, center)


def circle_is_degenerate(circle):
    return circle[1] == 0.0


def normals_relation(s, o):
    """'parallel', 'opposite' or None, component by component."""
    if abs(s[0] - o[0]) < EPS and abs(s[1] - o[1]) < EPS and abs(s[2] - o[2]) < EPS:
        return "parallel"
    if abs(s[0] + o[0]) < EPS and abs(s[1] + o[1]) < EPS and abs(s[2] + o[2]) < EPS:
        return "opposite"
    return None


def circle_in_same_plane(s, o):
    rel = normals_relation(s[2], o[2])
    if rel is None:
        return False
    k_s = dot(s[2], s[0])
    k_o = dot(o[2], o[0])
    if rel == "parallel":
        return abs(k_o - k_s) < EPS
    return abs(k_o + k_s) < EPS


def circle_eq(a, b):
    ca, cb = a[0], b[0]
    return (abs(ca[0] - cb[0]) < EPS and abs(ca[1] - cb[1]) < EPS and abs(ca[2] - cb[2]) < EPS
            and a[1] == b[1] and normals_relation(a[2], b[2]) is not None)


# --- Intersections --------------------------------------------------------------------------

def plane_line(plane, a, b):
    n, distance = plane
    d = sub(b, a)
    den = dot(n, d)
    s = dot(n, a) + distance
    t = div(-s, den)
    return (t * d[0] + a[0], t * d[1] + a[1], t * d[2] + a[2])


def circle_point_unchecked(circle, point, inner):
    center, radius, _ = circle
    delta = radius - magnitude(sub(point, center))
    if abs(delta) < EPS:
        return True
    if delta > EPS:
        return inner
    return False


def circle_point(circle, point, inner):
    center, _, normal = circle
    n = normalize(normal)
    if not abs(dot(n, point) - dot(n, center)) < EPS:
        return False
    return circle_point_unchecked(circle, point, inner)


def circle_circle(circle1, circle2):
    """The pair of points, or the ValueError message as a str."""
    if circle_eq(circle1, circle2):
        return IDENTICAL
    if not circle_in_same_plane(circle1, circle2):
        return OUT_OF_PLANE
    c1, r1, _ = circle1
    c2, r2, n2 = circle2
    dist = magnitude(sub(c1, c2))
    if dist > r1 + r2:
        return TOO_FAR
    if abs(r1 - r2) > dist:
        return CONTAINED
    q = dist * dist
    t = div(r1 * r1 - r2 * r2, q + q) + 0.5
    h2 = r1 * r1 - (t * t) * q
    if h2 < 0.0:
        h2 = 0.0
    h = sqrt(h2)
    d = sub(c2, c1)
    p = (t * d[0] + c1[0], t * d[1] + c1[1], c1[2] + d[2] * t)
    u = normalize(cross(d, n2))
    return ((p[0] + h * u[0], p[1] + h * u[1], p[2] + h * u[2]),
            (p[0] - h * u[0], p[1] - h * u[1], p[2] - h * u[2]))
