# Thin wrapper over CMake: `make test` installs what is missing, builds and runs every test;
# `make demo` updates the bundled simulator over the network from the command line.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_WERROR=ON

.PHONY: all deps build test test-main test-asan test-tsan demo bench bench-update bench-sync clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test-main: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 4

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DFW_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
		UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j 4 -LE slow

test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) $(CMAKE_FLAGS) -DFW_SANITIZE=thread -DFW_TESTS_ONLY_THREADS=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j 2

test: test-main test-asan test-tsan
	@echo "All test runs passed (main, AddressSanitizer+UBSan, ThreadSanitizer)."

bench: build
	@$(BUILD)/bench/flashwright_bench

# Builds only the program and the simulator, then updates the simulator on 127.0.0.1.
demo: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright flashwright-sim -- --no-print-directory
	@bash scripts/demo.sh $(BUILD)

# A 128 KiB update through the real program to the simulator, against the protocol's floor.
bench-update: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright_update_bench -- --no-print-directory
	@$(BUILD)/bench/flashwright_update_bench

# How long a failed synchronisation attempt of the network link takes (50 ms plus the 5 ms
# receive bound).
bench-sync: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright_sync_bench -- --no-print-directory
	@$(BUILD)/bench/flashwright_sync_bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
