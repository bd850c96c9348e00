# Two entry points do all the set-up: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: all deps configure build run install test bench screenshot clean fuzz test-sanitize

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds only what it runs (trd, and trd-client with a display), then runs.
run: deps configure
	@BUILD=$(BUILD) JOBS=$(JOBS) scripts/run

# trd and trd-client into $(PREFIX)/bin, the screen's module into
# $(PREFIX)/lib/trd (where trd-client looks for it).
install: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target trd trd-client
	cmake --install $(BUILD) --prefix $(PREFIX)

# The tests run against a throwaway PostgreSQL cluster of their own as well
# as SQLite (scripts/with-postgres starts it and always stops it); the
# browser tests' accessibility checker (axe-core, from npm) is fetched once
# into a cache (scripts/fetch-axe; offline, those checks are skipped).
# In CI (CI set) or with TRD_SANITIZE=1 the whole suite then runs once more
# under the sanitizers (test-sanitize).
test: build
	@scripts/fetch-axe
	cd $(BUILD) && ../scripts/with-postgres ctest --output-on-failure -j $(JOBS)
	@if [ -n "$${CI:-}" ] || [ "$${TRD_SANITIZE:-}" = 1 ]; then $(MAKE) --no-print-directory test-sanitize; fi

bench: deps
	@TRD_DEPS_EXTRA=1 scripts/install-deps
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRD_BENCH=ON
	cmake --build $(BUILD)-bench -j $(JOBS)
	@echo "benchmarks built in $(BUILD)-bench/bench"

# libFuzzer targets (fuzz/, docs/fuzzing.md): a clang build in $(BUILD)-fuzz,
# then each target for FUZZ_SECONDS; new inputs go to $(BUILD)-fuzz/corpus,
# crashes to $(BUILD)-fuzz/crashes. A crash fails the run.
FUZZ_SECONDS ?= 60
fuzz: deps
	@TRD_DEPS_FUZZ=1 scripts/install-deps
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DTRD_FUZZ=ON -DTRD_GUI=OFF -DTRD_TESTS=OFF
	cmake --build $(BUILD)-fuzz --target fuzzers -j $(JOBS)
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run $(BUILD)-fuzz

# Everything, tests included, with AddressSanitizer and UBSan (gcc), in
# $(BUILD)-asan; then the whole test suite as `make test` runs it, leak
# detection included (the screen tests under the offscreen platform report no
# leak from Qt, so nothing is suppressed). The options apply to the build
# too: it runs the test programs to list their tests.
SANITIZE_FLAGS = -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
SANITIZE_ENV = ASAN_OPTIONS=detect_stack_use_after_return=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-sanitize: deps
	cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-O1 -g $(SANITIZE_FLAGS)"
	$(SANITIZE_ENV) cmake --build $(BUILD)-asan -j $(JOBS)
	@scripts/fetch-axe
	cd $(BUILD)-asan && $(SANITIZE_ENV) ../scripts/with-postgres ctest --output-on-failure -j $(JOBS)

# docs/screenshot.png: the harvesting screen in trd-client under Xvfb;
# docs/dashboard.png: the progress page of trd serve in a headless Chromium.
screenshot: deps configure
	@TRD_DEPS_EXTRA=1 scripts/install-deps
	cmake --build $(BUILD) --target trd trd-client -j $(JOBS)
	@BUILD=$(BUILD) scripts/screenshot
	@BUILD=$(BUILD) scripts/screenshot-dashboard

clean:
	rm -rf $(BUILD) $(BUILD)-bench
