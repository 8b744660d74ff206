# Convenience wrapper around CMake. `make run` builds the library and the CLI
# and refines the bundled example; `make test` builds everything (warnings are
# errors) and runs all tests but the all-floats proof, which `make proof` runs
# (minutes); `make deb` builds the Debian packages into dist/.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: format format-check configure build run test proof sanitize deb clean

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: configure
	cmake --build $(BUILD) -j$(JOBS) --target stlrefine stlrefine_cli
	./$(BUILD)/stlrefine examples/torus.stl torus.refined.stl

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --label-exclude proof
	@echo "Left out: the all-floats proof (ctest label proof, minutes); run it with make proof."

# Float text identical to printf's for all 2^32 bit patterns.
proof: build
	ctest --test-dir $(BUILD) --output-on-failure --label-regex proof

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	LSAN_OPTIONS='suppressions="$(CURDIR)/tests/sanitizers/lsan.supp"' $(MAKE) test BUILD=build-asan \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DSTLREFINE_BUILD_BENCH=OFF -DSTLREFINE_SANITIZE=address,undefined $(CMAKE_FLAGS)"

# libstlrefine0, libstlrefine-dev, stlrefine and python3-stlrefine, built by
# debhelper from debian/ in a copy of the source tree (build-deb/); the
# maintainer is DEBFULLNAME <DEBEMAIL>.
deb:
	sh debian/build-packages.sh build-deb dist

clean:
	rm -rf $(BUILD) build-asan build-deb dist

# C and C++ sources in the project's style (.clang-format; Debian's clang-format).
FORMAT_FILES = $(shell git ls-files 'src/*.cpp' 'src/*.h' 'include/*.h' 'tools/*.cpp' 'tools/*.h' \
                 'tests/*.cpp' 'tests/*.h' 'tests/*.c' 'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h')

format:
	clang-format -i $(FORMAT_FILES)

format-check:
	clang-format --dry-run -Werror $(FORMAT_FILES)
