# The project's interface. `make test` is what CI runs.
JOBS ?= 2
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
BENCH_ARGS ?=
SOAK_MINUTES ?= 10
BENCH_BUILD = cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=OFF \
	  -DVELMO_BUILD_BENCH=ON $(CMAKE_FLAGS) && \
	cmake --build build/bench -j$(JOBS) --target velmo-usage velmo-devserver velmo-bench-parse

PREFIX ?= /usr/local

.PHONY: all deps build test demo install clean format fuzz bench soak package package-test

all: build

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build/release -j$(JOBS)

# Debug build with AddressSanitizer + UBSan and -Werror, then every test inside
# a private D-Bus session with its own unlocked keyring.
test: deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMO_SANITIZE=ON -DVELMO_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build/test -j$(JOBS)
	bash scripts/run-tests build/test -LE package

# The Debian package, from a release build of its own without the updater:
# build/package/velmo-usage_<version>_<arch>.deb.
package: deps
	cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=OFF \
	  -DVELMO_UPDATES=OFF -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)
	cmake --build build/package -j$(JOBS)
	cd build/package && cpack -G DEB

# Checks that package (control fields, files, launcher, metainfo, a run of the
# unpacked program): the ctest label `package`, left out of `make test`.
package-test: package
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMO_SANITIZE=ON -DVELMO_WERROR=ON $(CMAKE_FLAGS)
	bash scripts/run-tests build/test -L package

# The tray application against velmo-devserver's demo account in a scratch
# profile; without a display, the status-bar line and the screenshots.
demo: build
	bash scripts/demo build/release

# libFuzzer with ASan + UBSan over every parser of outside bytes, each for
# FUZZ_SECONDS (clang comes from apt here, so `make test` stays lean).
fuzz: deps
	@bash scripts/install-deps --fuzz
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELMO_SANITIZE=ON -DVELMO_BUILD_TESTS=OFF -DVELMO_BUILD_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build/fuzz -j$(JOBS) --target velmo_fuzzers
	bash fuzz/run build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Speed, memory and idle figures against the bundled devserver (release build).
bench: deps
	@bash scripts/install-deps --bench
	$(BENCH_BUILD)
	python3 bench/run build/bench $(BENCH_ARGS)

# `--waybar` against the devserver with random faults, refreshed every second.
soak: deps
	@bash scripts/install-deps --bench
	$(BENCH_BUILD)
	python3 bench/soak build/bench --minutes $(SOAK_MINUTES)

clean:
	rm -rf build

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i
