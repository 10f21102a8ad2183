# Thin convenience layer over CMake. `make demo` and `make test` install any
# Debian package they need and the machine lacks, then configure and build.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# CI builds treat every warning as an error.
ifeq ($(CI),true)
CMAKE_FLAGS += -DAXISWARP_WERROR=ON
endif

.PHONY: all build demo test test-asan test-clang bench clean

all: build

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The built-in test chart through every kernel, then one module call on the
# small example arrays in examples/, showing what goes in and what comes out.
# Builds only what the demo runs: the module, the stand-in host and the tool
# (the example script itself needs only python3), not the tests or fuzzers.
DEMO_TARGETS = axisWarpKernel zu zup axiswarp
demo:
	@scripts/ensure-deps.sh build demo
	@$(MAKE) --no-print-directory $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO_TARGETS)
	./$(BUILD_DIR)/axiswarp demo
	@echo
	AXISWARP=./$(BUILD_DIR)/axiswarp examples/run_call_example.sh

test:
	@scripts/ensure-deps.sh build test
	@$(MAKE) --no-print-directory build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
# leaks inside system libraries are passed over (tests/support/lsan_suppressions.txt).
test-asan:
	@scripts/ensure-deps.sh build test
	@$(MAKE) --no-print-directory build BUILD_DIR=build-asan \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DAXISWARP_SANITIZE=ON $(CMAKE_FLAGS)"
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan_suppressions.txt \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The whole suite again built with clang, at every level the processor has.
test-clang:
	@scripts/ensure-deps.sh build test clang
	@$(MAKE) --no-print-directory build BUILD_DIR=build-clang \
	  CMAKE_FLAGS="-DCMAKE_CXX_COMPILER=clang++-14 $(CMAKE_FLAGS)"
	ctest --test-dir build-clang --output-on-failure -j $(JOBS)

# Kernel benchmarks (medians of 5) with ratios, then the peer libraries on the
# same jobs. Not part of `make test`; quote figures from a quiet machine.
bench:
	@scripts/ensure-deps.sh build bench
	@$(MAKE) --no-print-directory build BUILD_DIR=build-bench \
	  CMAKE_FLAGS="-DAXISWARP_BUILD_BENCH=ON -DAXISWARP_BUILD_TESTS=OFF $(CMAKE_FLAGS)"
	./build-bench/bench/axiswarp_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build-bench/kernels.json --benchmark_out_format=json
	/usr/bin/python3 bench/summarize.py build-bench/kernels.json
	/usr/bin/python3 bench/peers.py --bench ./build-bench/bench/axiswarp_bench
	PYTHONPATH=build-bench/python /usr/bin/python3 bench/python_bench.py --bench ./build-bench/bench/axiswarp_bench

clean:
	rm -rf $(BUILD_DIR) build-asan build-clang
