# Every target runs inside the development environment (tools/devroot).
DEVROOT := tools/devroot
BUILD := build
JOBS ?= 2
PYTEST_ARGS ?=

.PHONY: build test test-cpp test-tsan test-py demo bench clean

build:
	$(DEVROOT) bash -c 'cmake -S . -B $(BUILD) -G Ninja -DORVATH_BUILD_TESTS=ON >/dev/null && cmake --build $(BUILD) -j $(JOBS)'

test: build
	$(DEVROOT) ctest --test-dir $(BUILD) --output-on-failure
	$(MAKE) --no-print-directory test-tsan
	$(DEVROOT) python3.14 -m pytest -q tests $(PYTEST_ARGS)

# The concurrency tests of the core layer again, under ThreadSanitizer.
test-tsan:
	$(DEVROOT) bash -c 'cmake -S . -B $(BUILD)-tsan -G Ninja -DORVATH_CORE_ONLY=ON -DORVATH_BUILD_TESTS=ON -DORVATH_SANITIZE=thread >/dev/null && cmake --build $(BUILD)-tsan -j $(JOBS) && ctest --test-dir $(BUILD)-tsan --output-on-failure -R "pool|borrow"'

demo: build
	$(DEVROOT) env PYTHONPATH=$(BUILD) python3.14 examples/tour.py

bench: build
	$(DEVROOT) env PYTHONPATH=$(BUILD) python3.14 bench/calls.py
	$(DEVROOT) env PYTHONPATH=$(BUILD) python3.14 bench/bulk.py

clean:
	rm -rf $(BUILD) $(BUILD)-tsan
