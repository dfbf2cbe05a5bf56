# Front door: every target first makes sure the build tools are installed.
BUILD   ?= build
PREFIX  ?= /usr/local
JOBS    ?= $(shell nproc)
CMAKE_ARGS ?=
FUZZ_SECONDS ?= 30

.PHONY: all bootstrap configure test bench sanitize asan tsan fuzz install format clean soak

all: configure
	cmake --build $(BUILD) -j $(JOBS)

bootstrap:
	@scripts/bootstrap.sh

configure: bootstrap
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

bench: configure
	@scripts/bootstrap.sh python3-matplotlib
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks xelmd-python
	@python3 bench/report.py $(BUILD)/bench $(BENCH_ARGS)
	@python3 bench/e2e/run.py --build $(BUILD) $(E2E_ARGS)
	@python3 bench/footprint/run.py $(BUILD)
	@python3 bench/bridge/run.py --build $(BUILD) $(BRIDGE_BENCH_ARGS)
	@$(MAKE) --no-print-directory bench-python

# Updates per second into Python beside the C++ receiver, with the
# interpreter the package was built for (skipped when it was not built).
.PHONY: bench-python
bench-python: configure
	cmake --build $(BUILD) -j $(JOBS) --target e2e xelmd-python
	@if [ -d $(BUILD)/python/xelmd ]; then \
	  $$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' $(BUILD)/CMakeCache.txt) bench/python/run.py --build $(BUILD); \
	else echo "bench-python: the Python package is not built"; fi

# Only the end-to-end throughput and latency runs (bench/e2e/run.py --help).
.PHONY: bench-e2e
bench-e2e: configure
	cmake --build $(BUILD) -j $(JOBS) --target e2e
	@python3 bench/e2e/run.py --build $(BUILD) $(E2E_ARGS)

# AddressSanitizer + UBSan, then ThreadSanitizer, each in its own tree.
sanitize: asan tsan

asan: bootstrap
	@test -f build-asan/build.ninja || cmake -S . -B build-asan -G Ninja -DXELMD_SANITIZE=address -DXELMD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800

tsan: bootstrap
	@test -f build-tsan/build.ninja || cmake -S . -B build-tsan -G Ninja -DXELMD_SANITIZE=thread -DXELMD_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) --timeout 1800 -LE no_tsan

# Soak: xelmd-record and an API life cycler (tests/soak) against front
# simulators behind a fault-injecting loopback proxy, the recorder and the
# cycler's front killed and restarted, everything from the AddressSanitizer
# tree; SOAK_SECONDS of
# faults, then the checks. SOAK_ARGS=--no-release-in-callback leaves out
# Release from inside callbacks; --seed N repeats a run's choices.
SOAK_SECONDS ?= 60
SOAK_ARGS ?=
soak: bootstrap
	@test -f build-asan/build.ninja || cmake -S . -B build-asan -G Ninja -DXELMD_SANITIZE=address -DXELMD_BENCH=OFF
	cmake --build build-asan -j $(JOBS) --target xelmdapi xelmd-front xelmd-record
	@test -f build-asan/soak/build.ninja || cmake -S tests/soak -B build-asan/soak -G Ninja \
	  -DXELMD_TREE=$(CURDIR)/build-asan -DXELMD_SANITIZE=address
	cmake --build build-asan/soak -j $(JOBS)
	python3 -m unittest discover -s tests/soak -p '*_test.py'
	python3 tests/soak/soak.py --tree build-asan --cycler build-asan/soak/api_cycler \
	  --seconds $(SOAK_SECONDS) $(SOAK_ARGS)

# libFuzzer targets under clang; each runs FUZZ_SECONDS from its seeds, then
# a table of executions, coverage and crashes per target.
FUZZ_LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fuzz:
	@scripts/bootstrap.sh clang libclang-rt-14-dev
	@test -f build-fuzz/build.ninja || CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja \
	  -DXELMD_FUZZ=ON -DXELMD_BENCH=OFF $(FUZZ_LAUNCHER)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@tests/fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# Builds only what is installed, then installs it. The prefix is configured
# too: the front simulator looks for its test key under it.
INSTALL_TARGETS = xelmdapi xelmd-front xelmd-watch xelmd-record xelmd-bridge xelmd-python
install: configure
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(abspath $(PREFIX)) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target $(INSTALL_TARGETS)
	cmake --install $(BUILD)

format:
	@git ls-files '*.h' '*.cc' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz

# First run on a fresh machine: build, start the front simulator on a free
# loopback port, watch live depth data for a few seconds, stop both.
.PHONY: demo
DEMO_SECONDS ?= 8
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target xelmd-front xelmd-watch
	@tools/front/demo.sh $(BUILD) $(DEMO_SECONDS)

# The same simulator published into NATS: nats-server with JetStream in a
# temporary directory, xelmd-bridge and the NATS consumer example following
# one instrument for DEMO_SECONDS; everything stops and is removed after.
.PHONY: demo-bridge
demo-bridge: configure
	cmake --build $(BUILD) -j $(JOBS) --target xelmd-front xelmd-bridge nats_consumer
	@scripts/demo-bridge.sh $(BUILD) $(DEMO_SECONDS)
