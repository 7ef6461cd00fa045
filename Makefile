# Front door for building and testing; CMake does the real work.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build test bootstrap clean demo

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD_DIR)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: bootstrap $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Synthetic mixed scenario through the daemon, found devices vs ground truth.
demo: build
	@scripts/demo $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

# --- Robustness stages (CI runs them after `make test`) ---------------------
# Each builds in a directory of its own; scripts/bootstrap-ci installs the
# sanitizer runtimes, clang/libFuzzer, the ARM cross compiler and qemu.
ASAN_BUILD_DIR ?= build-asan
FUZZ_BUILD_DIR ?= build-fuzz
ARM_BUILD_DIR ?= build-arm
FUZZ_SECONDS ?= 60
SOAK_MINUTES ?= 10
# Extra ctest arguments for the sanitizer run (e.g. -E to leave out slow suites).
ASAN_CTEST_FLAGS ?=

.PHONY: bootstrap-ci test-asan fuzz soak test-arm

bootstrap-ci: bootstrap
	@scripts/bootstrap-ci

# The whole unit and end-to-end suite under AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails the test that caused it.
test-asan: bootstrap-ci
	cmake -S . -B $(ASAN_BUILD_DIR) -DTESSARON_SANITIZE=ON -DTESSARON_WERROR=ON
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
		UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) $(ASAN_CTEST_FLAGS)

# Every libFuzzer target for FUZZ_SECONDS, starting from its seed corpus.
fuzz: bootstrap-ci
	cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_CXX_COMPILER=clang++ -DTESSARON_FUZZ=ON \
		-DTESSARON_BUILD_TESTS=OFF -DTESSARON_WERROR=ON
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzz_targets
	tests/fuzz/run_fuzzers $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS)

# SOAK_MINUTES of capture time of stress stream through the receive path.
soak: bootstrap $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tessaron_soak
	$(BUILD_DIR)/tools/soak/tessaron_soak --minutes $(SOAK_MINUTES)

# Cross build for 32-bit ARM of the daemon and the unit tests, which run
# under qemu-arm. The end-to-end tests start the daemon as a child process,
# which user-mode emulation without binfmt support cannot do: they are not
# built, and ctest skips the placeholders of targets that were not built.
# The install check needs every program, so it is left out here too.
ARM_UNIT_TESTS = $(filter-out pcap_%,$(basename $(notdir $(wildcard tests/*_test.cpp))))
test-arm: bootstrap-ci
	cmake -S . -B $(ARM_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm-linux-gnueabihf.cmake \
		-DTESSARON_WITH_PCAP=OFF -DTESSARON_WITH_OUTPUTS=OFF -DTESSARON_WERROR=ON
	cmake --build $(ARM_BUILD_DIR) -j $(JOBS) --target tessaron $(ARM_UNIT_TESTS)
	cd $(ARM_BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -E '_NOT_BUILT$$|^install_tree$$'

# Performance suite (benchmarks, replay throughput, callgrind, 60 s live loss
# test); prints one table. Not part of `make test`.
.PHONY: bench
bench: bootstrap
	@scripts/bench

# --- Installation, the Debian package and the phone build -------------------
DEB_BUILD_DIR ?= build-deb
ANDROID_BUILD_DIR ?= build-android
# make install [PREFIX=/usr] [DESTDIR=/tmp/stage]
PREFIX ?=
DESTDIR ?=

.PHONY: install deb test-deb android test-android

install: build
	$(if $(PREFIX),cmake -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(BUILD_DIR) > /dev/null &&) \
		cmake --build $(BUILD_DIR) -j $(JOBS) && DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR)

# $(DEB_BUILD_DIR)/tessaron_*.deb with Debian's hardening flags; lintian
# errors fail it.
deb: bootstrap-ci
	scripts/make-deb $(DEB_BUILD_DIR) $(JOBS)

# Installs the package with dpkg -i, checks it and removes it (needs root).
test-deb: deb
	scripts/test-deb $(DEB_BUILD_DIR)

# Static 32-bit ARM daemon (and producer) for a phone, without the optional
# libraries.
android: bootstrap-ci
	cmake -S . -B $(ANDROID_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm-linux-gnueabihf.cmake \
		-DCMAKE_EXE_LINKER_FLAGS=-static -DTESSARON_WITH_PCAP=OFF -DTESSARON_WITH_OUTPUTS=OFF \
		-DTESSARON_BUILD_TESTS=OFF \
		-DTESSARON_MAN=OFF -DTESSARON_WERROR=ON
	cmake --build $(ANDROID_BUILD_DIR) -j $(JOBS) --target phone

# The phone build under qemu-arm and the x86 build on the same live stream:
# outputs compared byte for byte.
test-android: android build
	scripts/test-android $(ANDROID_BUILD_DIR) $(BUILD_DIR)
