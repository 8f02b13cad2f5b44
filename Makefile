# The project's interface. `make test` is what CI runs.
JOBS ?= 2
CMAKE_FLAGS ?=

PREFIX ?= /usr/local

.PHONY: all deps build test demo install clean format

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

# The tray application against velmo-devserver's demo account in a scratch
# profile; without a display, the status-bar line and the screenshots.
demo: build
	bash scripts/demo build/release

# The program, its desktop entry and its icons under $(PREFIX) (DESTDIR is
# honoured for packaging).
install: build
	cmake --install build/release --prefix $(PREFIX)

clean:
	rm -rf build

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i
