# Build, run and test Vorlax. Every target installs what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD?= build-bench
PACKAGE_BUILD ?= build-package
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps configure build run demo check test test-asan install package bench format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLAX_SANITIZE=ON $(CMAKE_ARGS)

# Benchmarks always run optimised, whatever build/ was configured as.
$(BENCH_BUILD)/build.ninja:
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLAX_TESTS=OFF $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Without a display there is no window to show: run the demonstration instead.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then $(BUILD)/vorlax; else scripts/demo $(BUILD)/vorlax; fi

demo: build
	scripts/demo $(BUILD)/vorlax

test: build
	scripts/run-tests $(BUILD) -j $(JOBS)

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		scripts/run-tests $(ASAN_BUILD) -j $(JOBS)

check: test test-asan

bench: deps $(BENCH_BUILD)/build.ninja
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target vorlax vorlax_bench vorlax_load_bench vorlax_drive_bench vorlax_trash_bench vorlax_copy_bench
	bench/run $(BENCH_BUILD)/bench/vorlax_bench
	bench/run $(BENCH_BUILD)/bench/vorlax_load_bench
	bench/run $(BENCH_BUILD)/bench/vorlax_drive_bench
	bench/run $(BENCH_BUILD)/bench/vorlax_trash_bench
	bench/run $(BENCH_BUILD)/bench/vorlax_copy_bench
	bench/syscalls $(BENCH_BUILD)/vorlax

install: build
	cmake --install $(BUILD)

# The Debian package, built from a copy of the tree: $(PACKAGE_BUILD)/vorlax_<version>_<arch>.deb
package: deps
	@scripts/install-deps --package
	scripts/build-package $(PACKAGE_BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(PACKAGE_BUILD)
