# The two commands: `make run` and `make test`. Both install missing Debian
# packages first, then configure and build with CMake and Ninja.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run test test-asan fuzz clean

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
		cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE); \
	fi

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/pictorix $(ARGS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole test suite built with the address and undefined-behaviour sanitizers, in
# a build folder of its own; any sanitizer report fails the test it happens in.
ASAN_BUILD_DIR ?= build-asan
ASAN_TESTS ?=
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS ?= halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

test-asan: deps
	@if [ ! -f $(ASAN_BUILD_DIR)/build.ninja ]; then \
		cmake -S . -B $(ASAN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPICTORIX_SANITIZE=ON; \
	fi
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && ctest --output-on-failure -j $(JOBS) $(if $(ASAN_TESTS),-R '$(ASAN_TESTS)')

# Builds the fuzz targets with clang and runs each for FUZZ_SECONDS; pictures that
# crash a reader land in tests/data/corrupt/. Seeds come from our own writers and
# the picture corpus beside the checkout.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= fuzz_decode fuzz_action fuzz_lists fuzz_settings
PICTORIX_CORPUS_DIR ?= ../shared/corpus

fuzz: deps
	@if [ ! -f $(FUZZ_BUILD_DIR)/build.ninja ]; then \
		CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
			-DPICTORIX_FUZZ=ON -DBUILD_TESTING=OFF; \
	fi
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzzers
	sh fuzz/run.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS) $(PICTORIX_CORPUS_DIR) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD_DIR)
