# Quick start: `make test` (install, build, run every test) and `make demo`.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps configure build test demo bench screenshots format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	QUENLO_BUILD_DIR=$(BUILD) scripts/wine-run.sh ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --timeout 600

# The road of one print job, played against the real program; screenshots in out/demo/.
demo: build
	QUENLO_BUILD_DIR=$(BUILD) scripts/demo.sh

# Speed, footprint and reliability of quenlo.exe under Wine (about 30 minutes); the figures go to
# $(BUILD)/bench-results.md. BENCH_ARGS="--quick" for a short check, "--only soak --soak 500" for
# a part (see bench/bench_main.cpp).
bench: configure
	cmake --build $(BUILD) --target quenlo_bench -j $(JOBS)
	QUENLO_BUILD_DIR=$(BUILD) scripts/wine-run.sh $(BUILD)/bin/quenlo_bench.exe \
		--out $(abspath $(BUILD))/bench-results.md $(BENCH_ARGS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
