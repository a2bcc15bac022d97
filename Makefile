# The two commands a developer needs: `make run` and `make test`.
# Both install what they need first (scripts/install-deps, idempotent).

JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)
# A recipe's pipeline fails when any command in it does (ctest | tee).
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
SUMMARY := build/test-summary

.PHONY: all deps run test test-native test-tsan test-win32 test-package test-release build bench bench-win32 fuzz clean dist dist-check docs

all: build

deps:
	bash scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

# Builds the development host alone (preset run: optimised, no sanitizers,
# build/run) and starts it in the foreground; Ctrl-C stops it (status 0).
# make run [PORT=8787] [ARGS="--region OTHER --dev-quorvex-zv"]
PORT ?= 8787
run:
	bash scripts/install-deps --native-only
	cmake --preset run
	cmake --build --preset run -j $(JOBS)
	@bash scripts/run-devhost build/run/host/plugin-host $(PORT) $(ARGS)

# Every suite runs, even after one failed; the last lines say per suite
# whether it passed, how it ran and what it left out (scripts/test-suites).
test: deps
	@bash scripts/test-suites $(MAKE)

test-native:
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	@mkdir -p $(SUMMARY)
	ctest --test-dir build/dev $(CTEST_FLAGS) 2>&1 | tee $(SUMMARY)/native.log
	@echo "$$(bash scripts/ctest-count $(SUMMARY)/native.log), the web tests in headless Chromium among them" > $(SUMMARY)/native.note

test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	@mkdir -p $(SUMMARY)
	ctest --test-dir build/tsan -L concurrency $(CTEST_FLAGS) 2>&1 | tee $(SUMMARY)/tsan.log
	@echo "$$(bash scripts/ctest-count $(SUMMARY)/tsan.log) labelled concurrency" > $(SUMMARY)/tsan.note

# The API reference of the SDK's public headers, in build/run/docs/html.
docs: deps
	cmake --preset run
	cmake --build --preset run --target korvo_docs

# The SDK as plug-in authors get it (scripts/check-package): the package of
# the unsanitized native build (preset run, shared with make run) and of the
# win32 build, installed into fresh prefixes; every plug-in in examples/ built
# against them alone with GCC, Clang and mingw-w64 and served by plugin-host;
# the guide's commands run; the API reference builds without a warning.
test-package:
	cmake --preset run
	cmake --build --preset run -j $(JOBS)
	cmake --build --preset run --target korvo_docs
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)
	bash scripts/check-package build/run build/win32
	@mkdir -p $(SUMMARY); if bash scripts/can-run-32bit; then \
	  echo "examples built with GCC, Clang and mingw-w64 against the installed packages; plugin-check and plugin-check.exe (32-bit Wine) on every plug-in" > $(SUMMARY)/package.note; \
	else \
	  echo "examples built with GCC, Clang and mingw-w64 against the installed packages; plugin-check on the native plug-ins; plugin-check.exe on the DLLs NOT RUN (this machine cannot execute 32-bit programs)" > $(SUMMARY)/package.note; \
	fi

# The 32-bit cross-build always runs (it checks every 32-bit record layout
# at compile time), and so do the checks that read the built DLL with the
# build machine's tools. The tests then run under 32-bit Wine where this
# machine executes 32-bit programs, and as a 64-bit build under wine64 where
# it cannot (scripts/test-windows; KORVO_WINDOWS_RUN=win32|win64 forces one).
test-win32:
	JOBS=$(JOBS) bash scripts/test-windows

# make dist builds the release artefacts from scratch into dist/ and checks
# them (README, "Releasing"); make dist-check then builds them again in a
# fresh clone in another folder, without ccache, and compares byte for byte.
dist: deps
	JOBS=$(JOBS) bash scripts/make-dist

dist-check: dist
	JOBS=$(JOBS) bash scripts/check-reproducible

# The release DLL: its checks, its crash read back through its PDB (on a
# 64-bit build under wine64 where 32-bit programs cannot run), and the same
# bytes from a fresh clone in another folder (scripts/test-release).
test-release:
	JOBS=$(JOBS) bash scripts/test-release

# make bench runs every benchmark BENCH_REPETITIONS times and prints the ratio
# table (bench/ratio_table.py); BENCH_FILTER picks benchmarks by regex.
BENCH_REPETITIONS ?= 5
BENCH_MIN_TIME ?= 0.2
BENCH_FILTER ?= .
bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	build/release/bench/korvo_bench --benchmark_filter='$(BENCH_FILTER)' \
	  --benchmark_repetitions=$(BENCH_REPETITIONS) --benchmark_min_time=$(BENCH_MIN_TIME) \
	  --benchmark_report_aggregates_only=true \
	  --benchmark_out=build/release/bench/results.json --benchmark_out_format=json
	@python3 bench/ratio_table.py build/release/bench/results.json

# make bench-win32: korvo_bench cross-built for 32-bit Windows (preset
# bench-win32; its peers from Debian's sources, scripts/build-bench-peers-win32)
# and run under Wine with make bench's filter, repetitions and minimum time.
# Where this machine cannot execute 32-bit programs, it builds everything and
# says that the run was skipped.
bench-win32: deps
	JOBS=$(JOBS) bash scripts/build-bench-peers-win32
	cmake --preset bench-win32
	cmake --build --preset bench-win32 -j $(JOBS)
	@if bash scripts/can-run-32bit; then \
	  bash scripts/wine-run build/bench-win32/bench/korvo_bench.exe --benchmark_filter='$(BENCH_FILTER)' \
	    --benchmark_repetitions=$(BENCH_REPETITIONS) --benchmark_min_time=$(BENCH_MIN_TIME) \
	    --benchmark_report_aggregates_only=true \
	    --benchmark_out=build/bench-win32/bench/results.json --benchmark_out_format=json \
	  && python3 bench/ratio_table.py build/bench-win32/bench/results.json; \
	else \
	  echo "bench-win32: build/bench-win32/bench/korvo_bench.exe is built; the run was SKIPPED - this machine"; \
	  echo "bench-win32: cannot execute 32-bit x86 programs (scripts/can-run-32bit fails: its kernel has IA-32"; \
	  echo "bench-win32: emulation off), so Wine cannot start it. Run 'make bench-win32' on a machine that can."; \
	fi

# make fuzz FUZZ_SECONDS=600 runs every fuzz target for that long.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@bash scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build/dev build/tsan build/win32 build/win64 build/bench-win32 build/test-summary build/release build/fuzz build/run build/dist-win32 build/dist-win64 build/dist-linux dist
