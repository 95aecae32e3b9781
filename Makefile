# Pelmo: coordinate transformation for ASCII files and shapefiles.
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run every test
SHELL := /bin/bash
JOBS ?= 2
BUILD_TYPE ?= RelWithDebInfo

DEB_PACKAGES := cmake make g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
  libbenchmark-dev libgeographiclib-dev libproj-dev proj-bin proj-data libshp-dev shapelib \
  gdal-bin xvfb xauth clang-14 libclang-rt-14-dev cppcheck clang-tidy fonts-dejavu-core fonts-dejavu-extra time bc

.PHONY: all deps build build-asan run test test-asan lint bench fuzz screenshots clean

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

build-asan/CMakeCache.txt:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPELMO_SANITIZE=ON -DPELMO_BUILD_UI=OFF

build-asan: build-asan/CMakeCache.txt
	cmake --build build-asan -j$(JOBS)

run: deps build
	@bash tools/run.sh

test: deps build
	ctest --test-dir build --output-on-failure -j$(JOBS)
	$(MAKE) --no-print-directory lint
	$(MAKE) --no-print-directory test-asan

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j$(JOBS)

# Static analysis of our own sources (not the tests): cppcheck and clang-tidy
# with the check set of .clang-tidy; any finding fails.
LINT_SOURCES = $(wildcard geotra/*.cpp job/*.cpp paramfiles/*.cpp cli/*.cpp)
lint: build
	cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr \
	  --quiet --error-exitcode=1 -I . geotra job paramfiles cli
	printf '%s\n' $(LINT_SOURCES) | xargs -P $(JOBS) -n 4 clang-tidy -p build --quiet 2>/dev/null
	@echo "lint: no findings"

bench: deps build
	@bash bench/run.sh

# Pictures of the real windows for the README and the manual (under Xvfb).
screenshots: build
	@bash tools/screenshots.sh

clean:
	rm -rf build build-asan build-fuzz
