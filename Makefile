# Every target runs inside the development environment (tools/devroot).
DEVROOT := tools/devroot
BUILD := build
JOBS ?= 2
PYTEST_ARGS ?=

.PHONY: build test test-cpp test-tsan test-py test-asan test-refleak test-clang test-posix test-windows test-aarch64 \
	demo stubs bench clean

build:
	$(DEVROOT) bash -c 'cmake -S . -B $(BUILD) -G Ninja -DORVATH_BUILD_TESTS=ON >/dev/null && cmake --build $(BUILD) -j $(JOBS)'

test: build
	$(DEVROOT) ctest --test-dir $(BUILD) --output-on-failure
	$(MAKE) --no-print-directory test-tsan
	$(DEVROOT) python3.14 -m pytest -q tests $(PYTEST_ARGS)

# The concurrency tests of the core layer again, under ThreadSanitizer.
test-tsan:
	$(DEVROOT) bash -c 'cmake -S . -B $(BUILD)-tsan -G Ninja -DORVATH_CORE_ONLY=ON -DORVATH_BUILD_TESTS=ON -DORVATH_SANITIZE=thread >/dev/null && cmake --build $(BUILD)-tsan -j $(JOBS) && ctest --test-dir $(BUILD)-tsan --output-on-failure -R "pool|borrow|exact_sum"'

# The whole suite (C++ and Python) against a build instrumented with
# AddressSanitizer and UndefinedBehaviorSanitizer, where undefined behaviour
# aborts. The interpreter itself is not instrumented: the sanitizer runtimes are
# preloaded into it, and PYTHONMALLOC=malloc sends every Python object through
# the checked allocator. Leak detection is off for Python, which does not free
# everything at exit. Reports are written to files, so that one from a child
# process fails the target too.
test-asan:
	$(DEVROOT) bash -euc '\
	    cmake -S . -B $(BUILD)-asan -G Ninja -DORVATH_BUILD_TESTS=ON -DORVATH_SANITIZE=address,undefined \
	        -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=undefined >/dev/null; \
	    cmake --build $(BUILD)-asan -j $(JOBS); \
	    logs=$$PWD/$(BUILD)-asan/sanitizer-reports; rm -rf $$logs; mkdir -p $$logs; \
	    export UBSAN_OPTIONS=print_stacktrace=1:log_path=$$logs/ubsan; \
	    checks=detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1; \
	    status=0; \
	    ASAN_OPTIONS=$$checks:log_path=$$logs/asan ctest --test-dir $(BUILD)-asan --output-on-failure || status=$$?; \
	    env LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	        ASAN_OPTIONS=$$checks:detect_leaks=0:log_path=$$logs/asan PYTHONMALLOC=malloc ORVATH_SANITIZED=1 \
	        ORVATH_BUILD_DIR=$(BUILD)-asan PYTHONPATH=tests \
	        python3.14 -m pytest -q -p support.instrumented tests $(PYTEST_ARGS) || status=$$?; \
	    if [ -n "$$(ls -A $$logs)" ]; then cat $$logs/*; echo "test-asan: sanitizer reports above" >&2; exit 1; fi; \
	    exit $$status'

# Reference leaks: orvath built against the debug interpreter, whose
# sys.gettotalrefcount() the leak test reads (elsewhere that test skips). The
# hostile-input test runs there as well, under the interpreter's own checks.
test-refleak:
	$(DEVROOT) bash -euc '\
	    cmake -S . -B $(BUILD)-dbg -G Ninja -DPython_EXECUTABLE=$$(command -v python3.14d) >/dev/null; \
	    cmake --build $(BUILD)-dbg -j $(JOBS); \
	    ORVATH_BUILD_DIR=$(BUILD)-dbg PYTHONPATH=tests python3.14d -m pytest -q -p support.instrumented \
	        tests/test_refleak.py tests/test_hostile.py $(PYTEST_ARGS)'

# The whole suite (C++ and Python) built with clang and libc++. GoogleTest is
# built from source: the installed one is compiled against libstdc++. The
# battery of results must match the GCC build bit for bit.
test-clang: build
	$(DEVROOT) bash -euc '\
	    CC=clang CXX=clang++ cmake -S . -B $(BUILD)-clang -G Ninja -DORVATH_BUILD_TESTS=ON \
	        -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DORVATH_GTEST_SOURCE=/usr/src/googletest >/dev/null; \
	    cmake --build $(BUILD)-clang -j $(JOBS); \
	    ctest --test-dir $(BUILD)-clang --output-on-failure; \
	    ORVATH_BUILD_DIR=$(BUILD)-clang python3.14 -m pytest -q tests $(PYTEST_ARGS); \
	    PYTHONPATH=$(BUILD) python3.14 tools/battery.py > $(BUILD)/battery.txt; \
	    PYTHONPATH=$(BUILD)-clang python3.14 tools/battery.py > $(BUILD)-clang/battery.txt; \
	    python3.14 tools/battery.py --compare $(BUILD)/battery.txt $(BUILD)-clang/battery.txt --strict'

# The whole suite on Linux with the generic POSIX platform layer forced: what
# macOS and the BSDs run, minus their kernels.
test-posix:
	$(DEVROOT) bash -euc '\
	    cmake -S . -B $(BUILD)-posix -G Ninja -DORVATH_BUILD_TESTS=ON -DORVATH_PLATFORM=posix >/dev/null; \
	    cmake --build $(BUILD)-posix -j $(JOBS); \
	    export ORVATH_EXPECT_PLATFORM=posix; \
	    ctest --test-dir $(BUILD)-posix --output-on-failure; \
	    ORVATH_BUILD_DIR=$(BUILD)-posix python3.14 -m pytest -q tests $(PYTEST_ARGS)'

# core/ and its C++ tests cross-built for Windows with mingw-w64 and run under
# wine, whose prefix lives in the build directory. The extension itself needs
# the Windows CPython headers and import library, which are not here.
test-windows:
	$(DEVROOT) bash -euc '\
	    cmake -S . -B $(BUILD)-windows -G Ninja --toolchain tools/mingw-w64.cmake -DORVATH_CORE_ONLY=ON \
	        -DORVATH_BUILD_TESTS=ON -DORVATH_GTEST_SOURCE=/usr/src/googletest >/dev/null; \
	    cmake --build $(BUILD)-windows -j $(JOBS); \
	    export WINEPREFIX=$$PWD/$(BUILD)-windows/wine WINEDEBUG=-all XDG_RUNTIME_DIR=$$PWD/$(BUILD)-windows; \
	    wineboot --init >/dev/null 2>&1; \
	    ORVATH_EXPECT_PLATFORM=windows ctest --test-dir $(BUILD)-windows --output-on-failure'

# Not in CI (about half an hour the first time): builds the module in an arm64
# Debian root under qemu-user (tools/armroot, which sets qemu up on the host)
# and compares the battery of results with the x86-64 build bit for bit. The C
# library's trigonometry is the platform's and is reported apart.
test-aarch64: build
	tools/armroot bash -euc 'cmake -S . -B $(BUILD)-aarch64 -G Ninja >/dev/null && cmake --build $(BUILD)-aarch64 -j $(JOBS)'
	$(DEVROOT) env PYTHONPATH=$(BUILD) python3.14 tools/battery.py > $(BUILD)/battery.txt
	tools/armroot env PYTHONPATH=$(BUILD)-aarch64 python3.14 tools/battery.py > $(BUILD)-aarch64/battery.txt
	$(DEVROOT) python3.14 tools/battery.py --compare $(BUILD)/battery.txt $(BUILD)-aarch64/battery.txt

demo: build
	$(DEVROOT) env PYTHONPATH=$(BUILD) python3.14 examples/tour.py

# The stub package and the reference page, from the built library's typing
# records and tools/reference.py; the tests fail while either is stale.
stubs: build
	$(DEVROOT) bash -c 'lib=$$(ls $(BUILD)/orvath.*.so) && python3.14 tools/gen_stubs.py $$lib orvath-stubs \
	    && python3.14 tools/gen_api_doc.py $$lib docs/api.md'

# Tables on stdout; the numbers also go to $(BUILD)/bench-*.json and the chart
# to docs/bench.png.
bench: build
	$(DEVROOT) env PYTHONPATH=$(BUILD) ORVATH_BENCH_JSON=$(BUILD)/bench-calls.json python3.14 bench/calls.py
	$(DEVROOT) env PYTHONPATH=$(BUILD) ORVATH_BENCH_JSON=$(BUILD)/bench-bulk.json python3.14 bench/bulk.py
	$(DEVROOT) env PYTHONPATH=$(BUILD) ORVATH_BENCH_JSON=$(BUILD)/bench-interop.json python3.14 bench/interop.py
	$(DEVROOT) env PYTHONPATH=$(BUILD) ORVATH_BENCH_JSON=$(BUILD)/bench-whole-array.json python3.14 bench/whole_array.py
	$(DEVROOT) env PYTHONPATH=$(BUILD) python3.14 bench/reductions.py
	mkdir -p docs
	$(DEVROOT) python3.14 bench/chart.py $(BUILD)/bench-calls.json $(BUILD)/bench-bulk.json docs/bench.png

clean:
	rm -rf $(BUILD) $(BUILD)-tsan $(BUILD)-asan $(BUILD)-dbg $(BUILD)-clang $(BUILD)-posix $(BUILD)-windows \
	    $(BUILD)-aarch64
