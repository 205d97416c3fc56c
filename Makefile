# The two commands of the README. Both install what they need first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test fuzz deb clean

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

# The Debian package (debhelper; tests and benchmarks off) from the files git knows of, built in
# build-deb/ovraid-VERSION and left as build-deb/ovraid_VERSION-1_ARCH.deb, then lintian: any
# error or warning fails (debian/ovraid.lintian-overrides gives the reason for each let through).
DEB_VERSION = $(shell grep -o 'project.ovraid VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
deb: deps
	@rm -rf build-deb && mkdir -p build-deb/ovraid-$(DEB_VERSION)
	@git ls-files -z --cached --others --exclude-standard | tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C build-deb/ovraid-$(DEB_VERSION)
	@cd build-deb/ovraid-$(DEB_VERSION) && DEB_BUILD_OPTIONS="parallel=2" dpkg-buildpackage -b -us -uc >../build.log 2>&1 \
		|| { tail -n 40 ../build.log; exit 1; }
	@lintian --fail-on error,warning build-deb/ovraid_*.changes
	@ls build-deb/*.deb

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
