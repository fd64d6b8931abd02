"""The layering of the sources: operating-system headers appear only in the
platform files of core/, Python.h only in the binding layer, and every other
include is the C++ standard library, a compiler intrinsic header or a file of
this project."""
import os
import re

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))

# The implementations of core/platform.hpp: the only files that name OS headers.
PLATFORM_FILES = {"core/platform_linux.cpp", "core/platform_posix.cpp", "core/platform_unix.cpp",
                  "core/platform_windows.cpp"}

STANDARD = set("""
    algorithm any array atomic barrier bit bitset charconv chrono compare complex concepts condition_variable
    coroutine deque exception execution expected filesystem format forward_list fstream functional future
    initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map memory
    memory_resource mutex new numbers numeric optional ostream print queue random ranges ratio regex
    scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept stop_token
    streambuf string string_view syncstream system_error thread tuple type_traits typeindex typeinfo
    unordered_map unordered_set utility valarray variant vector version
    cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg cstddef cstdint
    cstdio cstdlib cstring ctime cuchar cwchar cwctype
""".split())
INTRINSICS = {"immintrin.h", "arm_neon.h"}
# Written into the build directory by tools/gen_surface.py.
GENERATED = {"surface.hpp"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def sources():
    for top in ("core", "src"):
        for folder, _, names in os.walk(os.path.join(ROOT, top)):
            for name in sorted(names):
                if name.endswith((".cpp", ".hpp")):
                    yield os.path.relpath(os.path.join(folder, name), ROOT).replace(os.sep, "/")


def project_file(including, name):
    here = os.path.dirname(os.path.join(ROOT, including))
    return name in GENERATED or any(
        os.path.isfile(os.path.join(base, name)) for base in (ROOT, os.path.join(ROOT, "src"), here))


def foreign_includes(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as fh:
        text = fh.read()
    bad = []
    for bracket, name in INCLUDE.findall(text):
        if bracket == '"':
            ok = project_file(path, name)
        elif name == "Python.h":
            ok = path.startswith("src/")
        else:
            ok = name in STANDARD or name in INTRINSICS
        if not ok:
            bad.append(name)
    return bad


def test_only_standard_and_project_includes_outside_the_platform_files():
    checked = [p for p in sources() if p not in PLATFORM_FILES]
    assert len(checked) > 20 and "core/pool.cpp" in checked and "src/call.hpp" in checked
    assert {p: bad for p in checked if (bad := foreign_includes(p))} == {}
    assert PLATFORM_FILES <= set(sources())
