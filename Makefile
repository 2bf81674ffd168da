# Thin wrapper around CMake: `make demo` runs the bundled example mission, `make test` the suite.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all build demo test bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j2

demo: build
	@rm -rf $(abspath $(BUILD))/demo && mkdir -p $(abspath $(BUILD))/demo
	@cd host && python3 -m mova_host plan ../examples/mission.txt --trace \
	  --binary $(abspath $(BUILD))/mova --workdir $(abspath $(BUILD))/demo \
	  --svg $(abspath $(BUILD))/demo/plan.svg \
	  --animate $(abspath $(BUILD))/demo/plan-animated.svg \
	  --frames $(abspath $(BUILD))/demo/frames

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

clean:
	rm -rf $(BUILD)
