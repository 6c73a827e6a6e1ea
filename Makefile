# Set-up for a newcomer: `make test` builds everything with the sanitizers and runs every test;
# `make demo` builds the optimised run-time and rebuilds a few sample tables with tarven.
.PHONY: all deps test release demo bench clean

all: release

deps:
	@tools/install-deps.sh

test: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

release: deps
	cmake --preset release
	cmake --build --preset release

demo: release
	@tools/demo.sh build/release

bench: release
	@bench/run.sh build/release

clean:
	rm -rf build
