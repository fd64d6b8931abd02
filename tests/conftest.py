import os
import sys

_here = os.path.dirname(os.path.abspath(__file__))
_build = os.environ.get("ORVATH_BUILD_DIR", os.path.join(_here, os.pardir, "build"))
sys.path.insert(0, os.path.abspath(_build))
sys.path.insert(0, _here)

# These read what only Linux has: /proc, glibc's malloc statistics, the ELF
# symbol table that carries the typing records. Elsewhere (the macOS and
# Windows wheels) the rest of the suite runs.
if not sys.platform.startswith("linux"):
    collect_ignore = ["test_memory.py", "test_pool_fork.py", "test_records.py", "test_refleak.py",
                      "test_typing.py"]
