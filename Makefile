# Thin wrapper over CMake: the README's commands.
BUILD ?= build
RELEASE_BUILD ?= build-release
BENCH_BUILD ?= build-bench
DEB_BUILD ?= build-deb
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Each step first makes sure its Debian packages are there (.ci/prereqs
# holds the one list): as root it installs what is missing, otherwise it
# prints the apt-get line that would and stops.
PREREQS = bash .ci/prereqs

.PHONY: all build demo test bench deb clean

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
	@BENCH_NODE_PREFIX=$(BENCH_BUILD)/node $(PREREQS) build bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF -DORVANE_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target chronel segdump glossel sonlift \
	  benchpicture benchcorpus benchfloor benchfloorlibs benchstart benchstartlibs
	BENCH_NODE_PREFIX=$(BENCH_BUILD)/node /usr/bin/python3 bench/bench.py $(BENCH_BUILD)

# The Debian packages (debian/), built from a copy of the source tree so
# that dpkg-buildpackage's outputs land in $(DEB_BUILD), not beside the
# tree.  DEB_BUILD_OPTIONS=nocheck skips the test suite.
deb:
	@$(PREREQS) build package
	rm -rf $(DEB_BUILD)
	mkdir -p $(DEB_BUILD)/orvane
	tar -c --exclude='./build*' --exclude=./.git --exclude=./fuzz/corpus-run \
	  --exclude='./$(shell realpath -m --relative-to=. $(DEB_BUILD))' . | tar -x -C $(DEB_BUILD)/orvane
	cd $(DEB_BUILD)/orvane && dpkg-buildpackage -b -us -uc -j$(JOBS) $(if $(filter nocheck,$(DEB_BUILD_OPTIONS)),-Pnocheck)
	rm -rf $(DEB_BUILD)/orvane
	@ls $(DEB_BUILD)/*.deb

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(DEB_BUILD)
