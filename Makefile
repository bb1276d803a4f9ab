# Entry points: `make demo`, `make test`. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

.PHONY: all deps build build-asan test test-plain test-asan check demo bench fuzz release install package clean \
	windows-deps windows windows-release windows-package

all: build

deps:
	@tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDW_SANITIZE=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

# The Windows programs, cross-compiled with MinGW-w64 and linked statically, in
# $(WINDOWS_BUILD)/bin, for the tests (under Wine): they obey the tests' hooks
# (DW_TEST_HOOKS). libdvbpsi is cross-built once from Debian's source package into
# $(WINDOWS_BUILD)/deps. WINDOWS_PROGRAMS: the programs built (and packed); the tests'
# probe of the platform layer is built beside them. The package is built apart, in
# $(WINDOWS_RELEASE_BUILD), without the hooks, as every release is.
WINDOWS_BUILD         ?= build-windows
WINDOWS_RELEASE_BUILD ?= build-windows-release
WINDOWS_PROGRAMS      ?= diskwarden reelhead
WINDOWS_TEST_PROGRAMS := windows_probe
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev dpkg-dev bzip2 xz-utils
WINDOWS_CMAKE = cmake --no-warn-unused-cli -S . -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	-DDW_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps -DCMAKE_BUILD_TYPE=RelWithDebInfo

windows-deps:
	@tools/install-deps.sh $(WINDOWS_PACKAGES)
	@JOBS=$(JOBS) tools/build-dvbpsi-windows.sh $(WINDOWS_BUILD)/deps

windows: windows-deps
	@$(WINDOWS_CMAKE) -B $(WINDOWS_BUILD) -DDW_TEST_HOOKS=ON >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target $(WINDOWS_PROGRAMS) $(WINDOWS_TEST_PROGRAMS)

windows-release: windows-deps
	@$(WINDOWS_CMAKE) -B $(WINDOWS_RELEASE_BUILD) -DDW_TEST_HOOKS=OFF >/dev/null
	@cmake --build $(WINDOWS_RELEASE_BUILD) -j $(JOBS) --target $(WINDOWS_PROGRAMS)

# A zip of the Windows programs (as released: no test hooks), the README and the manual
# pages as text.
windows-package: windows-release
	@tools/install-deps.sh zip groff-base
	@tools/windows-package.sh $(WINDOWS_RELEASE_BUILD) $(WINDOWS_PROGRAMS)

# groff-base: the tests lint the manual pages with it. Wine: the Windows programs' tests
# (tests/windows) run them beside the Linux ones. python3: the tests parse every --json
# document with its json module. rsync: the mount is copied with it. gddrescue: the
# failing-drive tests image a disk with GNU ddrescue and a domain map. ffmpeg: reelhead
# reads a stream that ffmpeg made.
TEST_PACKAGES := groff-base wine wine64 python3 rsync gddrescue ffmpeg

test-plain: build windows
	@tools/install-deps.sh $(TEST_PACKAGES)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan windows
	@tools/install-deps.sh $(TEST_PACKAGES)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Every test runs twice: in the normal build and under AddressSanitizer/UndefinedBehaviorSanitizer.
test: test-plain test-asan

# The inner loop: the plain build's unit and end-to-end tests (no Windows programs, no
# sanitizers, no robustness runs). `make test` is what CI runs.
check: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L '^(unit|e2e)$$'

# The demo builds only what it runs: the programs and the sample-disk maker, not the tests.
DEMO_TARGETS := diskwarden reelhead wardenfs make_sample_disk

demo: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS)
	@tools/demo.sh $(BUILD)

# BENCH_MIB and BENCH_RUNS change the recording size and the number of runs.
bench: deps
	@tools/install-deps.sh libbenchmark-dev dosfstools fuse2fs e2fsprogs
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDW_BENCH=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@tools/bench.sh $(BUILD)

# Fuzzing with libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in a build of
# its own: each target runs FUZZ_SECONDS (FUZZ_TARGETS to choose some).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

fuzz:
	@tools/install-deps.sh clang libclang-rt-14-dev
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DDW_FUZZ=ON -DDW_TESTS=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@tools/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Installing and packaging use a build of the programs and manual pages alone (no tests).
# make install [PREFIX=/usr/local] [DESTDIR=/staging/root]; make package -> the .deb in
# $(RELEASE_BUILD)/.
RELEASE_BUILD ?= build-release
PREFIX        ?= /usr/local
DESTDIR       ?=

release: deps
	@cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDW_TESTS=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS)

install: release
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_BUILD) --prefix "$(PREFIX)" --strip

package: release
	@tools/install-deps.sh dpkg-dev
	@cd $(RELEASE_BUILD) && cpack -G DEB
	@ls $(RELEASE_BUILD)/*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) $(WINDOWS_BUILD) $(WINDOWS_RELEASE_BUILD)
