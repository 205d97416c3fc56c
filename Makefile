# The two commands of the README. Both install what they need first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test fuzz clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The fuzz targets (clang, libFuzzer, address and undefined sanitizers) in build-fuzz, each
# for FUZZ_RUNS runs (2 million by default: a minute or two a target) or, when given,
# FUZZ_SECONDS seconds each. Fails on any crash, leak or timeout (docs/fuzzing.md).
FUZZ_RUNS ?= 2000000
FUZZ_SECONDS ?=
fuzz: deps
	@FUZZ_RUNS=$(FUZZ_RUNS) FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) scripts/fuzz.sh

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
