# Vantelo: `make run` builds and starts the dialer on the simulated line,
# `make test` builds and runs every test. Both install missing Debian packages first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
WINDOWS_BUILD_DIR ?= $(BUILD_DIR)/windows
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run test bench bench-line fuzz format clean install package check-windows check-windows-program build-windows package-windows windows-background

all: build

# What each target installs first: `make run` only what building and running
# need, `make test` what every test needs besides (scripts/install-deps.sh).
DEPS ?= test

deps:
	@scripts/install-deps.sh $(DEPS)

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: DEPS = run
run: build
	$(BUILD_DIR)/src/app/vantelo

# Every test; the real-PPP lab's tests boot a guest each and never skip. A
# test that skipped anyway fails the run: a skipped proof is no proof.
# The Windows program that the test windows_program runs starts building in the
# background first, at the lowest priority: on a new machine its Qt for Windows
# takes longest of all, and so it is built on what the Linux build and the other
# tests leave of the processor. The test runs last and waits for that build.
test: windows-background build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) --timeout 300 --output-junit ctest-results.xml
	@scripts/no-skipped-tests.sh $(BUILD_DIR)/ctest-results.xml

windows-background: deps
	@mkdir -p $(WINDOWS_BUILD_DIR)
	@echo "The Windows program builds in the background: $(WINDOWS_BUILD_DIR)/background-build.log"
	@VANTELO_QT_NICE=19 nohup nice -n 19 scripts/build-windows.sh $(WINDOWS_BUILD_DIR) \
	    >$(WINDOWS_BUILD_DIR)/background-build.log 2>&1 </dev/null &

# Vantelo against the floor (a bare window with a tray icon): each figure with
# its goal and a verdict, bench_monitor_tick's report among them. Exits non-zero
# only when a figure cannot be measured. BENCH_SECONDS sets each idle period
# (30); VANTELO=... and VANTELO_LINE=... measure other builds of the programs.
bench: build
	BUILD_DIR=$(BUILD_DIR) tests/bench/run_bench.sh

# Vantelo beside pppd + chat and wvdial on one paced modem line in the lab's
# guest: dial to first ping, throughput, and what each says of a failure, as
# a table with a verdict per row (about 15 minutes; BENCH_KIB, BENCH_DIALS).
bench-line: DEPS = bench-line
bench-line: build
	tests/ppp/bench_line.sh $(BUILD_DIR) $(BUILD_DIR)/tests/ppp/artifacts/bench-line

# Each fuzz target (one per folder of tests/fuzz/corpus) for FUZZ_SECONDS seconds,
# on a corpus of the build tree seeded from that folder; needs clang++ and libFuzzer.
FUZZ_TARGETS = $(notdir $(patsubst %/,%,$(wildcard tests/fuzz/corpus/*/)))
fuzz: build
	@failed=""; \
	for t in $(FUZZ_TARGETS); do \
	    tests/fuzz/run_fuzzer.sh $(BUILD_DIR)/tests/fuzz/targets/fuzz_$$t tests/fuzz/corpus/$$t \
	        $(BUILD_DIR)/tests/fuzz/work/fuzz/$$t $(FUZZ_SECONDS) || failed="$$failed $$t"; \
	done; \
	if [ -n "$$failed" ]; then echo "fuzz: failed or not built:$$failed"; exit 1; fi

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

package: DEPS = package
package: build
	BUILD_DIR=$(BUILD_DIR) scripts/package.sh

# The Windows half alone (`make test` runs the same as its tests windows_syntax,
# windows_wine and windows_program): every source file checked for 32-bit
# Windows with mingw-w64, the Windows pieces built for i686 and x86_64 and their
# tests run under wine64, then the program itself: vantelo.exe and
# vantelo-line.exe built for 64-bit Windows against Qt for Windows (cross-built
# once into a cache), run under wine64 on a private X server, and installed and
# uninstalled with their installer.
check-windows:
	@scripts/install-deps.sh windows
	scripts/check-windows.sh $(WINDOWS_BUILD_DIR)
	scripts/test-windows.sh $(WINDOWS_BUILD_DIR)

# The program itself alone (the last part of check-windows).
check-windows-program:
	@scripts/install-deps.sh windows
	scripts/test-windows.sh $(WINDOWS_BUILD_DIR)

# vantelo.exe and vantelo-line.exe with the DLLs they need, in build/windows/bin.
build-windows:
	@scripts/install-deps.sh windows
	scripts/build-windows.sh $(WINDOWS_BUILD_DIR)

# The Windows installer (NSIS, per user): build/windows/vantelo-VERSION-setup.exe.
package-windows:
	@scripts/install-deps.sh windows
	scripts/package-windows.sh $(WINDOWS_BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
