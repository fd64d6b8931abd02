import os
import sys

_here = os.path.dirname(os.path.abspath(__file__))
_build = os.environ.get("ORVATH_BUILD_DIR", os.path.join(_here, os.pardir, "build"))
sys.path.insert(0, os.path.abspath(_build))
sys.path.insert(0, _here)
