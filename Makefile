# Kestrane: the two everyday commands are `make run` and `make test`.
# Each target installs what is missing (tools/setup.sh) before building.

SHELL := bash
.SHELLFLAGS := -euo pipefail -c
.NOTPARALLEL:
MAKEFLAGS += --no-print-directory

JOBS         ?= 2
BUILD        ?= build
ASAN_BUILD   ?= build-asan
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 30
ASAN_CC      ?= gcc
ASAN_CXX     ?= g++
CMAKE_ARGS   ?=
ARGS         ?=

SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Known leaks of third-party libraries can be listed in tests/lsan.supp.
ifneq ($(wildcard tests/lsan.supp),)
SANITIZER_ENV += LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp
endif

.PHONY: all setup build run test test-main asan fuzz bench clean

all: build

setup:
	bash tools/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DKESTRANE_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/kestrane $(ARGS)

test: test-main asan

test-main: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

asan: setup
	$(SANITIZER_ENV) cmake -S . -B $(ASAN_BUILD) \
	    -DCMAKE_C_COMPILER=$(ASAN_CC) -DCMAKE_CXX_COMPILER=$(ASAN_CXX) \
	    -DKESTRANE_SANITIZE=ON -DKESTRANE_BENCH=OFF $(CMAKE_ARGS)
	$(SANITIZER_ENV) cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS)

fuzz: setup
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    -DKESTRANE_FUZZ=ON -DKESTRANE_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzzers
	@shopt -s nullglob; found=0; \
	for f in $(FUZZ_BUILD)/bin/fuzz/*; do \
	    [ -x "$$f" ] || continue; found=1; name=$$(basename "$$f"); \
	    corpus=$(FUZZ_BUILD)/corpus/$$name; mkdir -p "$$corpus" $(FUZZ_BUILD)/artifacts; \
	    seeds=(); [ -d fuzz/corpus/$$name ] && seeds=(fuzz/corpus/$$name); \
	    dict=(); [ -f fuzz/$$name.dict ] && dict=(-dict=fuzz/$$name.dict); \
	    echo "=== $$name ($(FUZZ_SECONDS) s)"; \
	    $(SANITIZER_ENV) "$$f" -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$name- "$${dict[@]}" \
	        "$$corpus" "$${seeds[@]}"; \
	done; \
	[ $$found -eq 1 ] || echo "no fuzzers in fuzz/"

bench: build
	cmake --build $(BUILD) -j$(JOBS) --target bench

# The Lua patch work repo (build/lua-work) may hold unexported commits,
# so clean leaves it alone.
clean:
	if [ -d $(BUILD) ]; then find $(BUILD) -mindepth 1 -maxdepth 1 ! -name lua-work -exec rm -rf {} +; fi
	rm -rf $(ASAN_BUILD) $(FUZZ_BUILD)
