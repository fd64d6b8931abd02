// The float results of the VecList members that answer with an array: a
// read-only memoryview of doubles over a block this module owns.
//
// The block's holder is a small exporter that nothing else can create; the
// memoryview keeps it alive and frees it with its last view. A memoryview
// indexes to floats, has tolist(), and numpy takes it without a copy. The
// doubles never change after the block is made, so its views need no borrow.
#include "core/buffer.hpp"
#include "objects.hpp"

namespace orvath {
namespace {

struct FloatBlock {
    core::Buffer<double> values;
    Py_ssize_t shape[1];
};

using FloatBlockObject = Holder<FloatBlock>;

constexpr Py_ssize_t kStride[1] = {sizeof(double)};

int float_block_getbuffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    view->obj = nullptr;
    if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) return err::not_writable();
    FloatBlock& block = as<FloatBlockObject>(self)->value;
    // An empty block owns no memory; its view still points at something.
    static const double kNothing = 0.0;
    const std::size_t n = block.values.size();
    view->buf = const_cast<double*>(n ? block.values.data() : &kNothing);
    view->obj = Py_NewRef(self);
    view->len = static_cast<Py_ssize_t>(n * sizeof(double));
    view->itemsize = sizeof(double);
    view->readonly = 1;
    view->ndim = 1;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("d") : nullptr;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? block.shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? const_cast<Py_ssize_t*>(kStride) : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyType_Slot float_block_slots[] = {
    {Py_tp_dealloc, slot(holder_dealloc<FloatBlockObject>)},
    {Py_bf_getbuffer, slot(float_block_getbuffer)},
    {0, nullptr},
};

PyType_Spec float_block_spec = {
    .name = "builtins.FloatBlock",
    .basicsize = sizeof(FloatBlockObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = float_block_slots,
};

TypeCell float_block_cell{&float_block_spec};

}  // namespace

PyObject* float_array(core::Buffer<double>&& values) noexcept {
    const auto n = static_cast<Py_ssize_t>(values.size());
    Ref block = Ref::steal(new_holder<FloatBlockObject>(float_block_cell.get(), std::move(values), Py_ssize_t{n}));
    return block ? PyMemoryView_FromObject(block.get()) : nullptr;
}

}  // namespace orvath
