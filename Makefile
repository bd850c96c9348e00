# Two entry points do all the set-up: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test bench screenshot clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run

# The tests run against a throwaway PostgreSQL cluster of their own as well
# as SQLite (scripts/with-postgres starts it and always stops it).
test: build
	cd $(BUILD) && ../scripts/with-postgres ctest --output-on-failure -j $(JOBS)

bench: deps
	@TRD_DEPS_EXTRA=1 scripts/install-deps
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRD_BENCH=ON
	cmake --build $(BUILD)-bench -j $(JOBS)
	@echo "benchmarks built in $(BUILD)-bench/bench"

# docs/screenshot.png: the harvesting screen in trd-client under Xvfb.
screenshot: deps configure
	@TRD_DEPS_EXTRA=1 scripts/install-deps
	cmake --build $(BUILD) --target trd trd-client -j $(JOBS)
	@BUILD=$(BUILD) scripts/screenshot

clean:
	rm -rf $(BUILD) $(BUILD)-bench
