# Entry points: `make demo`, `make test`. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

.PHONY: all deps build build-asan test test-plain test-asan demo bench fuzz release install package clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDW_SANITIZE=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

# groff-base: the tests lint the manual pages with it.
test-plain: build
	@tools/install-deps.sh groff-base
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	@tools/install-deps.sh groff-base
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Every test runs twice: in the normal build and under AddressSanitizer/UndefinedBehaviorSanitizer.
test: test-plain test-asan

demo: build
	@tools/demo.sh $(BUILD)

# BENCH_MIB and BENCH_RUNS change the recording size and the number of runs.
bench: deps
	@tools/install-deps.sh libbenchmark-dev fuse2fs e2fsprogs
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
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD)
