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

clean:
	rm -rf build build-asan
