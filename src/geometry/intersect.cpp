// The functions of orvath.geometry: plane_line, circle_point,
// circle_point_unchecked and circle_circle.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {

PyMethodDef geometry_functions[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace orvath
