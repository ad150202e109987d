# Thin wrapper over CMake. `make run` and `make test` do all the set-up that a
# fresh Debian machine needs (missing packages are installed when run as root).
BUILD ?= build
FUZZ_TIME ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench fuzz windows clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/ostrel -v2 -r -s samples

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Timings against the floor program on generated trees (a few minutes; as
# root also with a cold cache). Never part of `make test` or CI.
bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel gen_tree floor
	bench/run --build $(BUILD) --markdown $(BUILD)/bench.md

windows:
	@scripts/install-deps mingw-w64
	@JOBS=$(JOBS) scripts/build-windows

fuzz:
	scripts/fuzz $(FUZZ_TIME)

clean:
	rm -rf $(BUILD)
