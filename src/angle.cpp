// The Python classes AngleRadians and AngleDegrees: one double each, kept
// exactly as given (never wrapped into a range). Radians carry the constants,
// trigonometry and arithmetic; degrees can only be negated, compared and
// converted back.
#include <cmath>
#include <cstddef>

#include "core/angle.hpp"
#include "core/float_text.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

AngleObject* angle(PyObject* o) noexcept { return as<AngleObject>(o); }

using TypeGetter = PyTypeObject* (*)() noexcept;

template <class Fn>
auto angle_read(PyObject* self, Fn fn) noexcept {
    return read<AngleObject>(self, fn);
}

// ---------------------------------------------------------------------------
// Lifecycle, shared by both classes.

template <const Signature& Sig>
PyObject* angle_make(PyTypeObject* type, PyObject* const* a) noexcept {
    double value;
    if (!arg_double(a[0], Sig.name(0), value)) return nullptr;
    return new_holder<AngleObject>(type, value);
}

template <const Signature& Sig>
using AngleConstructor = Constructor<Sig, angle_make<Sig>>;

// ---------------------------------------------------------------------------
// AngleRadians methods

template <double Value>
PyObject* angle_radians_constant(PyObject*, PyObject*) noexcept {
    return new_angle_radians(Value);
}

// The C library's functions, named so they can be template arguments.
double sin_of(double x) noexcept { return std::sin(x); }
double cos_of(double x) noexcept { return std::cos(x); }
double tan_of(double x) noexcept { return std::tan(x); }

template <double (*F)(double) noexcept>
PyObject* angle_radians_trig(PyObject* self, PyObject*) noexcept {
    return angle_read(self, [](double a) { return new_float(F(a)); });
}

PyObject* angle_radians_to_degrees(PyObject* self, PyObject*) noexcept {
    return angle_read(self, [](double a) { return new_angle_degrees(core::radians_to_degrees(a)); });
}

PyObject* angle_degrees_to_radians(PyObject* self, PyObject*) noexcept {
    return angle_read(self, [](double a) { return new_angle_radians(core::degrees_to_radians(a)); });
}

// ---------------------------------------------------------------------------
// Operators. Binary slots answer NotImplemented for anything they do not take
// (and for an operand that cannot be borrowed); there are no reflected forms,
// so a number on the left is refused as well.

double plus(double a, double b) noexcept { return a + b; }
double minus(double a, double b) noexcept { return a - b; }
double times(double a, double b) noexcept { return a * b; }
double over(double a, double b) noexcept { return a / b; }

template <double (*Op)(double, double) noexcept>
PyObject* angle_radians_combine(PyObject* a, PyObject* b) noexcept {
    PyTypeObject* type = angle_radians_type();
    double lhs, rhs;
    if (!try_value<AngleObject>(a, type, lhs) || !try_value<AngleObject>(b, type, rhs)) return not_implemented();
    return new_angle_radians(Op(lhs, rhs));
}

// The receiver stays borrowed while `rhs` converts: its __float__ may be
// arbitrary Python code, and a write to the receiver from there must fail.
template <double (*Op)(double, double) noexcept>
PyObject* angle_radians_scale(PyObject* a, PyObject* b) noexcept {
    if (!is_instance(a, angle_radians_type())) return not_implemented();
    AngleObject* obj = angle(a);
    SharedBorrow borrow(obj->borrow);
    double r;
    if (!borrow || !to_double(b, r)) return not_implemented();
    return new_angle_radians(Op(obj->value, r));
}

template <PyObject* (*Make)(double) noexcept>
PyObject* angle_negative(PyObject* self) noexcept {
    return angle_read(self, [](double a) { return Make(-a); });
}

// Exact IEEE comparisons between angles of the same unit; != is the negation
// of the whole == protocol.
template <TypeGetter Type, const Signature& Eq>
PyObject* angle_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (op == Py_NE) return not_equal(self, other);
    PyTypeObject* type = Type();
    double a, b;
    if (!try_value<AngleObject>(self, type, a) || !is_instance(other, type)) Py_RETURN_NOTIMPLEMENTED;
    if (!arg_value<AngleObject>(other, type, Eq.name(0), b)) return nullptr;
    switch (op) {
        case Py_LT: return new_bool(a < b);
        case Py_LE: return new_bool(a <= b);
        case Py_EQ: return new_bool(a == b);
        case Py_GT: return new_bool(a > b);
        case Py_GE: return new_bool(a >= b);
        default: Py_RETURN_NOTIMPLEMENTED;
    }
}

PyObject* angle_radians_repr(PyObject* self) noexcept {
    return angle_read(self, [](double a) {
        static constexpr char suffix[] = " radians";
        char text[core::FLOAT_TEXT_MAX + sizeof suffix];
        std::size_t n = core::format_double(a, text);
        for (std::size_t i = 0; i + 1 < sizeof suffix; ++i) text[n++] = suffix[i];
        return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(n));
    });
}

