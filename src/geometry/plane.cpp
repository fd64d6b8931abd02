// orvath.geometry.Plane: an infinite plane, normal . p + distance = 0.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

PyType_Slot plane_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::plane_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<PlaneObject>)},
    {0, nullptr},
};

PyType_Spec plane_spec = {
    .name = "builtins.Plane",
    .basicsize = sizeof(PlaneObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = plane_slots,
};

TypeCell plane_cell;

}  // namespace

PyTypeObject* plane_type() noexcept { return plane_cell.get(&plane_spec); }

}  // namespace orvath
