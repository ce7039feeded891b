# Two commands do all set-up: `make run` and `make test`.
BUILD  ?= build
JOBS   ?= 2
SAMPLE ?= samples/torus.xyz

.PHONY: all deps build run test bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/tri3d file:$(SAMPLE)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed is checked here, in a Release build, never by timed unit tests.
bench: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTRI3D_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target tri3d_bench
	$(BUILD)/tri3d_bench

clean:
	rm -rf $(BUILD)
