// orvath.geometry.Circle: a circle lying in a plane of space.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

PyType_Slot circle_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::circle_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<CircleObject>)},
    {0, nullptr},
};

PyType_Spec circle_spec = {
    .name = "builtins.Circle",
    .basicsize = sizeof(CircleObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = circle_slots,
};

TypeCell circle_cell;

}  // namespace

PyTypeObject* circle_type() noexcept { return circle_cell.get(&circle_spec); }

}  // namespace orvath
