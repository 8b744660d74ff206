# Convenience wrapper around CMake. `make run` refines the bundled example,
# `make test` builds everything (warnings are errors) and runs all tests.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: build run test sanitize clean

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/stlrefine

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-asan \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DSTLREFINE_BUILD_BENCH=OFF -DSTLREFINE_SANITIZE=address,undefined $(CMAKE_FLAGS)"

clean:
	rm -rf $(BUILD) build-asan
