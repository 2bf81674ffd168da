# Thin wrapper around CMake: `make demo` runs the bundled example mission, `make test` the suite.
BUILD ?= build
CMAKE_FLAGS ?=
BENCH_BUILD ?= $(BUILD)-bench
BENCH_ARGS ?= --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

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

# The benchmark suite in its own build folder (tests off); BENCH_ARGS go to the benchmark binary,
# e.g. make bench BENCH_ARGS=--benchmark_filter=Compute_First.
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DMOVA_BENCH=ON -DMOVA_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j2 --target mova_bench
	$(BENCH_BUILD)/bench/mova_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
