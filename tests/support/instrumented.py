"""pytest plugin for the runs against instrumented builds (make test-asan,
make test-refleak), loaded with `-p support.instrumented`.

- Hypothesis keeps no per-example deadline: sanitizers and the debug
  interpreter make every example several times slower, and a deadline there
  would report the build's speed, not a fault.
- Child processes keep the sanitizer runtime. A test that starts Python with an
  environment of its own (only PYTHONPATH, say) would otherwise load the
  instrumented extension into an interpreter without the preloaded runtime,
  which AddressSanitizer refuses outright; the variables below are added back
  to any explicit environment that does not set them itself.
"""
import os
import subprocess

from hypothesis import settings

settings.register_profile("instrumented", deadline=None)
settings.load_profile("instrumented")

_KEPT = {name: os.environ[name] for name in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")
         if name in os.environ}

if _KEPT:
    _popen_init = subprocess.Popen.__init__

    def _init_keeping_runtime(self, *args, env=None, **kwargs):
        if env is not None:
            env = {**_KEPT, **env}
        _popen_init(self, *args, env=env, **kwargs)

    subprocess.Popen.__init__ = _init_keeping_runtime
