// The module orvath and its submodule orvath.geometry: entry point, execution
// slots and the publication of names.
#include <atomic>

#include "call.hpp"
#include "objects.hpp"

namespace orvath {
namespace {

// Appends `name` to the module's __all__ (created on first use), then sets
// the attribute.
int add_name(PyObject* module, const char* name, PyObject* value) noexcept {
    if (value == nullptr) return -1;
    Ref all;
    if (PyObject_GetOptionalAttrString(module, "__all__", all.out()) < 0) return -1;
    if (!all) {
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text) return -1;
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        return ORVATH_PANIC("could not append __name__ to __all__");
    }
    return PyObject_SetAttr(module, text.get(), value);
}

int add_class(PyObject* module, PyTypeObject* type) noexcept {
    if (type == nullptr) return -1;
    return add_name(module, short_name(type), reinterpret_cast<PyObject*>(type));
}

// ---------------------------------------------------------------------------
// orvath.geometry

// The first interpreter that built the submodule; the types and the pool are
// process-wide, so a second interpreter is refused.
std::atomic<std::int64_t> g_geometry_interpreter{-1};

int geometry_exec(PyObject* module) noexcept {
    if (add_class(module, circle_type()) < 0) return -1;
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef* def = geometry_functions; def->ml_name != nullptr; ++def) {
        Ref fn = Ref::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
        if (add_name(module, def->ml_name, fn.get()) < 0) return -1;
    }
    return add_class(module, plane_type());
}

PyModuleDef_Slot geometry_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(geometry_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef geometry_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "orvath.geometry",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = geometry_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// types.SimpleNamespace, looked up once: the submodule's ModuleSpec stand-in is built from it.
PyObject* simple_namespace() noexcept {
    static OnceCell<PyObject> cell;
    return cell.get([]() -> PyObject* {
        Ref types = Ref::steal(PyImport_ImportModule("types"));
        return types ? PyObject_GetAttrString(types.get(), "SimpleNamespace") : nullptr;
    });
}

Ref make_geometry() noexcept {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1 && PyErr_Occurred()) return {};
    std::int64_t expected = -1;
    if (!g_geometry_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "orvath does not support subinterpreters: it was already imported by another "
                        "interpreter of this process");
        return {};
    }
    PyObject* ns = simple_namespace();
    if (ns == nullptr) return {};
    Ref kwargs = Ref::steal(Py_BuildValue("{s:s}", "name", "orvath.geometry"));
    if (!kwargs) return {};
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return {};
    Ref module_spec = Ref::steal(PyObject_Call(ns, empty.get(), kwargs.get()));
    if (!module_spec) return {};
    Ref module = Ref::steal(PyModule_FromDefAndSpec2(&geometry_def, module_spec.get(), PYTHON_API_VERSION));
    if (!module || PyModule_ExecDef(module.get(), &geometry_def) < 0) return {};
    return module;
}

// ---------------------------------------------------------------------------
// orvath

int orvath_exec(PyObject* module) noexcept {
    if (!init_param_names()) return -1;
    if (add_class(module, angle_degrees_type()) < 0) return -1;
    if (add_class(module, angle_radians_type()) < 0) return -1;
    if (add_class(module, quat_type()) < 0) return -1;
    if (add_class(module, vec_list_type()) < 0) return -1;
    if (add_class(module, vec3d_type()) < 0) return -1;
    Ref geometry = make_geometry();
    if (!geometry) return -1;
    Ref full = Ref::steal(PyModule_GetNameObject(geometry.get()));
    if (!full) return -1;
    const char* text = PyUnicode_AsUTF8(full.get());
    if (text == nullptr) return -1;
    const char* dot = std::strrchr(text, '.');
    if (add_name(module, dot ? dot + 1 : text, geometry.get()) < 0) return -1;
    // The reconstructor that pickles name: an attribute, but not published.
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    Ref restore = Ref::steal(PyCMethod_New(&restore_function, module, module_name.get(), nullptr));
    if (!restore) return -1;
    return PyObject_SetAttrString(module, restore_function.ml_name, restore.get());
}

PyModuleDef_Slot orvath_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(orvath_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef orvath_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "orvath",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = orvath_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace orvath

// PyMODINIT_FUNC: extern "C", exported (visibility on ELF and Mach-O, dllexport on Windows).
PyMODINIT_FUNC PyInit_orvath(void) {
    return PyModuleDef_Init(&orvath::orvath_def);
}
