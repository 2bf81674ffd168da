# Thin wrapper around CMake: `make demo` runs the bundled example mission, `make test` the suite.
BUILD ?= build
# One interpreter for the host package everywhere: Debian's, which Debian's python3-* packages serve.
PYTHON ?= /usr/bin/python3
CMAKE_FLAGS ?=
BENCH_BUILD ?= $(BUILD)-bench
BENCH_ARGS ?= --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
# The demo builds the controller alone, in its own folder with the tests off (no GoogleTest
# needed); the build's output is shown only when it fails.
DEMO_BUILD ?= $(BUILD)-demo
DEMO_OUT = $(abspath $(DEMO_BUILD))/demo
# The same folder as the demo names it (relative to the top of the source tree by default).
DEMO_PICTURES = $(DEMO_BUILD)/demo
# The installable product and its Debian packages, in a folder of their own with the tests off.
RELEASE_BUILD ?= $(BUILD)-release
# The builds that CMake runs through make say nothing about the folders they enter and leave.
MAKEFLAGS += --no-print-directory

.PHONY: all build demo fleet-demo test package bench clean

all: build

# $(BUILD) always has the tests on, whatever its earlier configuration said, so that `make test`
# never runs test binaries that are no longer built.
build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMOVA_PYTHON=$(PYTHON) $(CMAKE_FLAGS) -DMOVA_TESTS=ON
	cmake --build $(BUILD) -j2

demo:
	@mkdir -p $(DEMO_BUILD)
	@{ cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=Release -DMOVA_TESTS=OFF $(CMAKE_FLAGS) && \
	   cmake --build $(DEMO_BUILD) -j2 --target mova; } > $(DEMO_BUILD)/build.log 2>&1 || \
	 { cat $(DEMO_BUILD)/build.log; echo "make demo: the build failed"; exit 1; }
	@rm -rf $(DEMO_OUT) && mkdir -p $(DEMO_OUT)
	@echo "MOVA demo: the example mission examples/mission.txt, played through the host client"
	@echo "(mova-host plan --trace): each line sent to the controller beside its answer (\"dropped\""
	@echo "when it wrote none), the file's comments where they stand, each plan as a table and the"
	@echo "moves; then a road is blocked and the vehicles are planned around it."
	@echo
	@PYTHONPATH=$(CURDIR)/host $(PYTHON) -m mova_host plan examples/mission.txt --trace \
	  --binary $(DEMO_BUILD)/mova --workdir $(DEMO_PICTURES) \
	  --svg $(DEMO_PICTURES)/plan.svg --animate $(DEMO_PICTURES)/plan-animated.svg \
	  --frames $(DEMO_PICTURES)/frames
	@echo
	@echo "The pictures are in $(DEMO_PICTURES)/: plan.svg (the first plan), plan-2.svg (the plan"
	@echo "around the blocked road), their animations and one picture per step in frames/. Open"
	@echo "them in a browser."
	@echo
	@echo "Next, from the top of the source tree:"
	@echo "  make test    # builds everything in $(BUILD)/ and runs the whole test suite"
	@echo "  export PYTHONPATH=host MOVA_BINARY=$(DEMO_BUILD)/mova"
	@echo "  $(PYTHON) -m mova_host explain examples/mission.txt   # the first plan beside the fewest steps"
	@echo "  $(PYTHON) -m mova_host serve                          # the workbench, a page to design and plan"

# The fleet demo: the controller built as for `make demo`, then a local Mosquitto, three simulated
# VDA 5050 vehicles and the bridge on examples/fleet/ (needs mosquitto and python3-paho-mqtt).
fleet-demo:
	@mkdir -p $(DEMO_BUILD)
	@{ cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=Release -DMOVA_TESTS=OFF $(CMAKE_FLAGS) && \
	   cmake --build $(DEMO_BUILD) -j2 --target mova; } > $(DEMO_BUILD)/build.log 2>&1 || \
	 { cat $(DEMO_BUILD)/build.log; echo "make fleet-demo: the build failed"; exit 1; }
	@cd host && $(PYTHON) -m mova_host.fleet.demo --binary $(abspath $(DEMO_BUILD))/mova

