# The two ways in: `make test` and `make run`. Both install missing Debian
# packages first (scripts/install-deps), so they work on a fresh machine.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?=
PREFIX ?= /usr/local
ARGS ?=

.PHONY: all deps test run build-test build-release bench fuzz clean screenshots install deb package-check

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

# The Debian package in build/deb/. dpkg-buildpackage writes its results
# beside the source folder, so the package is built from a copy of the tree
# inside build/deb/, and only the packages are kept.
DEB_DIR := build/deb
deb:
	scripts/install-deps package
	rm -rf $(DEB_DIR)/src $(DEB_DIR)/*.deb $(DEB_DIR)/*.ddeb
	mkdir -p $(DEB_DIR)/src/pelorus
	tar --exclude=./build --exclude=./.git --exclude='./obj-*' -cf - . | tar -C $(DEB_DIR)/src/pelorus -xf -
	cd $(DEB_DIR)/src/pelorus && dpkg-buildpackage -b -us -uc -j$(JOBS)
	find $(DEB_DIR)/src -maxdepth 1 \( -name '*.deb' -o -name '*.ddeb' \) -exec mv -t $(DEB_DIR) {} +
	rm -rf $(DEB_DIR)/src
	@ls -1 $(DEB_DIR)/*.deb

# The package built, checked by lintian, unpacked into a temporary root and
# its program started there: it must say the package's version.
package-check: deb
	lintian --fail-on error,warning $(DEB_DIR)/pelorus_*.deb
	@root=$$(mktemp -d) && trap 'rm -rf "$$root"' EXIT && \
	deb=$$(ls $(DEB_DIR)/pelorus_*.deb) && dpkg -x "$$deb" "$$root" && \
	for f in usr/bin/pelorus usr/share/man/man1/pelorus.1.gz usr/share/applications/pelorus.desktop \
	         usr/share/icons/hicolor/scalable/apps/pelorus.svg usr/share/pelorus/html/Pelorus.html; do \
	    test -f "$$root/$$f" || { echo "package-check: $$f is missing from $$deb" >&2; exit 1; }; \
	done && \
	version=$$(env -i HOME="$$root" PATH=/usr/bin:/bin "$$root/usr/bin/pelorus" --version) && echo "$$version" && \
	packaged=$$(dpkg-deb -f "$$deb" Version) && \
	{ test "$$version" = "Pelorus Version $$packaged" || \
	  { echo "package-check: the program says '$$version', the package is $$packaged" >&2; exit 1; }; } && \
	env -i HOME="$$root" PATH=/usr/bin:/bin "$$root/usr/bin/pelorus" --help && \
	echo "package-check: $$deb is lintian-clean, complete and runs"

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
