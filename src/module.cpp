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

// The definition of a module with no state of its own, safe without the
// interpreter lock, whose execution runs Exec.
template <const char* Name, int (*Exec)(PyObject*) noexcept>
struct Module {
    static inline PyModuleDef_Slot slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(Exec)},
        {Py_mod_gil, Py_MOD_GIL_NOT_USED},
        {0, nullptr},
    };
    static inline PyModuleDef def = {
        .m_base = PyModuleDef_HEAD_INIT,
        .m_name = Name,
        .m_doc = "",
        .m_size = 0,
        .m_methods = nullptr,
        .m_slots = slots,
        .m_traverse = nullptr,
        .m_clear = nullptr,
        .m_free = nullptr,
    };
};

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

constexpr char kGeometryName[] = "orvath.geometry";
using GeometryModule = Module<kGeometryName, geometry_exec>;

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
    Ref module = Ref::steal(PyModule_FromDefAndSpec2(&GeometryModule::def, module_spec.get(), PYTHON_API_VERSION));
    if (!module || PyModule_ExecDef(module.get(), &GeometryModule::def) < 0) return {};
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

constexpr char kOrvathName[] = "orvath";
using OrvathModule = Module<kOrvathName, orvath_exec>;

}  // namespace
}  // namespace orvath

// PyMODINIT_FUNC: extern "C", exported (visibility on ELF and Mach-O, dllexport on Windows).
PyMODINIT_FUNC PyInit_orvath(void) {
    return PyModuleDef_Init(&orvath::OrvathModule::def);
}
