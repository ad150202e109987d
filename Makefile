# Thin wrapper over CMake. Every target does the set-up that a fresh Debian
# machine needs: missing packages are installed when run as root, otherwise
# named. `make help` lists the targets.
BUILD ?= build
# The tests build in a folder of their own, with warnings as errors, so
# that `make run` and `make test` each compile once, with flags that stay.
TEST_BUILD ?= $(BUILD)-test
RELEASE_BUILD ?= build-release
PREFIX ?= /usr/local
DESTDIR ?=
FUZZ_TIME ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
DELAYS ?= 1000 5000
BANDWIDTHS ?=
TREES ?= d10 d100 ymd random camera
# The make that CMake's build runs is ours too: no "Entering directory".
MAKEFLAGS += --no-print-directory

.PHONY: all help deps configure build run test test-heavy test-windows \
	bench bench-peers bench-share package release install uninstall fuzz \
	windows clean

all: build

help: ## this list
	@echo "make [target] [BUILD=dir] [CMAKE_FLAGS=...] [JOBS=n]"
	@sed -n 's/^\([a-z-]*\):.*## \(.*\)/  \1\t\2/p' $(MAKEFILE_LIST) | expand -t 16

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure ## build the program (and the tests, where GoogleTest is installed)
	@cmake --build $(BUILD) -j $(JOBS)

run: configure ## build the program alone and run it on samples/
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel
	$(BUILD)/ostrel -v2 -r -s samples

# The tests always: a build folder first configured without them gets them
# now. Warnings are errors here and in CI, where the compiler is ours.
define configure_tests
	@scripts/install-deps libgtest-dev
	@cmake -S . -B $(TEST_BUILD) -DOSTREL_BUILD_TESTS=ON \
	  -DOSTREL_WARNINGS_AS_ERRORS=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(TEST_BUILD) -j $(JOBS)
endef

test: ## build everything and run the tests, the heavy ones left out
	$(configure_tests)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS) --label-exclude heavy

test-heavy: ## build everything and run the heavy tests alone (CI runs them)
	$(configure_tests)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS) --label-regex heavy

test-windows: ## build the Windows tests, i686 and x86_64, and run them under Wine
	@scripts/install-deps libgtest-dev mingw-w64 wine wine64 wine32:i386
	@JOBS=$(JOBS) scripts/test-windows

# Timings against the floor program on generated trees (a few minutes; as
# root also with a cold cache). Never part of `make test` or CI.
bench: configure ## time ostrel against its yardsticks on generated trees
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel gen_tree floor reader64
	bench/run --build $(BUILD) --markdown $(BUILD)/bench.md

# The same job timed with the image tools Debian packages, where installed.
bench-peers: configure ## time the same job with other tools, where installed
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel gen_tree floor reader64
	bench/peers --build $(BUILD)

# Timings on an imitated network share: the trees mirrored through a FUSE
# file system that answers each request after DELAYS microseconds, with
# file data over a link of each of BANDWIDTHS Mbit/s (none: no cap). Root
# only; needs libfuse3. Never part of `make test` or CI.
bench-share: ## time ostrel on an imitated network share (root, FUSE)
	@scripts/install-deps fuse3 libfuse3-dev pkg-config
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target ostrel gen_tree floor reader64 share_fs
	bench/share --build $(BUILD) $(foreach d,$(DELAYS),--delay-us $(d)) \
	  $(foreach b,$(BANDWIDTHS),--bandwidth-mbit $(b)) --trees "$(TREES)" \
	  --markdown $(BUILD)/share.md

# The Debian package's dependencies are read from the program by
# dpkg-shlibdeps (dpkg-dev), which finds it with `file`. Without dpkg only
# the tarball is made.
DEB_TOOLS = $(if $(shell command -v dpkg),dpkg-dev file)

package: ## a .deb and a .tar.gz from a Release build without the tests
	@scripts/install-deps $(DEB_TOOLS)
	@cmake -S . -B $(BUILD)-package -DCMAKE_BUILD_TYPE=Release \
	  -DOSTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)-package -j $(JOBS)
	cd $(BUILD)-package && cpack -G "DEB;TGZ"

# The README's recipe, in a build folder of its own. Uninstalling asks the
# same build what it installs.
release: deps
	@cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DOSTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS)

install: release ## install the program, stripped, in PREFIX (/usr/local) below DESTDIR
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_BUILD) --prefix "$(PREFIX)" --strip

uninstall: release ## remove what `make install` installs, with the same PREFIX and DESTDIR
	@DESTDIR="$(DESTDIR)" scripts/uninstall $(RELEASE_BUILD) "$(PREFIX)"

windows: ## cross-build ostrel.exe for i686 and x86_64 and pack a zip of each
	@scripts/install-deps mingw-w64
	@JOBS=$(JOBS) scripts/build-windows

fuzz: ## run the libFuzzer targets for FUZZ_TIME seconds each
	scripts/fuzz $(FUZZ_TIME)

clean: ## remove the build folders
	rm -rf $(BUILD) $(TEST_BUILD) $(BUILD)-package $(RELEASE_BUILD) build-windows \
	  build-fuzz
