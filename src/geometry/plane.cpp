// orvath.geometry.Plane: an infinite plane, normal . p + distance = 0.
// Every constructor stores a normalised normal; the setters store what they
// are given. Equality, hashing and repr stay those of object (identity).
#include "core/plane.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// Every member is bound to its core function in the generated tables; the
// constructor's `distance` is the signed distance from the origin, which
// core::make_plane stores negated as the constant term.
ORVATH_PLANE_TABLES

}  // namespace

TypeCell plane_cell{&plane_spec};

}  // namespace orvath
