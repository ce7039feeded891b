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

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed is checked here, in a Release build, never by timed unit tests.
bench: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTRI3D_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target tri3d_bench
	$(BUILD)/tri3d_bench

clean:
	rm -rf $(BUILD)
