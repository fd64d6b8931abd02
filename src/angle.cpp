// The Python classes AngleRadians and AngleDegrees: one double each.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

PyType_Slot angle_radians_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::angle_radians_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<AngleObject>)},
    {0, nullptr},
};

PyType_Spec angle_radians_spec = {
    .name = "builtins.AngleRadians",
    .basicsize = sizeof(AngleObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = angle_radians_slots,
};

PyType_Slot angle_degrees_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::angle_degrees_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<AngleObject>)},
    {0, nullptr},
};

PyType_Spec angle_degrees_spec = {
    .name = "builtins.AngleDegrees",
    .basicsize = sizeof(AngleObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = angle_degrees_slots,
};

TypeCell angle_radians_cell;
TypeCell angle_degrees_cell;

}  // namespace

PyTypeObject* angle_radians_type() noexcept { return angle_radians_cell.get(&angle_radians_spec); }
PyTypeObject* angle_degrees_type() noexcept { return angle_degrees_cell.get(&angle_degrees_spec); }

}  // namespace orvath
