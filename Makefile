# Thin wrapper over CMake: the README's commands.
BUILD ?= build
RELEASE_BUILD ?= build-release
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build demo test bench clean check-tools

all: build

check-tools:
	@command -v cmake >/dev/null || { echo "cmake is missing: apt-get install cmake"; exit 1; }
	@command -v c++ >/dev/null || { echo "a C++ compiler is missing: apt-get install g++"; exit 1; }
	@test -f /usr/src/googletest/CMakeLists.txt || test -f /usr/include/gtest/gtest.h || \
	  { echo "GoogleTest is missing: apt-get install googletest"; exit 1; }

build: check-tools
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: check-tools
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	@sh samples/demo.sh $(RELEASE_BUILD)

# The benchmark (bench/README.md): a Release build of its own, its corpora
# under $(BENCH_BUILD)/corpus, the table and the goals.  Not part of test.
bench:
	@command -v cmake >/dev/null || { echo "cmake is missing: apt-get install cmake"; exit 1; }
	@command -v c++ >/dev/null || { echo "a C++ compiler is missing: apt-get install g++"; exit 1; }
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF -DORVANE_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target chronel segdump glossel sonlift \
	  benchpicture benchcorpus benchfloor benchrun benchexec benchstart
	bash bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD)
