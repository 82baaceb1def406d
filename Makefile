# Thin wrapper over CMake for the everyday commands.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all build test demo bench clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@sh tools/demo.sh $(BUILD)

# Timings: C++ walks beside their floors, modules beside vectorized Octave.
bench: build
	@sh bench/run.sh $(abspath $(BUILD))

clean:
	rm -rf $(BUILD)
