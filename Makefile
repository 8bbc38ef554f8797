# Vantelo: `make run` builds and starts the dialer on the simulated line,
# `make test` builds and runs every test. Both install missing Debian packages first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench format clean install package

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	$(BUILD_DIR)/src/app/vantelo

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) --timeout 300

bench: build
	$(BUILD_DIR)/tests/bench/bench_monitor_tick

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf $(BUILD_DIR)
