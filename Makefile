# The project's interface. `make test` is what CI runs.
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps build test demo clean format package package-test

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

# The headless front end against velmo-devserver in a scratch HOME (the tray
# application comes later).
demo: build
	bash scripts/demo build/release

clean:
	rm -rf build

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i
