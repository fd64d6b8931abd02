"""The module frame: publication, type objects, submodule, re-import, interpreters."""
import collections.abc
import ctypes
import os
import subprocess
import sys
import textwrap

import pytest

import orvath
from orvath import geometry

CLASSES = [orvath.Vec3d, orvath.VecList, orvath.Quat, orvath.AngleRadians, orvath.AngleDegrees,
           geometry.Plane, geometry.Circle]
SIGNATURES = {"Vec3d": "(x, y, z)", "VecList": "(list)", "Quat": "(w, i, j, k)", "AngleRadians": "(angle)",
              "AngleDegrees": "(angle)", "Plane": "(normal, distance)", "Circle": "(center, radius, normal)"}


def iterator_type():
    return type(iter(orvath.VecList.empty()))


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}, timeout=120)


# ---------------------------------------------------------------------------
# Publication

def test_all_lists_in_publication_order():
    assert orvath.__all__ == ["AngleDegrees", "AngleRadians", "Quat", "VecList", "Vec3d", "geometry"]
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked",
                                "plane_line", "Plane"]
    for name in orvath.__all__:
        assert hasattr(orvath, name)
    for name in geometry.__all__:
        assert hasattr(geometry, name)


def test_module_docs_and_names():
    assert orvath.__doc__ == ""
    assert geometry.__doc__ == ""
    assert orvath.__name__ == "orvath"
    assert geometry.__name__ == "orvath.geometry"
    assert not hasattr(orvath, "VecListIterator")
    assert iterator_type().__name__ == "VecListIterator"


def test_text_signatures_of_members():
    assert orvath.Vec3d.dot.__text_signature__ == "($self, other)"
    assert orvath.Vec3d.zero.__text_signature__ == "()"
    assert orvath.Vec3d.new_from_to.__text_signature__ == "(from, to)"
    assert geometry.plane_line.__text_signature__ == "(plane, a, b)"
    assert geometry.plane_line.__module__ == "orvath.geometry"
    assert geometry.plane_line.__self__ is geometry
    assert geometry.circle_circle.__name__ == "circle_circle"


# ---------------------------------------------------------------------------
# Type objects

@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_identity(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
    assert cls.__text_signature__ == SIGNATURES[cls.__name__]
    assert cls.__doc__ == ""


def test_iterator_type_identity():
    it = iterator_type()
    assert it.__module__ == "builtins"
    assert it.__doc__ is None
    with pytest.raises(TypeError):
        it()
    assert iterator_type() is it


@pytest.mark.parametrize("cls", CLASSES + [iterator_type()], ids=lambda c: c.__name__)
def test_final_no_dict_mutable_type(cls):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (cls,), {})
    assert not hasattr(cls, "__dict__") or "__dict__" not in cls.__dict__
    assert "__weakref__" not in cls.__dict__
    cls.orvath_test_attribute = 1
    try:
        assert cls.orvath_test_attribute == 1
    finally:
        del cls.orvath_test_attribute


def test_hashability_by_class():
    with pytest.raises(TypeError):
        hash(orvath.Quat(1, 0, 0, 0))
    for cls in (orvath.Quat, orvath.AngleRadians, orvath.AngleDegrees, geometry.Circle):
        assert cls.__hash__ is None
    plane = geometry.Plane.xy()
    assert hash(plane) == object.__hash__(plane)
    assert plane == plane and plane != geometry.Plane.xy()


# ---------------------------------------------------------------------------
# Instances

def test_instances_take_no_new_attributes():
    v = orvath.Vec3d(1, 2, 3)
    with pytest.raises(AttributeError):
        v.foo = 1
    with pytest.raises(TypeError):
        import weakref
        weakref.ref(v)


def test_vec3d_iterates_lazily_through_its_own_iter():
    # Vec3d defines __iter__ (so it is an Iterable), and each component is read
    # when it is reached, not when the iterator is made.
    assert "__iter__" in vars(orvath.Vec3d)
    assert isinstance(orvath.Vec3d(0, 0, 0), collections.abc.Iterable)
    v = orvath.Vec3d(1, 2, 3)
    it = iter(v)
    assert next(it) == 1.0
    v.y = 5
    assert list(it) == [5.0, 3.0]
    with pytest.raises(TypeError):
        len(v)


# ---------------------------------------------------------------------------
# Import: submodule, re-import, subinterpreters

def test_submodule_is_not_in_sys_modules():
    assert "orvath.geometry" not in sys.modules
    result = run_python("""
        import orvath
        try:
            import orvath.geometry
        except ModuleNotFoundError as e:
            print("MNF", e.name)
        from orvath import geometry
        print(geometry.__name__)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MNF", "orvath.geometry", "orvath.geometry"]


def test_reimport_reuses_types():
    result = run_python("""
        import sys, orvath
        first = orvath.Vec3d, orvath.geometry.Plane
        del sys.modules["orvath"]
        import orvath as again
        assert again is not orvath
        assert (again.Vec3d, again.geometry.Plane) == first
        assert again.__all__ == orvath.__all__
        print(again.Vec3d(1, 2, 3).x)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "1.0"


def test_subinterpreter_import_fails():
    result = run_python("""
        import orvath, _testcapi
        r = _testcapi.run_in_subinterp("import sys\\ntry:\\n    import orvath\\nexcept ImportError as e:\\n"
                                        "    sys.stdout.write('IE:' + str(e) + '\\\\n')\\n")
        print("rc", r)
    """)
    assert result.returncode == 0, result.stderr
    assert "IE:" in result.stdout and "subinterpreters" in result.stdout


# ---------------------------------------------------------------------------
# The fault exception

def test_fault_exception_is_base_exception_only():
    vl = orvath.VecList([orvath.Vec3d(1, 2, 3)])
    with pytest.raises(BaseException) as info:
        try:
            vl.collapse(3)
        except Exception:  # pragma: no cover - must not catch
            pytest.fail("the fault exception was caught as an Exception")
    exc = info.value
    assert type(exc).__bases__ == (BaseException,)
    assert str(exc) == "assertion failed: axis <= 2"
    assert type(exc).__name__ not in dir(orvath)


def test_fault_writes_one_diagnostic_line(capfd):
    with pytest.raises(BaseException):
        orvath.VecList.empty().minimum_distance_to(orvath.Vec3d(0, 0, 0), 0)
    err = capfd.readouterr().err
    assert err.count("\n") == 1 and "assertion failed: stride != 0" in err


@pytest.mark.parametrize("make, source", [(lambda: orvath.Vec3d(1, 2, 3), "src/vec3d.cpp"),
                                          (lambda: orvath.Quat(1, 0, 0, 0), "src/quat.cpp")])
def test_comparison_fault_names_the_class_file(capfd, make, source):
    # The other operand held exclusively (its borrow word is the last field).
    a, b = make(), make()
    word = ctypes.c_int64.from_address(id(b) + type(b).__basicsize__ - 8)
    word.value = -1
    try:
        with pytest.raises(BaseException) as info:
            a == b
    finally:
        word.value = 0
    assert info.value.args == ("Already mutably borrowed: PyBorrowError",)
    assert capfd.readouterr().err.startswith(f"orvath: internal fault at {source}:")
    assert (a == b) is True


def test_fault_diagnostic_names_the_source_relative_to_the_checkout(capfd):
    # The build maps its source folder away, so the diagnostic does not depend
    # on where the module was built.
    with pytest.raises(BaseException):
        orvath.VecList([orvath.Vec3d(1, 2, 3)]).collapse(3)
    err = capfd.readouterr().err
    assert err.startswith("orvath: internal fault at src/vec_list.cpp:"), err
