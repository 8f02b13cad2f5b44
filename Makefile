# The project's interface. `make test` is what CI runs.
JOBS ?= 2
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

.PHONY: all deps build test demo clean format fuzz bench soak

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
	bash scripts/run-tests build/test

# The headless front end against velmo-devserver in a scratch HOME (the tray
# application comes later).
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

clean:
	rm -rf build

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i
