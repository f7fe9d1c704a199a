# The two set-up commands: `make demo` and `make test`. Each installs what is
# missing, configures and builds with CMake, then does its job.
.PHONY: demo test build asan clean

build:
	scripts/setup.sh
	cmake --preset default
	cmake --build --preset default

demo: build
	scripts/demo.sh build

test: build
	ctest --preset default

asan:
	scripts/setup.sh
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Every build folder: build/ for the presets' default and build-* for the
# others (asan, bench, coverage, fuzz, macos), as .gitignore has them.
clean:
	rm -rf build build-*
