# Thin wrapper around CMake: `make demo` runs the bundled example mission, `make test` the suite.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all build demo test bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j2

demo: build
	@mkdir -p $(BUILD)/demo
	@cd $(BUILD)/demo && ../mova < ../../examples/mission.txt

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

clean:
	rm -rf $(BUILD)
