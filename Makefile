# make run  : installs what is missing, builds, creates the demo installation, starts the program.
# make test : installs what is missing, builds everything, runs every test (CTest summary last).
SHELL := /bin/bash
B := build
CMAKE_GEN := -G Ninja
JOBS ?= $(shell nproc)

.PHONY: all deps native win64 win32 asan i386 run test clean

all: native win64 win32

deps:
	@tools/install-deps.sh

native: deps
	cmake -S . -B $(B)/native $(CMAKE_GEN) -DATUA_WIN64_DIR=$(CURDIR)/$(B)/win64 -DATUA_ASAN_DIR=$(CURDIR)/$(B)/asan -DATUA_I386_DIR=$(CURDIR)/$(B)/i386 >/dev/null
	cmake --build $(B)/native -j $(JOBS)

asan: deps
	cmake -S . -B $(B)/asan $(CMAKE_GEN) -DATUA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(B)/asan -j $(JOBS)

# The engine, the update and their tests as 32-bit Linux programs, run under qemu-i386; its
# fixture tables come from the native tree's make-movimento.
i386: native
	cmake -S . -B $(B)/i386 $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake -DATUA_NATIVE_DIR=$(CURDIR)/$(B)/native >/dev/null
	cmake --build $(B)/i386 -j $(JOBS)

win64: deps
	cmake -S . -B $(B)/win64 $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(B)/win64 -j $(JOBS)

win32: deps
	cmake -S . -B $(B)/win32 $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(B)/win32 -j $(JOBS)

run: native win64
	tools/run-demo.sh

test: native asan i386 win64 win32
	tools/with-display.sh ctest --test-dir $(B)/native --output-on-failure -j $(JOBS)

clean:
	rm -rf $(B)
