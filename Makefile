# Thin wrapper over CMake: the README's commands.
BUILD ?= build
RELEASE_BUILD ?= build-release
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Each step first makes sure its Debian packages are there (.ci/prereqs
# holds the one list): as root it installs what is missing, otherwise it
# prints the apt-get line that would and stops.
PREREQS = bash .ci/prereqs

.PHONY: all build demo test bench clean

all: build

build:
	@$(PREREQS) build test
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo:
	@$(PREREQS) build
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	@sh samples/demo.sh $(RELEASE_BUILD)

# The benchmark (bench/README.md): a Release build of its own, its corpora
# under $(BENCH_BUILD)/corpus, the table and the goals.  Not part of test.
bench:
	@$(PREREQS) build bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF -DORVANE_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target chronel segdump glossel sonlift \
	  benchpicture benchcorpus benchfloor benchrun benchexec benchstart
	bash bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD)
