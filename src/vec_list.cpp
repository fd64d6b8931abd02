// The Python classes VecList (a growable array of 3-D vectors whose
// element-wise operations run on the worker pool) and VecListIterator.
#include <vector>

#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

using VecListObject = Holder<std::vector<core::Vec3>>;

struct IteratorState {
    std::vector<core::Vec3> snapshot;
    std::size_t cursor = 0;
};
using VecListIteratorObject = Holder<IteratorState>;

PyType_Slot vec_list_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::vec_list_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<VecListObject>)},
    {0, nullptr},
};

PyType_Spec vec_list_spec = {
    .name = "builtins.VecList",
    .basicsize = sizeof(VecListObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = vec_list_slots,
};

PyType_Slot vec_list_iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<VecListIteratorObject>)},
    {0, nullptr},
};

PyType_Spec vec_list_iterator_spec = {
    .name = "builtins.VecListIterator",
    .basicsize = sizeof(VecListIteratorObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = vec_list_iterator_slots,
};

TypeCell vec_list_cell;
TypeCell vec_list_iterator_cell;

}  // namespace

PyTypeObject* vec_list_type() noexcept { return vec_list_cell.get(&vec_list_spec); }
PyTypeObject* vec_list_iterator_type() noexcept { return vec_list_iterator_cell.get(&vec_list_iterator_spec); }

}  // namespace orvath
