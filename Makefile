# The two commands of the README: `make run` and `make test`.
NATIVE := build/native
WIN32  := build/win32
JOBS   ?= $(shell nproc)

.PHONY: run test bootstrap build native win32 bench clean screenshot

run: bootstrap win32
	scripts/run

test: bootstrap build
	scripts/test

bootstrap:
	@scripts/bootstrap

build: native win32

native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

win32:
	@cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

screenshot: bootstrap win32
	scripts/screenshot

bench: bootstrap build
	bench/run

clean:
	rm -rf build
