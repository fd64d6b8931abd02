// The Python class Quat: a holder of one quaternion value.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

PyType_Slot quat_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::quat_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<QuatObject>)},
    {0, nullptr},
};

PyType_Spec quat_spec = {
    .name = "builtins.Quat",
    .basicsize = sizeof(QuatObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = quat_slots,
};

TypeCell quat_cell;

}  // namespace

PyTypeObject* quat_type() noexcept { return quat_cell.get(&quat_spec); }

}  // namespace orvath
