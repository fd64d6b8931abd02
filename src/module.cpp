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
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), text.get()) < 0) return err::not_published(ORVATH_HERE);
    return PyObject_SetAttr(module, text.get(), value);
}

// A published name: a class, a function, or (neither) the submodule.
struct Published {
    const char* name;
    PyTypeObject* (*type)() noexcept;
    PyMethodDef* function;
};

Ref make_geometry() noexcept;

ORVATH_MODULES_TABLES

// Publishes `names` in their order, ending at the null name.
int publish(PyObject* module, const Published* names) noexcept {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (const Published* n = names; n->name != nullptr; ++n) {
        Ref value;
        if (n->type != nullptr) value = Ref::borrow(reinterpret_cast<PyObject*>(n->type()));
        else if (n->function != nullptr)
            value = Ref::steal(PyCMethod_New(n->function, module, module_name.get(), nullptr));
        else value = make_geometry();
        if (add_name(module, n->name, value.get()) < 0) return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// orvath.geometry

// The first interpreter that built the submodule; the types and the pool are
// process-wide, so a second interpreter is refused.
std::atomic<std::int64_t> g_geometry_interpreter{-1};

int geometry_exec(PyObject* module) noexcept { return publish(module, geometry_names); }

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
        err::subinterpreter();
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
    if (publish(module, orvath_names) < 0) return -1;
    // The functions that pickles name: attributes, but not published.
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef* const* def = private_functions; *def != nullptr; ++def) {
        Ref fn = Ref::steal(PyCMethod_New(*def, module, module_name.get(), nullptr));
        if (!fn || PyObject_SetAttrString(module, (*def)->ml_name, fn.get()) < 0) return -1;
    }
    return 0;
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
