# Lumora: the two everyday commands are `make run` and `make test`.
# Both install missing Debian packages first (scripts/install-deps).

MAKEFLAGS += --no-print-directory
SHELL := /bin/bash
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build/release
TEST_DIR := build/test
SANITIZE_DIR := build/sanitize
FUZZ_DIR := build/fuzz

.PHONY: all run test test-sanitize bench fuzz deps build-release build-test build-sanitize install clean

all: build-release

deps:
	@scripts/install-deps

build-release: deps
	@mkdir -p build
	@cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DLUMORA_BUILD_TESTS=OFF > $(RELEASE_DIR).log 2>&1 || { mkdir -p build; cat $(RELEASE_DIR).log; exit 1; }
	@cmake --build $(RELEASE_DIR) --target lumora -j $(JOBS)

run: build-release
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	  echo "Lumora needs a graphical display, and none was found (DISPLAY and WAYLAND_DISPLAY are unset)."; \
	  echo "On a machine without one, run:  xvfb-run -a make run"; \
	  exit 1; \
	fi
	@if [ "$$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi; \
	  exec ./$(RELEASE_DIR)/lumora $(ARGS)

build-test: deps
	@mkdir -p build
	@cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_BUILD_BENCHMARKS=OFF > build/test-configure.log 2>&1 || { cat build/test-configure.log; exit 1; }
	@cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	@cd $(TEST_DIR) && set -o pipefail; \
	  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS) 2>&1 | tee ctest.log; \
	  status=$$?; echo; grep -E '^[0-9]+% tests passed' ctest.log | tail -n 1; exit $$status

# The same tests, built with AddressSanitizer and UndefinedBehaviorSanitizer
# in a folder of their own: any invalid memory access, leak or undefined
# behaviour fails the test that caused it. The new/delete size check is off:
# Qt WebEngine's Chromium frees some of its own objects through a base type of
# another size, which is not ours to mend and would fail every preview test;
# tests/support/lsan.supp names the libraries whose own leaks are not ours.
# Every test runs once: one that fails has failed. LeakSanitizer's watch over
# dynamic thread-local storage is off: GCC 12's runtime takes a block that
# happens to start 16 bytes into a page for an old glibc's layout and reads a
# length from before it, and its tracer then crashes in every run of the same
# binary.
build-sanitize: deps
	@mkdir -p build
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON -DLUMORA_BUILD_BENCHMARKS=OFF > build/sanitize-configure.log 2>&1 || { cat build/sanitize-configure.log; exit 1; }
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)

test-sanitize: build-sanitize
	@cd $(SANITIZE_DIR) && set -o pipefail; \
	  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:new_delete_type_mismatch=0:intercept_tls_get_addr=0 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS) 2>&1 | tee ctest.log; \
	  status=$$?; echo; grep -E '^[0-9]+% tests passed' ctest.log | tail -n 1; exit $$status

bench: deps
	@mkdir -p build
	@cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DLUMORA_BUILD_TESTS=OFF -DLUMORA_BUILD_BENCHMARKS=ON > build/bench-configure.log 2>&1 || { cat build/bench-configure.log; exit 1; }
	@cmake --build $(RELEASE_DIR) -j $(JOBS)
	@for b in $(RELEASE_DIR)/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; \
	  QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 "$$b" $(BENCH_ARGS) || exit 1; \
	done

fuzz: deps
	@mkdir -p build
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_BUILD_TESTS=OFF -DLUMORA_BUILD_BENCHMARKS=OFF -DLUMORA_BUILD_FUZZERS=ON > build/fuzz-configure.log 2>&1 || { cat build/fuzz-configure.log; exit 1; }
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(shell ls fuzz/*.cpp 2>/dev/null | sed 's|fuzz/\(.*\)\.cpp|fuzz_\1|')
	@echo "Fuzzers are in $(FUZZ_DIR)/fuzz/"

install: build-release
	@DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_DIR)

clean:
	rm -rf build
