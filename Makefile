# The two commands that do all the set-up: `make demo` and `make test`.
BUILD         ?= build
ASAN_BUILD    ?= build-asan
RELEASE_BUILD ?= build-release
JOBS          ?= 2
DEMO_DIR      ?= $(BUILD)/demo
# Extra CMake options for every configure, e.g. -DKORVEN_WERROR=ON as CI has it.
CMAKE_OPTIONS ?=

.PHONY: all deps deps-package deps-valgrind deps-bench deps-fuzz deps-coverage build demo test test-long \
        test-release test-asan test-valgrind coverage bench fuzz package install clean

all: build

# The Debian packages of tools/debian-packages.txt (the build and the tests),
# installed only when missing; deps-NAME adds tools/debian-packages-NAME.txt,
# the extras of one target (package, valgrind, bench, fuzz).
deps:
	tools/install-packages.sh

deps-package deps-valgrind deps-bench deps-fuzz deps-coverage:
	tools/install-packages.sh --list $(@:deps-%=%)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEN_TESTS=ON -DKORVEN_KIT=ON $(CMAKE_OPTIONS)
	cmake --build $(BUILD) -j $(JOBS)

# Runs the bundled water deck through the console dialogue and shows the
# listing. It needs only the compiler, CMake and korven itself.
demo:
	tools/install-packages.sh cmake g++
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEN_TESTS=OFF -DKORVEN_KIT=OFF $(CMAKE_OPTIONS)
	cmake --build $(BUILD) -j $(JOBS) --target korven
	rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)
	cp examples/water/WATER.DAT $(DEMO_DIR)/
	cd $(DEMO_DIR) && { echo WATER.DAT | ../korven; status=$$?; echo; echo "--- exit status $$status"; }
	@echo "--- $(DEMO_DIR)/WATER.OUT:"
	@tr -d '\r' < $(DEMO_DIR)/WATER.OUT

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The G differential test's long series: 2400 random decks and 10000 lists.
test-long: build
	cd $(BUILD) && KORVEN_LONG_TESTS=1 ctest --output-on-failure -j $(JOBS) -R 'GDifferential|GKernels'

# The whole suite once more as a Release build (-O3), as packagers build it.
test-release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DKORVEN_TESTS=ON $(CMAKE_OPTIONS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	cd $(RELEASE_BUILD) && ctest --output-on-failure -j $(JOBS)

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer:
# a Debug build (its assertions on) at -O1.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVEN_SANITIZE=ON $(CMAKE_OPTIONS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The suite under Valgrind's memcheck, korven's own runs included; the tests
# that expect a floating-point trap are left out (Valgrind delivers none).
test-valgrind: deps-valgrind
	cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=Debug -DKORVEN_VALGRIND=ON $(CMAKE_OPTIONS)
	cmake --build build-valgrind -j $(JOBS)
	cd build-valgrind && ctest --output-on-failure -j $(JOBS) -LE fp_trap

# Line coverage of the workbench (src/kit) by the whole suite, per folder and
# in total, with gcovr; the HTML report lands in build-coverage/coverage/.
coverage: deps-coverage
	cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DKORVEN_COVERAGE=ON -DKORVEN_TESTS=ON -DKORVEN_KIT=ON $(CMAKE_OPTIONS)
	cmake --build build-coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && ctest -j $(JOBS) -E 'SymmetryBuildOf.*c60|Timed|Seconds|Quickly'
	mkdir -p build-coverage/coverage
	gcovr -r . --filter 'src/kit/' --object-directory build-coverage --print-summary \
	  --html-details build-coverage/coverage/index.html --txt build-coverage/coverage/summary.txt
	@grep -E '^(src/kit|TOTAL)' build-coverage/coverage/summary.txt | tail -n 3

bench: deps-bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVEN_BENCH=ON -DKORVEN_TESTS=OFF $(CMAKE_OPTIONS)
	cmake --build build-bench -j $(JOBS)

# A Debian package (korven_<version>_<arch>.deb in $(RELEASE_BUILD)) of
# everything `cmake --install` puts in place, its run-time dependencies
# declared.
package: deps-package
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_OPTIONS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target korven korvenkit
	rm -f $(RELEASE_BUILD)/korven_*.deb
	cd $(RELEASE_BUILD) && cpack -G DEB
	tools/check-package.sh $(RELEASE_BUILD)/korven_*.deb

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) build-valgrind build-bench build-fuzz build-coverage