// The degree sign U+00B0 fits one Latin-1 byte, so the text is built as a
// one-byte-kind string directly.
PyObject* angle_degrees_repr(PyObject* self) noexcept {
    return angle_read(self, [](double a) {
        char text[core::FLOAT_TEXT_MAX + 1];
        std::size_t n = core::format_double(a, text);
        text[n++] = static_cast<char>(0xB0);
        return PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, text, static_cast<Py_ssize_t>(n));
    });
}

// ---------------------------------------------------------------------------
// Tables

constexpr int kStatic = METH_NOARGS | METH_STATIC;

PyMethodDef angle_radians_methods[] = {
    {"zero", angle_radians_constant<0.0>, kStatic, surface::angle_radians_zero_doc},
    {"pi", angle_radians_constant<core::PI>, kStatic, surface::angle_radians_pi_doc},
    {"two_pi", angle_radians_constant<core::TWO_PI>, kStatic, surface::angle_radians_two_pi_doc},
    {"half_pi", angle_radians_constant<core::HALF_PI>, kStatic, surface::angle_radians_half_pi_doc},
    {"quarter_pi", angle_radians_constant<core::QUARTER_PI>, kStatic, surface::angle_radians_quarter_pi_doc},
    {"third_pi", angle_radians_constant<core::THIRD_PI>, kStatic, surface::angle_radians_third_pi_doc},
    {"sixth_pi", angle_radians_constant<core::SIXTH_PI>, kStatic, surface::angle_radians_sixth_pi_doc},
    {"sin", angle_radians_trig<sin_of>, METH_NOARGS, surface::angle_radians_sin_doc},
    {"cos", angle_radians_trig<cos_of>, METH_NOARGS, surface::angle_radians_cos_doc},
    {"tan", angle_radians_trig<tan_of>, METH_NOARGS, surface::angle_radians_tan_doc},
    {"sec", angle_radians_trig<core::sec>, METH_NOARGS, surface::angle_radians_sec_doc},
    {"csc", angle_radians_trig<core::csc>, METH_NOARGS, surface::angle_radians_csc_doc},
    {"cot", angle_radians_trig<core::cot>, METH_NOARGS, surface::angle_radians_cot_doc},
    {"to_degrees", angle_radians_to_degrees, METH_NOARGS, surface::angle_radians_to_degrees_doc},
    {"__reduce__", reduce_value<AngleObject>, METH_NOARGS, surface::angle_radians_reduce_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef angle_degrees_methods[] = {
    {"to_radians", angle_degrees_to_radians, METH_NOARGS, surface::angle_degrees_to_radians_doc},
    {"__reduce__", reduce_value<AngleObject>, METH_NOARGS, surface::angle_degrees_reduce_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef angle_getset[] = {
    {"angle", get_field<AngleObject>, set_field<AngleObject>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot angle_radians_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::angle_radians_doc)},
    {Py_tp_dealloc, slot(holder_dealloc<AngleObject>)},
    {Py_tp_new, slot(AngleConstructor<surface::angle_radians_new>::tp_new)},
    {Py_tp_vectorcall, slot(AngleConstructor<surface::angle_radians_new>::vectorcall)},
    {Py_tp_methods, angle_radians_methods},
    {Py_tp_getset, angle_getset},
    {Py_tp_richcompare, slot(angle_richcompare<angle_radians_type, surface::angle_radians_eq>)},
    {Py_tp_repr, slot(angle_radians_repr)},
    {Py_nb_add, slot(angle_radians_combine<plus>)},
    {Py_nb_subtract, slot(angle_radians_combine<minus>)},
    {Py_nb_multiply, slot(angle_radians_scale<times>)},
    {Py_nb_true_divide, slot(angle_radians_scale<over>)},
    {Py_nb_negative, slot(angle_negative<new_angle_radians>)},
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
    {Py_tp_dealloc, slot(holder_dealloc<AngleObject>)},
    {Py_tp_new, slot(AngleConstructor<surface::angle_degrees_new>::tp_new)},
    {Py_tp_vectorcall, slot(AngleConstructor<surface::angle_degrees_new>::vectorcall)},
    {Py_tp_methods, angle_degrees_methods},
    {Py_tp_getset, angle_getset},
    {Py_tp_richcompare, slot(angle_richcompare<angle_degrees_type, surface::angle_degrees_eq>)},
    {Py_tp_repr, slot(angle_degrees_repr)},
    {Py_nb_negative, slot(angle_negative<new_angle_degrees>)},
    {0, nullptr},
};

PyType_Spec angle_degrees_spec = {
    .name = "builtins.AngleDegrees",
    .basicsize = sizeof(AngleObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = angle_degrees_slots,
};

}  // namespace

TypeCell angle_radians_cell{&angle_radians_spec};
TypeCell angle_degrees_cell{&angle_degrees_spec};

}  // namespace orvath
