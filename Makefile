# The README's two commands are `make run` and `make test`; both install what the machine
# lacks, then configure and build both trees.
SHELL := /bin/bash
NATIVE := build/native
WIN := build/win
CMAKE_FLAGS := -G Ninja -Wno-dev

.PHONY: all deps configure build test run qrt fuzz bench dist dist-test clean

all: build

deps:
	@sh scripts/setup-deps.sh

$(NATIVE)/build.ninja: | deps
	@cmake -S . -B $(NATIVE) $(CMAKE_FLAGS) >/dev/null

$(WIN)/build.ninja: | deps
	@cmake -S . -B $(WIN) $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null

configure: $(NATIVE)/build.ninja $(WIN)/build.ninja

build: configure
	@cmake --build $(NATIVE)
	@cmake --build $(WIN)

test: build
	@scripts/run-tests.sh

run: build
	@scripts/run-demo.sh

qrt: $(NATIVE)/build.ninja
	@cmake --build $(NATIVE) --target qrt

fuzz: $(NATIVE)/build.ninja
	@cmake --build $(NATIVE) --target package_fuzzer
	@scripts/run-fuzzer.sh $(or $(SECONDS),600)

bench: build
	@scripts/run-benchmarks.sh

# The installer and the portable zip in build/dist (NSIS is installed on first use).
dist: build
	@GLIMMERLY_DIST=1 sh scripts/setup-deps.sh
	@scripts/make-dist.sh

# Both used as a user would, under Wine in a fresh prefix.
dist-test: dist
	@tests/dist/dist-test.sh

clean:
	rm -rf build
