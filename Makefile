# Thin convenience layer over CMake. `make demo` and `make test` install any
# Debian package they need and the machine lacks, then configure and build.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# CI builds treat every warning as an error.
ifeq ($(CI),true)
CMAKE_FLAGS += -DAXISWARP_WERROR=ON
endif

.PHONY: all build demo test test-asan bench clean

all: build

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo:
	@scripts/ensure-deps.sh build
	@$(MAKE) --no-print-directory build
	./$(BUILD_DIR)/axiswarp demo

test:
	@scripts/ensure-deps.sh build test
	@$(MAKE) --no-print-directory build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	@scripts/ensure-deps.sh build test
	@$(MAKE) --no-print-directory build BUILD_DIR=build-asan \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DAXISWARP_SANITIZE=ON $(CMAKE_FLAGS)"
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) build-asan
