# The two commands that do all the set-up: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
DEMO_DIR   ?= $(BUILD)/demo

.PHONY: all deps build demo test test-long test-asan test-valgrind bench fuzz install clean

all: build

# The Debian packages of tools/debian-packages.txt, installed only when missing.
deps:
	tools/install-packages.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# Runs the bundled water deck through the console dialogue and shows the listing.
demo: build
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

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVEN_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The suite under Valgrind's memcheck, korven's own runs included; the tests
# that expect a floating-point trap are left out (Valgrind delivers none).
test-valgrind: deps
	cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=Debug -DKORVEN_VALGRIND=ON
	cmake --build build-valgrind -j $(JOBS)
	cd build-valgrind && ctest --output-on-failure -j $(JOBS) -LE fp_trap

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVEN_BENCH=ON -DKORVEN_TESTS=OFF
	cmake --build build-bench -j $(JOBS)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-valgrind build-bench build-fuzz
