# make run  : installs what is missing, builds, creates the demo installation, starts the program.
# make test : installs what is missing, builds everything, runs every test (CTest summary last).
SHELL := /bin/bash
B := build
CMAKE_GEN := -G Ninja
JOBS ?= $(shell nproc)

.PHONY: all deps native win64 win32 asan run test clean

all: native win64 win32

deps:
	@tools/install-deps.sh

native: deps
	cmake -S . -B $(B)/native $(CMAKE_GEN) -DATUA_WIN64_DIR=$(CURDIR)/$(B)/win64 -DATUA_ASAN_DIR=$(CURDIR)/$(B)/asan >/dev/null
	cmake --build $(B)/native -j $(JOBS)

asan: deps
	cmake -S . -B $(B)/asan $(CMAKE_GEN) -DATUA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(B)/asan -j $(JOBS)

win64: deps
	cmake -S . -B $(B)/win64 $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(B)/win64 -j $(JOBS)

win32: deps
	cmake -S . -B $(B)/win32 $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(B)/win32 -j $(JOBS)

run: native win64
	tools/run-demo.sh

test: native asan win64 win32
	tools/with-display.sh ctest --test-dir $(B)/native --output-on-failure -j $(JOBS)

clean:
	rm -rf $(B)