# After the results, why each skipped test was skipped (what it printed).
test: build
	@cd $(BUILD) && { ctest --output-on-failure -j2 --output-junit ctest-results.xml; status=$$?; \
	  $(PYTHON) $(CURDIR)/cmake/skipped_tests.py ctest-results.xml; exit $$status; }

# Debian packages of the whole product: $(RELEASE_BUILD)/mova_<version>_<architecture>.deb (the
# controller, its man page, the documentation, the examples) and
# $(RELEASE_BUILD)/python3-mova-host_<version>_all.deb (the host client).
package:
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DMOVA_PYTHON=$(PYTHON) $(CMAKE_FLAGS) -DMOVA_TESTS=OFF
	cmake --build $(RELEASE_BUILD) -j2
	cd $(RELEASE_BUILD) && cpack

# The benchmark suite in its own build folder (tests off); BENCH_ARGS go to the benchmark binary,
# e.g. make bench BENCH_ARGS=--benchmark_filter=Compute_First.
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DMOVA_BENCH=ON -DMOVA_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j2 --target mova_bench
	$(BENCH_BUILD)/bench/mova_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) $(DEMO_BUILD) $(RELEASE_BUILD)

# Robustness runs. `make sanitize` builds the whole suite with the address and undefined-behaviour
# sanitizers and runs it (GCC 12 reports false maybe-uninitialized warnings inside <regex> once
# the sanitizers are on, hence that one warning is switched off there); `make fuzz` builds the
# fuzz targets with clang++ and runs each for FUZZ_SECONDS; `make memcheck` runs the suite with
# every start of the binary under valgrind memcheck.
SANITIZE_BUILD ?= build-asan
FUZZ_SECONDS ?= 60
MEMCHECK_BUILD ?= build-valgrind

.PHONY: sanitize fuzz memcheck coverage host-coverage

sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DMOVA_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-Wno-maybe-uninitialized $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j2
	ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j2

fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) PYTHON=$(PYTHON) fuzz/run.sh

memcheck:
	VALGRIND_BUILD=$(abspath $(MEMCHECK_BUILD)) fuzz/valgrind.sh

# Line and branch coverage of the program (console/ controller/ petrinet/ reachability/ search/
# utils/) by the whole suite, with gcovr; branches that only exception handling takes are left
# out. Fails when branch coverage is below COVERAGE_MIN_BRANCHES percent.
COVERAGE_BUILD ?= build-coverage
COVERAGE_MIN_BRANCHES ?= 95

coverage:
	@command -v gcovr > /dev/null || { echo "make coverage needs gcovr (apt-get install gcovr)"; exit 1; }
	cmake -S . -B $(COVERAGE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMOVA_COVERAGE=ON $(CMAKE_FLAGS)
	cmake --build $(COVERAGE_BUILD) -j2
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	ctest --test-dir $(COVERAGE_BUILD) --output-on-failure -j2
	gcovr --root . --object-directory $(COVERAGE_BUILD) \
	  --filter '(console|controller|petrinet|reachability|search|utils)/' \
	  --exclude-throw-branches --exclude-unreachable-branches \
	  --txt $(COVERAGE_BUILD)/coverage.txt --print-summary \
	  --fail-under-branch $(COVERAGE_MIN_BRANCHES)

# Branch coverage of the host package (host/mova_host) by its unittest suite against the build's
# controller, the package's child processes included (python3-coverage, `--branch`; see
# host/tools/host_coverage.py). Fails when a test fails or branch coverage is below
# HOST_COVERAGE_MIN_BRANCHES percent; the report is $(BUILD)/host-coverage/coverage.txt (and html/).
HOST_COVERAGE_MIN_BRANCHES ?= 95

host-coverage: build
	$(PYTHON) host/tools/host_coverage.py --binary $(BUILD)/mova --out $(BUILD)/host-coverage \
	  --fail-under $(HOST_COVERAGE_MIN_BRANCHES)
