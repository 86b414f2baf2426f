# Thin wrapper over CMake: the README's commands.
BUILD ?= build
RELEASE_BUILD ?= build-release
BENCH_BUILD ?= build-bench
DEB_BUILD ?= build-deb
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build demo test bench deb clean check-tools

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
	  benchpicture benchcorpus benchfloor benchrun benchexec
	bash bench/run.sh $(BENCH_BUILD)

# The Debian packages (debian/), built from a copy of the source tree so
# that dpkg-buildpackage's outputs land in $(DEB_BUILD), not beside the
# tree.  DEB_BUILD_OPTIONS=nocheck skips the test suite.
deb:
	@command -v dpkg-buildpackage >/dev/null || { echo "dpkg-buildpackage is missing: apt-get install dpkg-dev debhelper"; exit 1; }
	rm -rf $(DEB_BUILD)
	mkdir -p $(DEB_BUILD)/orvane
	tar -c --exclude='./build*' --exclude=./.git --exclude=./fuzz/corpus-run \
	  --exclude='./$(shell realpath -m --relative-to=. $(DEB_BUILD))' . | tar -x -C $(DEB_BUILD)/orvane
	cd $(DEB_BUILD)/orvane && dpkg-buildpackage -b -us -uc -j$(JOBS) $(if $(filter nocheck,$(DEB_BUILD_OPTIONS)),-Pnocheck)
	rm -rf $(DEB_BUILD)/orvane
	@ls $(DEB_BUILD)/*.deb

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(DEB_BUILD)
