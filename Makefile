# The two ways in: `make test` and `make run`. Both install missing Debian
# packages first (scripts/install-deps), so they work on a fresh machine.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?=
PREFIX ?= /usr/local
ARGS ?=

.PHONY: all deps test run build-test build-release bench fuzz clean screenshots install

all: build-release

deps:
	@scripts/install-deps

build-test: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DPELORUS_SANITIZE=ON -DPELORUS_TESTS=ON
	cmake --build build/test -j $(JOBS)

# The whole suite under AddressSanitizer, LeakSanitizer and UBSan.
test: build-test
	ctest --test-dir build/test --output-on-failure -j $(JOBS) $(CTEST_ARGS)

build-release: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPELORUS_TESTS=OFF
	cmake --build build/release -j $(JOBS)

run: build-release
	@if [ -x build/release/shell/pelorus ]; then \
	    exec build/release/shell/pelorus $(ARGS); \
	else \
	    echo "Everything is built, but there is no program yet: the pelorus executable arrives with the program's issue."; \
	fi

# The program, its help page, menu entry and icon under PREFIX.
install: build-release
	cmake --install build/release --prefix $(PREFIX)

# The README's pictures of every window (docs/screenshots/), taken on a
# virtual X server with a window manager.
screenshots:
	scripts/install-deps screenshots
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPELORUS_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target pelorus_screenshots
	scripts/screenshots build/release/shell/desktop/pelorus_screenshots docs/screenshots

# Every benchmark, release build without sanitizers.
bench:
	@mkdir -p build; scripts/install-bench-deps; echo $$? > build/.bench-deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DPELORUS_TESTS=OFF -DPELORUS_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	@for b in $$(find build/bench/bench -maxdepth 1 -name 'bench_*' -type f -perm -u+x | sort); do \
	    echo "== $$b"; $$b || exit 1; \
	done
	@if [ "$$(cat build/.bench-deps)" = 0 ]; then \
	    /usr/bin/python3 bench/relay_bench.py build/bench/shell/pelorus; \
	else \
	    echo "relay benchmark skipped: smtp-sink is not available"; \
	fi

# Each fuzz target for FUZZ_SECONDS (clang, libFuzzer).
FUZZ_SECONDS ?= 60
fuzz:
	scripts/run-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf build
