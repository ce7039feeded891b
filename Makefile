# Two commands do all set-up: `make run` and `make test`.
BUILD  ?= build
JOBS   ?= 2
SAMPLE ?= samples/torus.xyz
# A real scan with its own normals, for make bench to compare estimated
# normals with; benched only where it is present.
SCAN   ?= ../shared/data/bunny00.xyz

# CI (CI=true) treats every warning as an error. A user's build does not, so
# that a newer compiler's new warning never stops `make run`.
WERROR ?= $(if $(filter true 1,$(CI)),ON,OFF)

# The checking builds. Debug keeps the engine's asserts; -O1 keeps the
# sanitizer runs quick. Both always treat warnings as errors.
ASAN_BUILD   ?= build-asan
FUZZ_BUILD   ?= build-fuzz
DEPS_BUILD   ?= build-deps
FUZZ_SECONDS ?= 60
CHECK_CONFIG  = -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" -DTRI3D_WERROR=ON

# Any sanitizer report ends the process with this code; leaks count. Kept
# apart from the program's own exit codes so a report can never pass for
# an ordinary failure.
SANITIZER_EXIT = 86
SANITIZER_ENV  = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:exitcode=$(SANITIZER_EXIT):detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=$(SANITIZER_EXIT)

.PHONY: all deps build run test test-plain test-asan fuzz memcheck lint check-deps check-install bench bench-record clean

all: build

# The steps of `make test` build on each other's folders; run them in order.
.NOTPARALLEL:

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTRI3D_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# With a display the window opens; without one (a server, a container) the
# first frame goes to $(BUILD)/sample.png instead, so the run still shows
# its result.
run: build
	@if xdpyinfo >/dev/null 2>&1; then \
	  $(BUILD)/tri3d file:$(SAMPLE); \
	else \
	  $(BUILD)/tri3d file:$(SAMPLE) shot:$(BUILD)/sample.png && \
	  echo "No display: the first frame is in $(BUILD)/sample.png"; \
	fi

# Everything CI checks, in this order.
test: check-deps test-plain check-install test-asan fuzz memcheck lint

# The whole suite on the Release build.
test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
# Tests labelled `viewer` run in the plain build only: the software GL stack
# they need is not built with the sanitizers.
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CHECK_CONFIG) -DTRI3D_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) -LE viewer

# Each libFuzzer target for FUZZ_SECONDS, built with clang.
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DTRI3D_FUZZ=ON -DTRI3D_TESTS=OFF -DTRI3D_VIEWER=OFF $(CHECK_CONFIG) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target reader_fuzzer ply_fuzzer pipeline_fuzzer pcd_fuzzer gzip_fuzzer
	$(SANITIZER_ENV) scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# One end-to-end run under valgrind: no memory errors, no leaks.
memcheck: build
	valgrind --quiet --error-exitcode=1 --leak-check=full \
	  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
	  $(BUILD)/tri3d file:samples/sphere.xyz view:0 >/dev/null
	@echo "memcheck: clean"

lint: deps
	@scripts/lint

# A user's program (examples/) built against a fresh install in a temporary
# prefix, through find_package and through pkg-config, must give the
# command line's files.
check-install: build
	@scripts/check-install $(BUILD)

# Every header the build reads must come from a package that
# scripts/install-deps installs, or a fresh machine cannot build.
check-deps: deps
	@scripts/check-deps $(DEPS_BUILD)

# Speed is checked here, in a Release build, never by timed unit tests.
# First whole runs of the real program against the targets (the table goes
# to $(BUILD)/bench-results.md), then the micro-benchmarks. Only what the
# runs need is built: the tests are not. `make bench-record` also writes the
# table into bench/RESULTS.md, bench/scaling.png and README.md.
# scripts/bench-repair times clean:1 against the triangulation it follows,
# then tables the repaired surfaces' quality (holes, crossings, genus,
# slivers, points left out), measured by the repair's own code;
# scripts/bench-viewer counts the window's frames per second under Xvfb.
bench-record: export BENCH_RECORD = 1
bench-record: bench

bench: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTRI3D_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target tri3d tri3d-mpi make_samples surface_quality stage_times tri3d_bench normals_bench \
	  $$(cmake --build $(BUILD) --target help | grep -ow tri3d_python)
	scripts/bench $(BUILD)
	@echo
	@echo "Tiles on threads and MPI ranks:"
	scripts/bench-tiles $(BUILD)
	@echo
	@echo "Surface repair (clean:1):"
	scripts/bench-repair $(BUILD) $(wildcard $(SCAN) $(dir $(SCAN))armadillo.xyz)
	$(BUILD)/normals_bench $(BUILD)/bench-inputs $(wildcard $(SCAN))
	@echo
	@echo "Viewer frames per second (frames:<N>, under Xvfb):"
	scripts/bench-viewer $(BUILD) $(wildcard $(SCAN))
	@echo
	@echo "Micro-benchmarks (Google Benchmark):"
	$(BUILD)/tri3d_bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(DEPS_BUILD)
