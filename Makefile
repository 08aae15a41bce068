# The two commands of the README: `make run` and `make test`.
NATIVE := build/native
WIN32  := build/win32
JOBS   ?= $(shell nproc)

.PHONY: run test bootstrap build native win32 sanitized asan tsan bench clean screenshot dist

run: bootstrap win32
	scripts/run

test: bootstrap build sanitized
	scripts/test

bootstrap:
	@scripts/bootstrap

build: native win32

native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

win32:
	@cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DPARCELO_DIST_DIR=$(CURDIR)/build/dist >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

# build/dist: setup.exe with the compressed program, help file and licence it
# installs; the Win32 build writes it.
dist: bootstrap win32
	@echo "dist: $(CURDIR)/build/dist"

# The native build again under the sanitizers, for the tests only: -O1 keeps
# the builds and the runs short while still giving whole stack traces.
sanitized: asan tsan

asan:
	@cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG='-O1 -g' \
	  -DPARCELO_SANITIZE=address,undefined >/dev/null
	@cmake --build build/asan -j $(JOBS)

tsan:
	@cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG='-O1 -g' \
	  -DPARCELO_SANITIZE=thread >/dev/null
	@cmake --build build/tsan -j $(JOBS)

screenshot: bootstrap win32
	scripts/screenshot

bench: bootstrap build
	bench/run

clean:
	rm -rf build
