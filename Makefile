# Usual steps. `make run` and `make test` install missing Debian packages first.
JOBS ?= 2
ROOT ?= $(CURDIR)/run-root
LISTEN ?= 127.0.0.1:8080
FUZZ_SECONDS ?= 30
BUILD_TYPE ?= RelWithDebInfo

.PHONY: help deps build build-asan build-fuzz run test test-normal test-asan test-fuzz bench format clean

help:
	@echo "make run        build, start the CardDAV/CalDAV server and serve the module on $(LISTEN) with the root $(ROOT)"
	@echo "make test       build (normal and sanitizer) and run every test, then a short fuzz run"
	@echo "make bench      build and run the benchmarks"
	@echo "make format     clang-format every source file"
	@echo "make clean      remove the build folders"

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build build -j$(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVA_SANITIZE=ON >/dev/null
	cmake --build build-asan -j$(JOBS)

build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVA_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j$(JOBS) --target orva_fuzz_targets

run: build
	./scripts/run-appliance.sh build/bin $(ROOT) $(LISTEN)

test-normal: build
	cd build && ctest --output-on-failure -j$(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

test-fuzz: build-fuzz
	./scripts/run-fuzz.sh build-fuzz/fuzz $(FUZZ_SECONDS)

test: test-normal test-asan test-fuzz

bench: build
	./scripts/run-bench.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
