# Thin front end over CMake.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
# EDITOR_TESTS=OFF: leave out the editor-file checks (and their need of Vim
# and npm).
EDITOR_TESTS ?= ON

.PHONY: all build run test bench sanitize stress clean

all: build

build:
	cmake -S . -B $(BUILD) -DKESTRIVO_EDITOR_TESTS=$(EDITOR_TESTS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/kestrivo examples/demo.lam

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD)/kestrivo_bench

# The tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize EDITOR_TESTS=OFF CMAKE_FLAGS="$(CMAKE_FLAGS) -DKESTRIVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The golden suite with a collection before every allocation.
stress:
	$(MAKE) test BUILD=build-stress EDITOR_TESTS=OFF CMAKE_FLAGS="$(CMAKE_FLAGS) -DKESTRIVO_STRESS_GC=ON"

clean:
	rm -rf build build-sanitize build-stress build-fuzz
