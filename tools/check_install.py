#!/usr/bin/env python3
"""Checks an installed orvath: run by .ci/run from a fresh virtual environment
outside the checkout, after `pip install .`.

The module must come from the environment (not the checkout), the PEP 561 stub
package must sit beside it, and a first call must work.
"""
import os
import sys

import orvath

assert orvath.__file__.startswith(sys.prefix), orvath.__file__
stubs = os.path.join(os.path.dirname(orvath.__file__), "orvath-stubs")
assert sorted(os.listdir(stubs)) == ["__init__.pyi", "_geometry.pyi"], stubs
assert orvath.Vec3d(3, 4, 0).magnitude() == 5.0
print("installed:", orvath.__file__)
