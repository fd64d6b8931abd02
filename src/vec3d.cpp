// The Python class Vec3d: a mutable holder of one 3-D vector value.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

PyType_Slot vec3d_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::vec3d_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<Vec3dObject>)},
    {0, nullptr},
};

PyType_Spec vec3d_spec = {
    .name = "builtins.Vec3d",
    .basicsize = sizeof(Vec3dObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = vec3d_slots,
};

TypeCell vec3d_cell;

}  // namespace

PyTypeObject* vec3d_type() noexcept { return vec3d_cell.get(&vec3d_spec); }

}  // namespace orvath
