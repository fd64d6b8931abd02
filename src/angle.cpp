// The Python classes AngleRadians and AngleDegrees: one double each, kept
// exactly as given (never wrapped into a range). Radians carry the constants,
// trigonometry and arithmetic; degrees can only be negated, compared and
// converted back.
#include <cmath>
#include <cstddef>

#include "core/angle.hpp"
#include "core/float_text.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

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

constexpr auto angle_radians_make = angle_make<surface::angle_radians_new>;
constexpr auto angle_degrees_make = angle_make<surface::angle_degrees_new>;

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
    return with_instance<AngleObject>(a, type, [&](double lhs) {
        return with_instance<AngleObject>(b, type, [&](double rhs) { return new_angle_radians(Op(lhs, rhs)); });
    });
}

// The receiver stays borrowed while `rhs` converts: its __float__ may be
// arbitrary Python code, and a write to the receiver from there must fail.
template <double (*Op)(double, double) noexcept>
PyObject* angle_radians_scale(PyObject* a, PyObject* b) noexcept {
    return with_instance<AngleObject>(a, angle_radians_type(), [b](double lhs) {
        return with_number(b, [lhs](double rhs) { return new_angle_radians(Op(lhs, rhs)); });
    });
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
    if (copy_value<AngleObject>(self, type, a) != Copy::Copied || !is_instance(other, type))
        Py_RETURN_NOTIMPLEMENTED;
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

constexpr auto angle_radians_add = angle_radians_combine<plus>;
constexpr auto angle_radians_sub = angle_radians_combine<minus>;
constexpr auto angle_radians_mul = angle_radians_scale<times>;
constexpr auto angle_radians_truediv = angle_radians_scale<over>;
constexpr auto angle_radians_neg = angle_negative<new_angle_radians>;
constexpr auto angle_degrees_neg = angle_negative<new_angle_degrees>;
constexpr auto angle_radians_richcompare = angle_richcompare<angle_radians_type, surface::angle_radians_eq>;
constexpr auto angle_degrees_richcompare = angle_richcompare<angle_degrees_type, surface::angle_degrees_eq>;

// ---------------------------------------------------------------------------
// Tables

ORVATH_ANGLE_RADIANS_TABLES
ORVATH_ANGLE_DEGREES_TABLES

}  // namespace

TypeCell angle_radians_cell{&angle_radians_spec};
TypeCell angle_degrees_cell{&angle_degrees_spec};

}  // namespace orvath
