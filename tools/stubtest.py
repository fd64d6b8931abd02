#!/usr/bin/env python3
"""Checks the committed stub package against the running module with mypy.stubtest.

    python3.14 tools/stubtest.py [stubtest options]

orvath must be importable (PYTHONPATH=build). orvath.geometry is an attribute
of orvath, not a module the import system can find, and its stub is the
private module orvath._geometry (see tools/gen_stubs.py), so for this check
alone the attribute is entered in sys.modules under that name; the module
itself is left as it is. The stub package is copied under the module's own name into a temporary
directory on MYPYPATH, which is also the working directory, so mypy's cache
stays out of the checkout. tools/stubtest-allowlist.txt lists the differences
that cannot match, each with its reason; an entry that no longer matches
anything fails the check too.
"""
import os
import shutil
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))
ALLOWLIST = os.path.join(ROOT, "tools", "stubtest-allowlist.txt")


def main(argv):
    import orvath
    from mypy import stubtest

    sys.modules.setdefault("orvath._geometry", orvath.geometry)
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copytree(os.path.join(ROOT, "orvath-stubs"), os.path.join(tmp, "orvath"))
        os.environ["MYPYPATH"] = tmp
        os.chdir(tmp)
        return stubtest.test_stubs(stubtest.parse_options(["orvath", "--allowlist", ALLOWLIST, *argv]))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
