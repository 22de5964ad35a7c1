# Thin wrapper over CMake: `make test` installs what is missing, builds and runs every test;
# `make demo` runs a station on simulated devices and prints its records;
# `make fuzz` runs every fuzz target for FUZZ_SECONDS under libFuzzer; `make package` builds
# the Debian package into dist/.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_WERROR=ON
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := update_file synchronise transfer_replies corvane_answer xml_frame command_line \
	remote_listener

.PHONY: all deps build test test-main test-asan test-tsan demo bench bench-update bench-sync \
	bench-station bench-plant fuzz package clean

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

# Builds only the program and the simulator, then runs a station on four simulated FTDI devices
# (one failing) with its records in a temporary folder, and prints `records --summary`.
demo: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright flashwright-sim -- --no-print-directory
	@bash scripts/demo.sh $(BUILD)

# A 128 KiB update through the real program to the simulator, against the protocol's floor;
# BENCH_UPDATE_ARGS picks the runs per case and the cases, e.g. "5 ftdi" (cases: udp, fleet,
# serial, ftdi, usbxpress; every case when none is named).
BENCH_UPDATE_ARGS ?=
bench-update: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright_update_bench -- --no-print-directory
	@$(BUILD)/bench/flashwright_update_bench $(BENCH_UPDATE_ARGS)

# How long a failed synchronisation attempt of the network link takes (50 ms plus the 5 ms
# receive bound).
bench-sync: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright_sync_bench -- --no-print-directory
	@$(BUILD)/bench/flashwright_sync_bench

# The station on a simulated bus: arrival to first synchronisation attempt, 16 devices at once
# against one. Each benchmark of the station is one line below.
STATION_BENCHES := flashwright_station_bench flashwright_records_bench
bench-station: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target $(STATION_BENCHES) -- --no-print-directory
	@for b in $(STATION_BENCHES); do $(BUILD)/bench/$$b || exit 1; done

# Records a second forwarded to a plant database on a private PostgreSQL server, as a station
# makes them and as a backlog sent when the server is back.
bench-plant: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target flashwright_plant_bench -- --no-print-directory
	@$(BUILD)/bench/flashwright_plant_bench

# Each target runs for FUZZ_SECONDS from its corpus in tests/fuzz/corpus/<target>/; the inputs
# that reach new coverage are merged into the corpus, a crash or a broken property is saved
# there as crash-* (so `make test` replays it) and fails the run once every target has run.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DFW_FUZZ=ON -DFW_WERROR=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) -- --no-print-directory
	@failed=""; for t in $(FUZZ_TARGETS); do \
		corpus=tests/fuzz/corpus/$$t; found=$(FUZZ_BUILD)/found/$$t; \
		rm -rf $$found; mkdir -p $$found; \
		echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
		$(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -close_fd_mask=3 \
			-print_final_stats=1 -artifact_prefix=$$corpus/ $$found $$corpus \
			2>$(FUZZ_BUILD)/fuzz_$$t.log || failed="$$failed $$t"; \
		grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|==[0-9]+==ERROR|property does not hold)' \
			$(FUZZ_BUILD)/fuzz_$$t.log || true; \
		$(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -merge=1 -close_fd_mask=3 $$corpus $$found \
			2>>$(FUZZ_BUILD)/fuzz_$$t.log || failed="$$failed $$t"; \
	done; \
	if [ -n "$$failed" ]; then echo "Fuzzing found faults in:$$failed (see $(FUZZ_BUILD)/fuzz_*.log)"; exit 1; fi
	@echo "Fuzzing found nothing; new inputs are merged into tests/fuzz/corpus/."

# The Debian package of the normal build, into dist/.
package: build
	@mkdir -p dist
	@cd $(BUILD) && cpack -G DEB --config CPackConfig.cmake -B $(CURDIR)/dist/.cpack >/dev/null
	@mv dist/.cpack/flashwright_*.deb dist/ && rm -rf dist/.cpack
	@ls dist/flashwright_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
