# Thin front end over CMake.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2

.PHONY: all build run test bench sanitize stress clean

all: build

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/kestrivo examples/demo.lam

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD)/kestrivo_bench

# The tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="$(CMAKE_FLAGS) -DKESTRIVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The golden suite with a collection before every allocation.
stress:
	$(MAKE) test BUILD=build-stress CMAKE_FLAGS="$(CMAKE_FLAGS) -DKESTRIVO_STRESS_GC=ON"

clean:
	rm -rf build build-sanitize build-stress build-fuzz
