# Thin wrapper over CMake. `make run` and `make test` do all the set-up that a
# fresh Debian machine needs (missing packages are installed when run as root).
BUILD ?= build
FUZZ_TIME ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-heavy test-windows bench bench-peers \
	package fuzz windows clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the program: no test binary is built.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel
	$(BUILD)/ostrel -v2 -r -s samples

# Warnings are errors here and in CI, where the compiler is ours. The tests
# labelled heavy are left to test-heavy (and CI).
define configure_tests
	@cmake -S . -B $(BUILD) -DOSTREL_WARNINGS_AS_ERRORS=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
endef

test: deps
	$(configure_tests)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --label-exclude heavy

test-heavy: deps
	$(configure_tests)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --label-regex heavy

# The Windows tests, i686 and x86_64, under Wine.
test-windows:
	@scripts/install-deps mingw-w64 wine wine64 wine32:i386
	@JOBS=$(JOBS) scripts/test-windows

# Timings against the floor program on generated trees (a few minutes; as
# root also with a cold cache). Never part of `make test` or CI.
bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel gen_tree floor reader64
	bench/run --build $(BUILD) --markdown $(BUILD)/bench.md

# The same job timed with the image tools Debian packages, where installed.
bench-peers: configure
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel gen_tree floor reader64
	bench/peers --build $(BUILD)

# A .deb and a .tar.gz of the program and its man page, from a build
# without the tests.
package: deps
	@cmake -S . -B $(BUILD)-package -DCMAKE_BUILD_TYPE=Release \
	  -DOSTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)-package -j $(JOBS)
	cd $(BUILD)-package && cpack -G "DEB;TGZ"

# The zips of ostrel.exe for i686 and x86_64; the tests are test-windows's.
windows:
	@scripts/install-deps mingw-w64
	@JOBS=$(JOBS) scripts/build-windows

fuzz:
	scripts/fuzz $(FUZZ_TIME)

clean:
	rm -rf $(BUILD) $(BUILD)-package build-windows
