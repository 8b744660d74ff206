# Convenience wrapper around CMake. `make run` builds the library and the CLI
# and refines the bundled example; `make test` builds everything (warnings are
# errors) and runs all tests.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: configure build run test sanitize clean

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: configure
	cmake --build $(BUILD) -j$(JOBS) --target stlrefine stlrefine_cli
	./$(BUILD)/stlrefine

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-asan \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DSTLREFINE_BUILD_BENCH=OFF -DSTLREFINE_SANITIZE=address,undefined $(CMAKE_FLAGS)"

clean:
	rm -rf $(BUILD) build-asan
