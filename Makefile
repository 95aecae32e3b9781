# Pelmo: coordinate transformation for ASCII files and shapefiles.
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run every test
SHELL := /bin/bash
JOBS ?= 2
BUILD_TYPE ?= RelWithDebInfo

DEB_PACKAGES := cmake make g++ pkg-config libcli11-dev qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
  libbenchmark-dev libgeographiclib-dev libeigen3-dev libproj-dev proj-bin proj-data libshp-dev shapelib \
  gdal-bin xvfb xauth clang-14 libclang-rt-14-dev cppcheck clang-tidy fonts-dejavu-core fonts-dejavu-extra time bc \
  dpkg-dev file \
  qt6-translations-l10n qt6-svg-dev

.PHONY: all deps build build-asan run test test-asan test-tsan lint bench fuzz screenshots package clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	  else \
	    echo "missing packages; run as root:"; \
	    echo "  apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

build/CMakeCache.txt:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: build/CMakeCache.txt
	cmake --build build -j$(JOBS)

# Unoptimised (-O1 costs more compile time than it saves in the test run), line
# tables only (reports keep file and line; compiles a tenth faster than -g).
build-asan/CMakeCache.txt:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DPELMO_SANITIZE=ON -DPELMO_BUILD_UI=ON

build-asan: build-asan/CMakeCache.txt
	cmake --build build-asan -j$(JOBS)

run: deps build
	@bash tools/run.sh

test: deps build
	ctest --test-dir build --output-on-failure -j$(JOBS)
	$(MAKE) --no-print-directory lint
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-tsan

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:exitcode=86 UBSAN_OPTIONS=print_stacktrace=1:exitcode=86 \
	  ctest --test-dir build-asan --output-on-failure -j$(JOBS)

# The tests of jobs on several threads (engine and batch tool) with the
# thread sanitizer in build-tsan/, optimised lightly and without the window;
# any report fails.
build-tsan/CMakeCache.txt:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug '-DCMAKE_CXX_FLAGS_DEBUG=-g -O1' -DPELMO_TSAN=ON \
	  -DPELMO_BUILD_UI=OFF

test-tsan: build-tsan/CMakeCache.txt
	cmake --build build-tsan -j$(JOBS) --target pelmo-cli pelmo_engine_tests
	TSAN_OPTIONS=halt_on_error=1:exitcode=66 ctest --test-dir build-tsan --output-on-failure -j$(JOBS)

# Static analysis of our own sources (not the tests): cppcheck and clang-tidy
# with the check set of .clang-tidy; any finding fails.
LINT_SOURCES = $(wildcard core/*.cpp geodesy/*.cpp formats/*.cpp paramfiles/*.cpp job/*.cpp cli/*.cpp)
lint: build
	cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr \
	  --quiet --error-exitcode=1 -I . core geodesy formats paramfiles job cli
	printf '%s\n' $(LINT_SOURCES) | xargs -P $(JOBS) -n 4 clang-tidy -p build --quiet 2>/dev/null
	@echo "lint: no findings"

# Fuzzing with libFuzzer (clang, address and undefined-behaviour sanitizers)
# in build-fuzz/: every target runs FUZZ_SECONDS from the kept corpus of
# tests/fuzz-corpus/ (seeds included) and what earlier runs found. Findings
# land in build-fuzz/findings/<target>/; `make test` replays tests/fuzz-corpus/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= numtext properties paramsets shapefile geodesy
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DPELMO_FUZZ=ON -DPELMO_BUILD_UI=OFF -DPELMO_BUILD_TESTS=OFF
	cmake --build build-fuzz -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@found=""; for t in $(FUZZ_TARGETS); do \
	  rm -rf build-fuzz/findings/$$t; \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/findings/$$t tests/fuzz-corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  TMPDIR=$$(if [ -d /dev/shm ]; then echo /dev/shm; else echo $${TMPDIR:-/tmp}; fi) \
	  ./build-fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -max_len=8192 -print_final_stats=1 -artifact_prefix=build-fuzz/findings/$$t/ \
	    build-fuzz/corpus/$$t tests/fuzz-corpus/$$t \
	    > build-fuzz/fuzz_$$t.log 2>&1 || true; \
	  grep -E '^(Done|stat::average_exec_per_sec|SUMMARY)' build-fuzz/fuzz_$$t.log || true; \
	  if ! grep -q '^Done ' build-fuzz/fuzz_$$t.log; then \
	    echo "fuzz_$$t did not run to its end (log build-fuzz/fuzz_$$t.log)"; found="$$found $$t"; \
	  elif [ -n "$$(ls -A build-fuzz/findings/$$t)" ]; then \
	    echo "fuzz_$$t found something: build-fuzz/findings/$$t/ (log build-fuzz/fuzz_$$t.log)"; \
	    found="$$found $$t"; fi; \
	done; \
	if [ -n "$$found" ]; then echo "findings in:$$found"; exit 1; fi; echo "fuzz: no findings"

bench: deps build
	@bash bench/run.sh

# Debian package of the window, the batch tool, the library, the manual and
# the manual page (dependencies from dpkg-shlibdeps): build/pelmo_*.deb.
package: deps build
	cd build && cpack -G DEB
	@ls -l build/pelmo_*.deb

# Pictures of the real windows for the README and the manual (under Xvfb).
screenshots: build
	@bash tools/screenshots.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz
